#include "window/small_dialogs.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUrlQuery>
#include <QVBoxLayout>

#include "settings/text_table.h"
#include "app/version.h"
#include "formats/registry.h"
#include "settings/settings.h"
#include "window/dialogs.h"
#include "window/commands.h"
#include "window/links.h"

namespace kestrune {

InputChooser::InputChooser(QWidget* parent) : QDialog(parent) {
    setWindowTitle(Text("Dialog", "Select Input Files"));
    auto* file = new QPushButton(Text("Menu", "Select Input File"), this);
    auto* folder = new QPushButton(Text("Menu", "Select Input Folder"), this);
    file->setObjectName(QStringLiteral("chooseFile"));
    folder->setObjectName(QStringLiteral("chooseFolder"));
    file->setDefault(true);
    connect(file, &QPushButton::clicked, this, [this] { done(kCommandSelectInputFile); });
    connect(folder, &QPushButton::clicked, this, [this] { done(kCommandSelectInputFolder); });
    auto* cancel = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    cancel->button(QDialogButtonBox::Cancel)->setText(Text("Dialog", "Cancel"));
    connect(cancel, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(file);
    layout->addWidget(folder);
    layout->addSpacing(8);
    layout->addWidget(cancel);
    // Wide enough for the title bar to show the whole caption.
    setMinimumWidth(fontMetrics().horizontalAdvance(windowTitle()) + 160);
}

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
    setWindowTitle(Text("About", "Title"));
    auto* title = new QLabel(QString::fromUtf8(kProductTitle), this);
    QFont big = title->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.4);
    title->setFont(big);

    const QString web = QString::fromUtf8(kWebAddress);
    const QString mail = QString::fromLatin1(kFeedbackAddress);
    auto* form = new QFormLayout;
    form->addRow(Text("About", "Version"), new QLabel(QString::fromStdString(VersionDisplay(kVersionNumber)), this));
    auto* web_label = new QLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(web.toHtmlEscaped()), this);
    web_label->setOpenExternalLinks(false);
    connect(web_label, &QLabel::linkActivated, this, [this](const QString& link) { OpenWebPage(this, QUrl(link)); });
    form->addRow(Text("About", "Website"), web_label);
    auto* mail_label = new QLabel(QStringLiteral("<a href=\"mailto:%1\">%1</a>").arg(mail.toHtmlEscaped()), this);
    connect(mail_label, &QLabel::linkActivated, this, [this](const QString&) {
        if (!OpenUrl(FeedbackUrl())) ShowNoMailProgram(this);
    });
    form->addRow(Text("About", "Email"), mail_label);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(Text("Dialog", "OK"), QDialogButtonBox::AcceptRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title);
    layout->addLayout(form);
    layout->addWidget(new QLabel(QString::fromUtf8(kCopyrightNotice), this));
    layout->addWidget(buttons);
}

ConverterFinder::ConverterFinder(QWidget* parent) : QDialog(parent) {
    setWindowTitle(Text("Custom-Converter", "Title"));
    from_ = new QComboBox(this);
    to_ = new QComboBox(this);
    from_->setEditable(true);
    to_->setEditable(true);
    for (const auto& ext : InputFormatList()) from_->addItem(QString::fromStdString(ext));
    for (const auto& ext : OutputFormatList()) to_->addItem(QString::fromStdString(ext));
    to_->setCurrentText(QString::fromStdString(settings.output_format));

    auto* form = new QFormLayout;
    form->addRow(Text("Custom-Converter", "From"), from_);
    form->addRow(Text("Custom-Converter", "To"), to_);
    auto* buttons = new QDialogButtonBox(this);
    auto* search = buttons->addButton(Text("Custom-Converter", "Search"), QDialogButtonBox::ActionRole);
    search->setDefault(true);
    connect(search, &QPushButton::clicked, this, &ConverterFinder::Search);
    buttons->addButton(Text("Dialog", "Cancel"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addStretch(1);
    layout->addWidget(buttons);
    setMinimumWidth(fontMetrics().horizontalAdvance(windowTitle()) + 200);
}

void ConverterFinder::Search() {
    const QString from = from_->currentText().trimmed().toLower().remove(QLatin1Char('.'));
    const QString to = to_->currentText().trimmed().toLower().remove(QLatin1Char('.'));
    if (from.isEmpty() || to.isEmpty()) {
        ShowWarning(this, Text("Msg", "Warning"), Text("Msg", "Empty extensions"));
        return;
    }
    const auto& accepted = AcceptedInputExtensions();
    const bool reads = std::find(accepted.begin(), accepted.end(), from.toStdString()) != accepted.end();
    if (reads && IsOutputFormat(to.toStdString())) {
        chosen_ = to;
        accept();
        return;
    }
    QUrl url = HomepageUrl();
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("from"), from);
    query.addQueryItem(QStringLiteral("to"), to);
    url.setQuery(query);
    OpenWebPage(this, url);
}

}  // namespace kestrune

namespace kestrune {

FeedbackWindow::FeedbackWindow(QWidget* parent) : QDialog(parent) {
    setWindowTitle(Text("Uninstall", "Title"));
    auto* intro = new QLabel(Text("Uninstall", "Feedback Text"), this);
    intro->setWordWrap(true);
    text_ = new QPlainTextEdit(this);
    text_->setObjectName(QStringLiteral("feedbackText"));
    auto* link = new QLabel(QStringLiteral("<a href=\"%1\">%2</a>")
                                .arg(QString::fromUtf8(kWebAddress).toHtmlEscaped(),
                                     Text("Uninstall", "Uninstall Text").toHtmlEscaped()),
                            this);
    connect(link, &QLabel::linkActivated, this, [this](const QString& url) { OpenWebPage(this, QUrl(url)); });

    auto* buttons = new QDialogButtonBox(this);
    auto* send = buttons->addButton(Text("Uninstall", "Send"), QDialogButtonBox::ActionRole);
    auto* next = buttons->addButton(Text("Uninstall", "Next"), QDialogButtonBox::AcceptRole);
    next->setDefault(true);
    connect(send, &QPushButton::clicked, this, &FeedbackWindow::Send);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addWidget(text_, 1);
    layout->addWidget(link);
    layout->addWidget(buttons);
    resize(440, 300);
}

bool FeedbackWindow::Send() {
    QUrl url = FeedbackUrl();
    QUrlQuery query(url);
    query.addQueryItem(QStringLiteral("body"), text_->toPlainText());
    url.setQuery(query);
    if (!OpenUrl(url)) {
        ShowNoMailProgram(this);
        return false;
    }
    accept();
    return true;
}

bool OpenWebPage(QWidget* parent, const QUrl& url) {
    if (OpenUrl(url)) return true;
    ShowWarning(parent, Text("Msg", "Warning"),
                QString::fromStdString(FormatText(GetText("Msg", "No web browser"), url.toString().toStdString())));
    return false;
}

void OpenManual(QWidget* parent) {
    const QString manual = FindManual();
    if (manual.isEmpty())
        ShowWarning(parent, Text("Msg", "Error"),
                    QString::fromStdString(FormatText(GetText("Msg", "Unable to open file"), "manual.html")));
    // Without a desktop opener (xdg-open) Qt has nothing to hand the file to.
    else if (!OpenUrl(QUrl::fromLocalFile(manual)))
        ShowWarning(parent, Text("Msg", "Warning"),
                    QString::fromStdString(FormatText(GetText("Msg", "No manual program"), manual.toStdString())));
}

void ShowNoMailProgram(QWidget* parent) {
    ShowWarning(parent, Text("Msg", "Warning"),
                QString::fromStdString(FormatText(GetText("Msg", "No mail program"), kFeedbackAddress)));
}

}  // namespace kestrune
