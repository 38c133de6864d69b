// The main window: the input list, the output folder, the output format, the
// "Convert" button, the menus and the commands they run.
#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <map>
#include <string>
#include <unordered_set>

#include "settings/settings.h"
#include "window/progress_dialog.h"

class QAction;
class QComboBox;
class QGridLayout;
class QLabel;
class QMenu;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace kestrune {

class PreviewPane;
class ResultRows;
struct PreviewRequest;

// The warning a conversion run shows for the first setting CheckSettings
// refuses with this output format: the window's own text where the text
// table has one, else the words the console prints after "Error: ". Empty
// when every setting passes.
QString SettingsWarning(const Settings& s, const std::string& output_format);

class MainWindow : public QMainWindow {
    Q_OBJECT

  public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Runs a command of the menu table (and 5, 6 of the input chooser).
    void RunCommand(int command);

    // The reset of "New": the favourites refilled, the batch state and the
    // input list emptied, the output-folder field cleared, status "Ready".
    void ResetForNew();
    // Sets the output-folder field (and the batch state's output folder).
    void SetOutputFolder(const QString& folder);
    QString OutputFolderText() const;

    // Paths dropped onto the window, in order: folders are imported, files
    // offered to the list. Returns the number of files added.
    int DropPaths(const QStringList& paths);
    // Files handed over by a later copy of the program: the window comes to
    // the front and adds them as a drop, once it is free to.
    void TakeHandedFiles(const QStringList& paths);
    // Imports a folder under a progress dialog; the folder becomes the input
    // folder. Returns the number of files added.
    int ImportFolderPath(const QString& folder);
    // Imports the lines of a list file under a progress dialog.
    int ImportListPath(const QString& path);
    // Writes the listed paths, one per line, under a progress dialog; true
    // when the whole list was written.
    bool ExportListPath(const QString& path);
    // Adds one file with the input-list rule; true when it was added.
    bool AddFile(const QString& path);
    // A row that shows a path without adding it to the input list: the
    // sample names of the screenshot aid.
    void ShowSamplePath(const QString& path);

    // The conversion run (command 14). False when a check failed; otherwise
    // the progress dialog is open and the run goes on.
    bool StartConversion();
    ProgressDialog* ConversionDialog() const { return conversion_; }

    // Stops a running import, export or conversion and waits for its thread
    // (an end by a close signal).
    void StopRunningThread();

    // Window placement into the settings, as the exit stores it.
    void StorePlacement() const;
    // Restores the stored placement; the window is shown maximised when the
    // settings say so.
    void RestorePlacement();

    // Everything a test needs to look at.
    QTreeWidget* InputListView() const { return list_; }
    ResultRows* Results() const { return results_; }
    PreviewPane* Preview() const { return preview_; }
    QComboBox* OutputFolderBox() const { return out_folder_; }
    QComboBox* FormatBox() const { return format_; }
    QPushButton* ConvertButton() const { return convert_; }
    QMenu* ListContextMenu() const { return context_menu_; }
    QAction* ActionFor(int command) const;
    QString StatusText() const;
    QStringList ListedPaths() const;
    bool Busy() const { return busy_; }
    // A conversion thread is running (its dialog may stay after it ended).
    bool ConversionRunning() const { return conversion_ && conversion_->Running(); }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildMenus();
    void BuildControls();
    void BuildInputList(QWidget* central);
    QGridLayout* BuildOutputRows(QWidget* central);
    void FillFormatChoice();
    void FillFavourites();
    void SetStatus(const QString& text);
    void SetBusy(bool busy);
    bool ListHasFocus() const;

    // Rows added to the input list since the view was last filled.
    int SyncListFromInputList();
    // Adds the rows held back during a drop to the view.
    void ShowHeldRows();
    int RunImport(const QString& folder, const QString& list_file);
    void DropHandedFiles();

    void CopySelection();
    void DeleteSelection();
    void SelectAllRows();
    void ShowInputChooser();
    void ChooseInputFiles();
    void ChooseInputFolder();
    void ChooseOutputFolder();
    void ChooseListToImport();
    void ChooseListToExport();
    void OpenPreferences();
    void OpenManual();
    void CheckForNewVersion();
    void ShowAbout();
    void ShowCustomConverter();

    // The settings and run values a preview shows; false during a run.
    bool FillPreviewRequest(PreviewRequest& request) const;
    bool Warn(const char* message_key, const QString& argument = {});
    bool WarnWith(const QString& message);
    void ConversionEnded();
    void ConversionClosed();

    QTreeWidget* list_ = nullptr;
    ResultRows* results_ = nullptr;
    PreviewPane* preview_ = nullptr;
    QComboBox* out_folder_ = nullptr;
    QComboBox* format_ = nullptr;
    QPushButton* convert_ = nullptr;
    QLabel* status_ = nullptr;
    QMenu* context_menu_ = nullptr;
    std::map<int, QAction*> actions_;
    std::unordered_set<std::string> listed_;
    QPointer<ProgressDialog> conversion_;
    int conversion_total_ = 0;
    bool busy_ = false;
    bool import_broken_ = false;  // the user broke the last import
    bool hold_rows_ = false;      // a drop is adding rows
    bool close_when_idle_ = false;  // closed during a run: close once it has stopped
    QStringList handed_;            // files handed over while the window was busy
    QList<QTreeWidgetItem*> held_rows_;
    QElapsedTimer rows_shown_;
};

}  // namespace kestrune
