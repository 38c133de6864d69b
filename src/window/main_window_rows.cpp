// The input list of the main window: imports, drops, the handed-over files
// of a second copy, copying and deleting rows, and the File menu's dialogs
// that fill the list or export it.
#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <atomic>
#include <fstream>
#include <memory>
#include <mutex>

#include "batch/batch_state.h"
#include "batch/input_list.h"
#include "formats/registry.h"
#include "platform/files.h"
#include "platform/temporary_files.h"
#include "settings/text_table.h"
#include "window/commands.h"
#include "window/dialogs.h"
#include "window/main_window.h"
#include "window/main_window_parts.h"
#include "window/progress_dialog.h"
#include "window/preview_pane.h"
#include "window/result_rows.h"
#include "window/small_dialogs.h"

namespace kestrune {
namespace {

// Milliseconds between two batches of rows shown during a drop.
constexpr int kHeldRowsInterval = 100;

// A row of the input list. Long paths are cut in the middle, so the whole
// path is its tooltip.
QTreeWidgetItem* NewRow(const QString& path) {
    auto* row = new QTreeWidgetItem(QStringList{path});
    row->setToolTip(0, path);
    return row;
}

QString TextFileFilter() {
    return Text("Dialog", "Text Files") + QStringLiteral(" (*.txt *.lst);;") + Text("Dialog", "All Files") +
           QStringLiteral(" (*)");
}

}  // namespace

int MainWindow::SyncListFromInputList() {
    ShowHeldRows();  // they came first
    std::vector<std::string> fresh;
    for (const auto& [path, entry] : TheInputList())
        if (entry.added && !listed_.contains(path)) fresh.push_back(path);
    // Rows stand in the order the files were added, which is the order they
    // are converted in (a folder's files by name, before its subfolders).
    QList<QTreeWidgetItem*> rows;
    for (const std::string& path : fresh) {
        listed_.insert(path);
        rows.append(NewRow(FromUtf8(path)));
    }
    list_->addTopLevelItems(rows);
    return static_cast<int>(fresh.size());
}

bool MainWindow::AddFile(const QString& path) {
    const std::string file = Utf8(path);
    // A file picked on its own keeps its place below the input folder when it
    // lies inside it; a file from anywhere else has no subfolder, otherwise
    // its whole folder path would be rebuilt below the output folder.
    const std::string folder = batch_state.input_folder;
    const bool inside = !folder.empty() && file.starts_with(folder);
    if (!inside) batch_state.input_folder.clear();
    const int added = AddInputFile(file);
    batch_state.input_folder = folder;
    if (!added) return false;
    // One keyed step: the new path is the only row to add, so the rest of
    // the list is not looked at (a drop of thousands of files stays linear).
    listed_.insert(file);
    QTreeWidgetItem* row = NewRow(path);
    if (hold_rows_) held_rows_.append(row);
    else list_->addTopLevelItem(row);
    return true;
}

void MainWindow::ShowHeldRows() {
    if (held_rows_.isEmpty()) return;
    list_->addTopLevelItems(held_rows_);
    held_rows_.clear();
    rows_shown_.restart();
}

void MainWindow::ShowSamplePath(const QString& path) { list_->addTopLevelItem(NewRow(path)); }

int MainWindow::RunImport(const QString& folder, const QString& list_file) {
    // A drop that imports a folder stays busy after the import.
    const bool was_busy = busy_;
    SetBusy(true);
    SetStatus(Text("General", "Importing"));
    ProgressDialog dialog(this, ProgressDialog::Kind::Import, 0);
    dialog.TextLine()->setText(folder.isEmpty() ? list_file : folder);
    if (!folder.isEmpty()) {
        batch_state.input_folder = Utf8(WithSlash(folder));
        dialog.RunToEnd(ImportFolder);
    } else {
        batch_state.input_file = Utf8(list_file);
        batch_state.input_folder.clear();
        dialog.RunToEnd(ImportListFile);
    }
    SetBusy(was_busy);
    SyncListFromInputList();
    const int added = dialog.FileCount();
    import_broken_ = dialog.Broken();
    SetStatus(import_broken_ ? Text("Msg", "Import is not complete") : StatusFor("Import complete", added));
    activateWindow();
    list_->setFocus();
    return added;
}

int MainWindow::ImportFolderPath(const QString& folder) { return RunImport(WithSlash(folder), QString()); }

int MainWindow::ImportListPath(const QString& path) { return RunImport(QString(), path); }

int MainWindow::DropPaths(const QStringList& paths) {
    if (busy_) return 0;
    // Events are processed between the paths, so the window stays busy for
    // the whole drop: a command fired meanwhile (Convert above all, whose
    // worker reads the input list) would otherwise run on a list that is
    // still being filled.
    SetBusy(true);
    // The view lays out all its rows again after every change it paints, so
    // rows added one by one between painted events would make a long drop
    // quadratic; they are shown in batches instead, a few times a second.
    hold_rows_ = true;
    rows_shown_.start();
    int added = 0;
    bool broken = false;
    for (const QString& dropped : paths) {
        if (dropped.isEmpty()) continue;
        QString path = dropped;
        if (IsFolder(Utf8(path))) {
            path = WithSlash(path);
            added += ImportFolderPath(path);
            // A broken import ends the whole drop: the user asked to stop.
            if (import_broken_) {
                broken = true;
                break;
            }
        }
        if (AddFile(path)) ++added;
        if (rows_shown_.elapsed() >= kHeldRowsInterval) ShowHeldRows();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
    hold_rows_ = false;
    ShowHeldRows();
    SetBusy(false);
    SetStatus(broken ? Text("Msg", "Import is not complete") : StatusFor("Import complete", added));
    return added;
}

void MainWindow::TakeHandedFiles(const QStringList& paths) {
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    handed_ += paths;
    DropHandedFiles();
}

void MainWindow::DropHandedFiles() {
    if (handed_.isEmpty()) return;
    if (busy_) {
        // A run or an import is going on; the files wait for its end rather
        // than being lost.
        QTimer::singleShot(250, this, &MainWindow::DropHandedFiles);
        return;
    }
    DropPaths(std::exchange(handed_, {}));
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!busy_ && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
    event->acceptProposedAction();
    DropPaths(paths);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        RunCommand(kCommandSelectInputFiles);
        return true;
    }
    // Delete alone removes the selected rows as Ctrl+Del does. It is taken
    // here rather than as a second shortcut of the action, which would take
    // the key from the output-folder field as well.
    if (watched == list_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::NoModifier) {
            RunCommand(kCommandDelete);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::CopySelection() {
    QList<QTreeWidgetItem*> items = list_->selectedItems();
    if (items.isEmpty()) return;
    std::sort(items.begin(), items.end(), [this](QTreeWidgetItem* a, QTreeWidgetItem* b) {
        return list_->indexOfTopLevelItem(a) < list_->indexOfTopLevelItem(b);
    });
    QString text;
    for (QTreeWidgetItem* item : items) text += results_->RowText(item) + QStringLiteral("\r\n");
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r'))) text.chop(1);
    QApplication::clipboard()->setText(text);
}

void MainWindow::DeleteSelection() {
    std::vector<int> rows;
    for (QTreeWidgetItem* item : list_->selectedItems()) rows.push_back(list_->indexOfTopLevelItem(item));
    if (rows.empty()) return;
    std::sort(rows.begin(), rows.end());
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        std::unique_ptr<QTreeWidgetItem> item(list_->takeTopLevelItem(*it));
        const std::string path = Utf8(item->text(0));
        TheInputList().erase(path);
        listed_.erase(path);
    }
    const int count = list_->topLevelItemCount();
    if (count == 0) {
        // "Import complete, new files added: 5000" would speak of rows that
        // are gone.
        SetStatus(Text("General", "Ready"));
        return;
    }
    // The row that moved into the place of the last removed one, or the new
    // last row when the removed one was last.
    const int next = std::min(rows.back() - static_cast<int>(rows.size() - 1), count - 1);
    list_->clearSelection();
    list_->setCurrentItem(list_->topLevelItem(next));
    list_->topLevelItem(next)->setSelected(true);
}

void MainWindow::SelectAllRows() { list_->selectAll(); }

// ---- dialogs of the File menu ----

void MainWindow::ShowInputChooser() {
    InputChooser chooser(this);
    const int picked = chooser.exec();
    if (picked == kCommandSelectInputFile || picked == kCommandSelectInputFolder) RunCommand(picked);
}

void MainWindow::ChooseInputFiles() {
    QStringList patterns;
    for (const std::string& ext : AcceptedInputExtensions()) patterns << QStringLiteral("*.") + FromUtf8(ext);
    const QString filter = Text("Dialog", "All Supported Files") + QStringLiteral(" (") +
                           patterns.join(QLatin1Char(' ')) + QStringLiteral(");;") + Text("Dialog", "All Files") +
                           QStringLiteral(" (*)");
    const QStringList files =
        QFileDialog::getOpenFileNames(this, Text("Dialog", "Select Input Files"), QString(), filter);
    if (files.isEmpty()) return;
    int added = 0;
    for (const QString& f : files) added += AddFile(f) ? 1 : 0;
    SetStatus(StatusFor("Import complete", added));
}

void MainWindow::ChooseInputFolder() {
    const QString folder = QFileDialog::getExistingDirectory(this, Text("Dialog", "Select Input Folder"),
                                                             FromUtf8(batch_state.input_folder));
    if (!folder.isEmpty()) ImportFolderPath(folder);
}

void MainWindow::ChooseOutputFolder() {
    const QString folder =
        QFileDialog::getExistingDirectory(this, Text("Dialog", "Select Output Folder"), OutputFolderText());
    if (!folder.isEmpty()) SetOutputFolder(WithSlash(folder));
}

void MainWindow::ChooseListToImport() {
    const QString path = QFileDialog::getOpenFileName(this, Text("Dialog", "Import Input Files"),
                                                      QStringLiteral("list.txt"), TextFileFilter());
    if (!path.isEmpty()) ImportListPath(path);
}

void MainWindow::ChooseListToExport() {
    if (list_->topLevelItemCount() == 0) {
        ShowWarning(this, Text("Msg", "Warning"), Text("Msg", "Empty input files"));
        return;
    }
    std::string folder = batch_state.input_folder;
    if (folder.empty()) folder = FolderPart(batch_state.input_file);
    if (folder.empty()) folder = FolderPart(Utf8(list_->topLevelItem(0)->text(0)));
    QString path = QFileDialog::getSaveFileName(this, Text("Dialog", "Export Input Files"),
                                                FromUtf8(folder) + QStringLiteral("list.txt"), TextFileFilter(),
                                                nullptr, QFileDialog::DontConfirmOverwrite);
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".txt");
    if (QFileInfo::exists(path) &&
        !AskQuestion(this, Text("Dialog", "Export Input Files"), Text("Msg", "Ask overwrite file")))
        return;
    ExportListPath(path);
}

bool MainWindow::ExportListPath(const QString& path) {
    std::vector<std::string> rows;
    for (const QString& p : ListedPaths()) rows.push_back(Utf8(p));
    // The list goes to a temporary file beside the target, which replaces the
    // target only when every line was written: a broken export or a full
    // disk never leaves a cut-off list in place of the file the user had.
    const std::string target = Utf8(path);
    const std::string temporary = CreateTemporaryBeside(target);
    auto written_ok = std::make_shared<std::atomic<bool>>(false);
    if (temporary.empty()) {
        SetStatus(Text("Msg", "Export is not complete"));
        ShowWarning(this, Text("Msg", "Error"), FromUtf8(FormatText(GetText("Msg", "Unable to save file"), target)));
        return false;
    }

    SetBusy(true);
    ProgressDialog dialog(this, ProgressDialog::Kind::Export, static_cast<int>(rows.size()));
    dialog.TextLine()->setText(path);
    dialog.RunToEnd([rows, temporary, written_ok] {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        int written = 0;
        for (const std::string& row : rows) {
            if (!batch_progress.keep_running || !out) break;
            out << row << '\n';
            ++written;
            std::lock_guard lock(batch_lock);
            batch_progress.taken = written;
            batch_progress.current_path = row;
        }
        out.close();
        *written_ok = written == static_cast<int>(rows.size()) && !out.fail();
        std::lock_guard lock(batch_lock);
        batch_progress.file_count = written;
    });
    SetBusy(false);
    activateWindow();

    if (dialog.Broken()) {
        DiscardTemporaryFile(temporary);
        SetStatus(Text("Msg", "Export is not complete"));
        return false;
    }
    if (!*written_ok || !PublishTemporaryFile(temporary, target)) {
        DiscardTemporaryFile(temporary);
        SetStatus(Text("Msg", "Export is not complete"));
        ShowWarning(this, Text("Msg", "Error"), FromUtf8(FormatText(GetText("Msg", "Unable to save file"), target)));
        return false;
    }
    SetStatus(StatusFor("Export complete", dialog.FileCount()));
    return true;
}

}  // namespace kestrune
