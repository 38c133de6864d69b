// The dialog that watches the one background thread of the window mode (a
// folder or list import, an export of the list, or a conversion run) and
// lets the user break it.
//
// The thread shares batch_progress with this dialog under batch_lock. The
// dialog reads it on a 15 ms timer rather than being signalled, so the
// threads stay plain procedures that know nothing of Qt.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <atomic>
#include <functional>
#include <thread>

class QLabel;
class QProgressBar;
class QPushButton;

namespace kestrune {

class ProgressDialog : public QDialog {
    Q_OBJECT

  public:
    enum class Kind { Import, Export, Convert };

    // `total` is the length of the bar; 0 shows a busy bar.
    ProgressDialog(QWidget* parent, Kind kind, int total);
    ~ProgressDialog() override;

    // Resets batch_progress (keep running on) and runs `procedure` on its own
    // thread. Import and export dialogs close themselves when it ends; the
    // conversion dialog then waits for "OK".
    void Start(std::function<void()> procedure);
    // Start, then wait in a local event loop until the dialog has closed.
    void RunToEnd(std::function<void()> procedure);

    bool Running() const { return thread_.joinable(); }
    bool Ended() const { return ended_; }
    // The user answered yes to the break question while the thread ran.
    bool Broken() const { return broken_; }
    // batch_progress after the thread: taken count and file count.
    int Taken() const { return taken_; }
    int FileCount() const { return file_count_; }

    // Shows the closing texts of a conversion: caption, text line and "OK",
    // and the button that opens the output folder.
    void ShowConversionResult(const QString& caption, const QString& line);
    // The folder the conversion writes to, opened by the button at its end.
    void SetOutputFolder(const QString& folder) { output_folder_ = folder; }

    QLabel* TextLine() const { return line_; }
    // Frames finished and the time left, while a conversion runs.
    QLabel* DetailLine() const { return detail_; }
    QPushButton* StopButton() const { return stop_; }
    QPushButton* OpenFolderButton() const { return open_folder_; }
    QProgressBar* Bar() const { return bar_; }
    QPushButton* OkButton() const { return ok_; }

  signals:
    // The thread has ended (emitted once, before an import or export dialog
    // closes itself).
    void ThreadEnded();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

  private:
    void Poll();
    void AskToBreak();
    QString ProgressCaption(int taken) const;
    void ShowCurrentPath(const QString& path);
    void ShowFinished(int files, int frames);

    Kind kind_;
    int total_;
    QLabel* line_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* ok_ = nullptr;
    QLabel* detail_ = nullptr;
    QPushButton* stop_ = nullptr;
    QPushButton* open_folder_ = nullptr;
    QString output_folder_;
    QElapsedTimer clock_;
    int finished_ = 0;
    int frames_finished_ = -1;
    QTimer timer_;
    std::thread thread_;
    std::atomic<bool> ended_{false};
    bool broken_ = false;
    bool asking_ = false;
    int taken_ = 0;
    int file_count_ = 0;
    QString current_path_;
};

}  // namespace kestrune
