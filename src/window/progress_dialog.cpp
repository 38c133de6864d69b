#include "window/progress_dialog.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <mutex>

#include "settings/text_table.h"
#include "batch/batch_state.h"
#include "window/dialogs.h"
#include "window/links.h"

namespace kestrune {
namespace {

constexpr int kPollMilliseconds = 15;

const char* CaptionKey(ProgressDialog::Kind kind) {
    switch (kind) {
        case ProgressDialog::Kind::Import: return "Import Progress";
        case ProgressDialog::Kind::Export: return "Export Progress";
        case ProgressDialog::Kind::Convert: break;
    }
    return "Convert Progress";
}

const char* BreakQuestionKey(ProgressDialog::Kind kind) {
    switch (kind) {
        case ProgressDialog::Kind::Import: return "Ask break import";
        case ProgressDialog::Kind::Export: return "Ask break export";
        case ProgressDialog::Kind::Convert: break;
    }
    return "Ask break conversion";
}

}  // namespace

ProgressDialog::ProgressDialog(QWidget* parent, Kind kind, int total)
    : QDialog(parent), kind_(kind), total_(total) {
    setWindowTitle(Text("Dialog", CaptionKey(kind)));
    setModal(true);
    line_ = new QLabel(this);
    line_->setTextFormat(Qt::PlainText);
    line_->setMinimumWidth(260);
    bar_ = new QProgressBar(this);
    bar_->setRange(0, total > 0 ? total : 0);
    bar_->setValue(0);
    bar_->setTextVisible(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    if (kind == Kind::Convert) {
        // Stopping asks the same question as closing the dialog.
        stop_ = new QPushButton(QStringLiteral("Stop"), this);
        stop_->setObjectName(QStringLiteral("stopButton"));
        connect(stop_, &QPushButton::clicked, this, &ProgressDialog::AskToBreak);
        buttons->addWidget(stop_);
        open_folder_ = new QPushButton(QStringLiteral("Open Output Folder"), this);
        open_folder_->setObjectName(QStringLiteral("openFolderButton"));
        open_folder_->setVisible(false);
        connect(open_folder_, &QPushButton::clicked, this,
                [this] { OpenUrl(QUrl::fromLocalFile(output_folder_)); });
        buttons->addWidget(open_folder_);
        ok_ = new QPushButton(Text("Dialog", "OK"), this);
        ok_->setEnabled(false);
        connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
        buttons->addWidget(ok_);
    } else {
        // An import or export has nothing to confirm at its end; the button
        // offers the same break question as closing the window.
        auto* cancel = new QPushButton(Text("Dialog", "Cancel"), this);
        connect(cancel, &QPushButton::clicked, this, &ProgressDialog::AskToBreak);
        buttons->addWidget(cancel);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(line_);
    if (kind == Kind::Convert) {
        detail_ = new QLabel(this);
        detail_->setTextFormat(Qt::PlainText);
        layout->addWidget(detail_);
    }
    layout->addWidget(bar_);
    layout->addLayout(buttons);
    // A fixed size that the longest caption fits, with room for the title
    // bar's buttons: "Conversion stopped (8888/8888)" is never cut, and the
    // dialog does not jump as the counts grow.
    const QString widest = Text("Msg", "Conversion is not complete") + QLatin1Char(' ') +
                           QString::fromStdString(FormatText(GetText("Msg", "Progress"), "8888", "8888"));
    const int width = std::max(300, fontMetrics().horizontalAdvance(widest) + 150);
    setFixedSize(width, std::max(kind == Kind::Convert ? 130 : 110, sizeHint().height()));

    timer_.setInterval(kPollMilliseconds);
    connect(&timer_, &QTimer::timeout, this, &ProgressDialog::Poll);
}

ProgressDialog::~ProgressDialog() {
    // Never leave a thread running behind a destroyed dialog: ask it to stop
    // and wait for its current file.
    if (thread_.joinable()) {
        {
            std::lock_guard lock(batch_lock);
            batch_progress.keep_running = 0;
        }
        pause_gate.Open();
        thread_.join();
    }
}

void ProgressDialog::Start(std::function<void()> procedure) {
    {
        std::lock_guard lock(batch_lock);
        batch_progress.taken = 0;
        batch_progress.current_path.clear();
        batch_progress.file_count = 0;
        batch_progress.keep_running = 1;
    }
    ended_ = false;
    broken_ = false;
    taken_ = 0;
    file_count_ = 0;
    finished_ = 0;
    frames_finished_ = -1;
    clock_.start();
    if (kind_ == Kind::Convert) ShowFinished(0, 0);
    thread_ = std::thread([this, procedure = std::move(procedure)] {
        procedure();
        ended_ = true;
    });
    timer_.start();
    show();
}

void ProgressDialog::RunToEnd(std::function<void()> procedure) {
    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    Start(std::move(procedure));
    if (isVisible()) loop.exec();
}

QString ProgressDialog::ProgressCaption(int taken) const {
    QString caption = Text("Dialog", CaptionKey(kind_));
    if (total_ > 0)
        caption += QLatin1Char(' ') +
                   QString::fromStdString(FormatText(GetText("Msg", "Progress"), std::to_string(taken),
                                                     std::to_string(total_)));
    return caption;
}

void ProgressDialog::ShowCurrentPath(const QString& path) {
    current_path_ = path;
    line_->setText(ShortenToWidth(path, line_->fontMetrics(), line_->width()));
}

// Files and frames finished, and once a file has taken a while, the time
// the rest should take at the pace so far.
void ProgressDialog::ShowFinished(int files, int frames) {
    QString text = QStringLiteral("Frames finished: ") + QString::number(frames);
    const qint64 elapsed = clock_.elapsed();
    if (files > 0 && total_ > files && elapsed >= 1000) {
        const qint64 left = elapsed * (total_ - files) / files / 1000;
        text += QStringLiteral(", about ") +
                (left < 60 ? QString::number(std::max<qint64>(left, 1)) + QStringLiteral(" s")
                           : QString::number((left + 59) / 60) + QStringLiteral(" min")) +
                QStringLiteral(" left");
    }
    detail_->setText(text);
}

void ProgressDialog::Poll() {
    int taken = 0;
    int finished = 0;
    int frames = 0;
    std::string path;
    {
        std::lock_guard lock(batch_lock);
        taken = batch_progress.taken;
        finished = batch_progress.finished;
        frames = batch_progress.frames_finished;
        path = batch_progress.current_path;
    }
    if (taken > taken_) {
        taken_ = taken;
        if (!path.empty()) ShowCurrentPath(QString::fromStdString(path));
        if (kind_ != Kind::Convert) {
            setWindowTitle(ProgressCaption(taken));
            if (total_ > 0) bar_->setValue(std::min(taken, total_));
        }
    }
    // A conversion counts the files it has finished, not the ones started.
    if (kind_ == Kind::Convert && (finished != finished_ || frames != frames_finished_ || !ended_)) {
        if (finished != finished_) {
            finished_ = finished;
            setWindowTitle(ProgressCaption(finished));
            if (total_ > 0) bar_->setValue(std::min(finished, total_));
        }
        frames_finished_ = frames;
        ShowFinished(finished, frames);
    }
    if (!ended_ || !thread_.joinable()) return;

    thread_.join();
    timer_.stop();
    {
        std::lock_guard lock(batch_lock);
        taken_ = batch_progress.taken;
        file_count_ = batch_progress.file_count;
        if (kind_ == Kind::Convert) {
            finished_ = batch_progress.finished;
            frames_finished_ = batch_progress.frames_finished;
        }
    }
    if (total_ > 0) bar_->setValue(std::min(kind_ == Kind::Convert ? finished_ : taken_, total_));
    if (stop_) stop_->setVisible(false);
    emit ThreadEnded();
    // While the break question is open the dialog stays; it closes when the
    // question has been answered.
    if (kind_ != Kind::Convert && !asking_) accept();
}

void ProgressDialog::AskToBreak() {
    if (asking_ || !thread_.joinable()) return;
    asking_ = true;
    // The worker waits at the gate before its next file or frame, so nothing
    // new starts while the user reads the question.
    pause_gate.Close();
    const bool yes = AskQuestion(this, Text("Dialog", CaptionKey(kind_)), Text("Msg", BreakQuestionKey(kind_)));
    if (yes && !ended_) {
        std::lock_guard lock(batch_lock);
        batch_progress.keep_running = 0;
        broken_ = true;
    }
    pause_gate.Open();
    asking_ = false;
    if (kind_ != Kind::Convert && !thread_.joinable() && ended_) accept();
}

void ProgressDialog::ShowConversionResult(const QString& caption, const QString& line) {
    setWindowTitle(caption);
    line_->setText(line);
    if (detail_) detail_->setText(QStringLiteral("Frames finished: ") + QString::number(std::max(frames_finished_, 0)));
    if (open_folder_ && !output_folder_.isEmpty()) open_folder_->setVisible(true);
    if (ok_) {
        ok_->setEnabled(true);
        ok_->setFocus();
    }
}

void ProgressDialog::closeEvent(QCloseEvent* event) {
    if (thread_.joinable()) {
        event->ignore();
        AskToBreak();
        return;
    }
    QDialog::closeEvent(event);
}

void ProgressDialog::reject() {
    if (thread_.joinable()) {
        AskToBreak();
        return;
    }
    QDialog::reject();
}

}  // namespace kestrune
