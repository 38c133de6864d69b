#include "window/dialogs.h"

#include <QFontMetrics>
#include <QMessageBox>
#include <QPushButton>

#include "settings/text_table.h"

namespace kestrune {
namespace {

QuestionFunction& QuestionHook() {
    static QuestionFunction f;
    return f;
}

WarningFunction& WarningHook() {
    static WarningFunction f;
    return f;
}

}  // namespace

QString Text(const char* group, const char* key) { return QString::fromStdString(GetText(group, key)); }

bool AskQuestion(QWidget* parent, const QString& caption, const QString& text) {
    if (QuestionHook()) return QuestionHook()(parent, caption, text);
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void ShowWarning(QWidget* parent, const QString& caption, const QString& text) {
    if (WarningHook()) {
        WarningHook()(parent, caption, text);
        return;
    }
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, parent);
    box.button(QMessageBox::Ok)->setText(Text("Dialog", "OK"));
    box.exec();
}

void SetQuestionFunction(QuestionFunction f) { QuestionHook() = std::move(f); }
void SetWarningFunction(WarningFunction f) { WarningHook() = std::move(f); }

QString ShortenToWidth(const QString& text, const QFontMetrics& metrics, int width) {
    if (metrics.horizontalAdvance(text) <= width) return text;
    // Keep both ends of a path: the folder it starts in and the file name
    // are what tell files apart.
    const QString dots = QStringLiteral("...");
    int keep = static_cast<int>(text.size());
    while (keep > 0) {
        --keep;
        const int head = keep / 2;
        const int tail = keep - head;
        const QString candidate = text.left(head) + dots + text.right(tail);
        if (metrics.horizontalAdvance(candidate) <= width) return candidate;
    }
    return dots;
}

QString WithoutMnemonic(const QString& caption) {
    QString plain;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&') && i + 1 < caption.size()) ++i;
        plain += caption[i];
    }
    return plain;
}

}  // namespace kestrune
