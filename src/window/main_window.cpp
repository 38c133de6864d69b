#include "window/main_window.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QCompleter>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QCheckBox>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <utility>

#include "settings/text_table.h"
#include "app/version.h"
#include "batch/batch_state.h"
#include "batch/input_list.h"
#include "batch/naming.h"
#include "batch/run_checks.h"
#include "batch/worker.h"
#include "formats/registry.h"
#include "formats/saving.h"
#include "imaging/watermark.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/temporary_files.h"
#include "settings/preferences.h"
#include "settings/settings.h"
#include "window/commands.h"
#include "window/dialogs.h"
#include "window/links.h"
#include "window/output_folders.h"
#include "window/preferences_dialog.h"
#include "window/progress_dialog.h"
#include "window/preview_pane.h"
#include "window/result_rows.h"
#include "window/small_dialogs.h"
#include "window/toolbar.h"

namespace kestrune {
namespace {

constexpr int kMinimumWidth = 510;
constexpr int kMinimumHeight = 330;
constexpr int kFilenameColumnWidth = 290;
// Milliseconds between two batches of rows shown during a drop.
constexpr int kHeldRowsInterval = 100;

std::string Utf8(const QString& s) { return s.toStdString(); }
QString FromUtf8(const std::string& s) { return QString::fromStdString(s); }

QString WithSlash(QString folder) {
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    return folder;
}

QString TextFileFilter() {
    return Text("Dialog", "Text Files") + QStringLiteral(" (*.txt *.lst);;") + Text("Dialog", "All Files") +
           QStringLiteral(" (*)");
}

// A row of the input list. Long paths are cut in the middle, so the whole
// path is its tooltip.
QTreeWidgetItem* NewRow(const QString& path) {
    auto* row = new QTreeWidgetItem(QStringList{path});
    row->setToolTip(0, path);
    return row;
}

QString StatusFor(const char* key, int count) {
    return FromUtf8(FormatText(GetText("Msg", key), std::to_string(count)));
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(FromUtf8(TitleWithVersion()));
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    setAcceptDrops(true);
    BuildControls();
    BuildMenus();
    FillFormatChoice();
    BuildToolBar(this);
    InstallWindowKeys(this);
}

MainWindow::~MainWindow() = default;

void MainWindow::BuildControls() {
    auto* central = new QWidget(this);
    list_ = new QTreeWidget(central);
    list_->setObjectName(QStringLiteral("inputList"));
    list_->setColumnCount(1);
    list_->setHeaderLabels({Text("General", "Filename")});
    // 290 pixels at the least; the column grows with the window so that long
    // paths stay readable.
    list_->header()->setMinimumSectionSize(kFilenameColumnWidth);
    list_->setColumnWidth(0, kFilenameColumnWidth);
    list_->setRootIsDecorated(false);
    // Files deep in one folder differ at the end of their paths: the middle
    // goes, so the file names stay in sight.
    list_->setTextElideMode(Qt::ElideMiddle);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_->viewport()->installEventFilter(this);
    list_->installEventFilter(this);
    connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        // The menu only offers something when there is a selection to act on.
        if (list_->selectedItems().isEmpty()) return;
        context_menu_->popup(list_->viewport()->mapToGlobal(pos));
    });

    out_folder_ = new QComboBox(central);
    out_folder_->setObjectName(QStringLiteral("outputFolder"));
    out_folder_->setEditable(true);
    out_folder_->setInsertPolicy(QComboBox::NoInsert);
    out_folder_->setMaxCount(kMaxOutFolders + 1);
    out_folder_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    out_folder_->setMinimumContentsLength(20);
    // The folder a run writes into is exactly the text typed: the favourites
    // are offered in a list below the field, never completed into it, where
    // typing "/x/out" would silently become "/x/out2".
    auto* suggestions = new QCompleter(out_folder_->model(), out_folder_);
    suggestions->setCompletionMode(QCompleter::PopupCompletion);
    suggestions->setCaseSensitivity(Qt::CaseSensitive);
    out_folder_->setCompleter(suggestions);
    connect(out_folder_, &QComboBox::editTextChanged, this,
            [](const QString& text) { batch_state.output_folder = Utf8(text); });

    auto* browse = new QToolButton(central);
    browse->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    browse->setToolTip(WithoutMnemonic(Text("Menu", "Select Output Folder")));
    // The folder button fills its column, so it lines up with "Convert".
    browse->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    browse->setMinimumHeight(out_folder_->sizeHint().height());
    connect(browse, &QToolButton::clicked, this, [this] { RunCommand(kCommandSelectOutputFolder); });

    format_ = new QComboBox(central);
    format_->setObjectName(QStringLiteral("outputFormat"));
    connect(format_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) settings.output_format = Utf8(format_->itemData(index).toString());
    });

    convert_ = new QPushButton(Text("General", "Convert"), central);
    convert_->setObjectName(QStringLiteral("convertButton"));
    convert_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    connect(convert_, &QPushButton::clicked, this, [this] { RunCommand(kCommandConvert); });

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(Text("General", "Output Folder"), central), 0, 0);
    grid->addWidget(out_folder_, 0, 1);
    grid->addWidget(browse, 0, 2);
    grid->addWidget(new QLabel(Text("General", "Output Format"), central), 1, 0);
    grid->addWidget(format_, 1, 1);
    grid->addWidget(convert_, 1, 2);
    grid->setColumnStretch(1, 1);

    auto* layout = new QVBoxLayout(central);
    layout->addWidget(new QLabel(Text("General", "Input Files"), central));
    // The list (with its results) beside the preview of its current file.
    auto* split = new QSplitter(central);
    auto* left = new QWidget(split);
    auto* left_layout = new QVBoxLayout(left);
    left_layout->setContentsMargins(0, 0, 0, 0);
    left_layout->addWidget(list_, 1);
    results_ = new ResultRows(list_);
    left_layout->addWidget(results_->FailuresOnly());
    left_layout->addWidget(results_->DetailLine());
    preview_ = new PreviewPane(split, [this](PreviewRequest& request) { return FillPreviewRequest(request); });
    split->addWidget(left);
    split->addWidget(preview_);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    connect(list_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* row) {
        const std::string path = row ? Utf8(row->text(0)) : std::string();
        const bool listed = row && TheInputList().contains(path);
        preview_->SetInput(listed ? row->text(0) : QString(),
                           listed ? FromUtf8(TheInputList().at(path).subfolder) : QString());
    });
    layout->addWidget(split, 1);
    layout->addLayout(grid);
    setCentralWidget(central);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("statusText"));
    statusBar()->addWidget(status_, 1);
}

void MainWindow::BuildMenus() {
    // Built whole each time, so a new set of texts replaces every caption.
    menuBar()->clear();
    for (auto& [command, action] : actions_) delete action;
    actions_.clear();
    delete context_menu_;

    std::map<std::string, QMenu*> menus;
    for (const MenuEntry& entry : MenuTable()) {
        QMenu*& menu = menus[entry.menu];
        if (!menu) menu = menuBar()->addMenu(Text("Menu", entry.menu));
        auto* action = new QAction(Text("Menu", entry.caption_key), this);
        if (entry.shortcut) action->setShortcut(QKeySequence(QString::fromLatin1(entry.shortcut)));
        const int command = entry.command;
        connect(action, &QAction::triggered, this, [this, command] { RunCommand(command); });
        menu->addAction(action);
        if (entry.separator_after) menu->addSeparator();
        actions_[command] = action;
    }

    context_menu_ = new QMenu(this);
    context_menu_->addAction(actions_[kCommandCopy]);
    context_menu_->addAction(actions_[kCommandDelete]);
    context_menu_->addSeparator();
    context_menu_->addAction(actions_[kCommandSelectAll]);
}

void MainWindow::FillFormatChoice() {
    const QSignalBlocker block(format_);
    format_->clear();
    for (const std::string& id : OutputFormatList()) {
        const QString caption = FromUtf8(id).toUpper() + QStringLiteral(" (") + FromUtf8(DescriptionOf(id)) +
                                QLatin1Char(')');
        format_->addItem(caption, FromUtf8(id));
    }
    int index = format_->findData(FromUtf8(settings.output_format));
    if (index < 0) {
        // A stored format that no longer exists falls back to the default.
        index = 0;
        if (!OutputFormatList().empty()) settings.output_format = OutputFormatList().front();
    }
    format_->setCurrentIndex(index);
}

void MainWindow::FillFavourites() {
    const QString current = out_folder_->currentText();
    const QSignalBlocker block(out_folder_);
    out_folder_->clear();
    for (const std::string& folder : SplitOutFolders(settings.recent_out_folders))
        out_folder_->addItem(FromUtf8(folder));
    const int index = out_folder_->findText(current);
    if (index >= 0) out_folder_->setCurrentIndex(index);
    out_folder_->setEditText(current);
}

QAction* MainWindow::ActionFor(int command) const {
    const auto it = actions_.find(command);
    return it == actions_.end() ? nullptr : it->second;
}

QString MainWindow::StatusText() const { return status_->text(); }

void MainWindow::SetStatus(const QString& text) { status_->setText(text); }

QStringList MainWindow::ListedPaths() const {
    QStringList paths;
    for (int i = 0; i < list_->topLevelItemCount(); ++i) paths << list_->topLevelItem(i)->text(0);
    return paths;
}

void MainWindow::SetBusy(bool busy) {
    busy_ = busy;
    centralWidget()->setEnabled(!busy);
    menuBar()->setEnabled(!busy);
    for (auto& [command, action] : actions_) action->setEnabled(!busy);
    if (!busy && close_when_idle_) {
        close_when_idle_ = false;
        // After the caller has finished with the ended run, not inside it.
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

bool MainWindow::ListHasFocus() const { return focusWidget() == list_; }

void MainWindow::SetOutputFolder(const QString& folder) {
    out_folder_->setEditText(folder);
    batch_state.output_folder = Utf8(folder);
}

QString MainWindow::OutputFolderText() const { return out_folder_->currentText(); }

void MainWindow::ResetForNew() {
    FillFavourites();
    const std::string program_folder = batch_state.program_folder;
    batch_state = BatchState{};
    batch_state.program_folder = program_folder;
    ResetNaming(batch_state);
    TheInputList().clear();
    listed_.clear();
    list_->clear();
    results_->Forget();
    SetOutputFolder(QString());
    SetStatus(Text("General", "Ready"));
    list_->setFocus();
}

void MainWindow::RunCommand(int command) {
    if (busy_) return;
    switch (command) {
        case kCommandNew: ResetForNew(); break;
        case kCommandExit: close(); break;
        case kCommandSelectInputFiles: ShowInputChooser(); break;
        case kCommandSelectInputFile: ChooseInputFiles(); break;
        case kCommandSelectInputFolder: ChooseInputFolder(); break;
        case kCommandSelectOutputFolder: ChooseOutputFolder(); break;
        case kCommandImportInputFiles: ChooseListToImport(); break;
        case kCommandExportInputFiles: ChooseListToExport(); break;
        case kCommandCopy:
            if (ListHasFocus()) CopySelection();
            break;
        case kCommandDelete:
            if (ListHasFocus()) DeleteSelection();
            break;
        case kCommandSelectAll:
            if (ListHasFocus()) SelectAllRows();
            break;
        case kCommandConvert: StartConversion(); break;
        case kCommandCustomConverter: ShowCustomConverter(); break;
        case kCommandPreferences: OpenPreferences(); break;
        case kCommandManual: OpenManual(); break;
        case kCommandSendFeedback:
            if (!OpenUrl(FeedbackUrl())) ShowNoMailProgram(this);
            break;
        case kCommandVisitHomepage: OpenWebPage(this, HomepageUrl()); break;
        case kCommandCheckForNewVersion: CheckForNewVersion(); break;
        case kCommandAbout: ShowAbout(); break;
        default: break;
    }
}

// ---- the input list ----

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

// ---- the conversion run ----

QString SettingsWarning(const Settings& s, const std::string& output_format) {
    const SettingKey* failed = CheckSettings(s, output_format);
    if (!failed) return {};
    return failed->check.window_key ? Text("Msg", failed->check.window_key) : FromUtf8(failed->check.message);
}

bool MainWindow::Warn(const char* message_key, const QString& argument) {
    QString message = Text("Msg", message_key);
    if (!argument.isEmpty()) message = FromUtf8(FormatText(Utf8(message), Utf8(argument)));
    return WarnWith(message);
}

bool MainWindow::WarnWith(const QString& message) {
    SetStatus(Text("Msg", "Conversion is not complete"));
    ShowWarning(this, Text("Msg", "Warning"), message);
    return false;
}

bool MainWindow::StartConversion() {
    if (busy_) return false;
    SetStatus(Text("General", "Preparing"));
    if (list_->topLevelItemCount() == 0 || TheInputList().empty()) return Warn("Empty input files");
    const QString field = OutputFolderText();
    if (field.isEmpty()) return Warn("Empty output folder");
    std::string folder;
    if (CheckFolder(Utf8(field), ProgramFolder(), folder) != FolderProblem::kNone)
        return Warn("Invalid output folder", field);
    if (const QString warning = SettingsWarning(settings, settings.output_format); !warning.isEmpty())
        return WarnWith(warning);
    switch (CheckWatermarkSource(settings)) {
        case WatermarkProblem::kFont: return Warn("Invalid watermark font", FromUtf8(settings.font));
        case WatermarkProblem::kNoImage: return Warn("Empty watermark image");
        case WatermarkProblem::kImage: return Warn("Invalid watermark image", FromUtf8(settings.image));
        case WatermarkProblem::kNone: break;
    }

    batch_state.output_folder = folder;
    if (!InputFormatList().empty()) batch_state.input_format = InputFormatList().front();
    if (!IsOutputFormat(settings.output_format) && !OutputFormatList().empty())
        settings.output_format = OutputFormatList().front();
    batch_state.conversion = settings.output_format;
    PrepareOutputFormat(batch_state, settings);
    RemoveStaleTemporaryFiles(batch_state.output_folder);
    RememberOutFolder(settings, Utf8(field));
    FillFavourites();

    SetStatus(Text("General", "Converting"));
    conversion_total_ = static_cast<int>(TheInputList().size());
    conversion_ = new ProgressDialog(this, ProgressDialog::Kind::Convert, conversion_total_);
    connect(conversion_, &ProgressDialog::ThreadEnded, this, &MainWindow::ConversionEnded);
    connect(conversion_, &QDialog::finished, this, &MainWindow::ConversionClosed);
    conversion_->SetOutputFolder(FromUtf8(folder));
    SetBusy(true);
    results_->Begin();
    // The results come on the run's thread; the rows take them on this one.
    conversion_->Start([rows = QPointer<ResultRows>(results_), dialog = conversion_.data()] {
        RunContext run = ProcessRunContext();
        run.on_result = [rows, dialog](size_t, const FileResult& result) {
            QMetaObject::invokeMethod(
                dialog, [rows, result] { if (rows) rows->Show(result); }, Qt::QueuedConnection);
        };
        ConvertAll(run);
    });
    return true;
}

void MainWindow::ConversionEnded() {
    if (settings.do_watermark == 1 && IsWatermarkFontLoaded(batch_layers)) ReleaseWatermarkFont(batch_layers);
    ProgressDialog* dialog = conversion_;
    if (!dialog) return;
    const std::string count = FormatText(GetText("Msg", "Progress"), std::to_string(dialog->Taken()),
                                         std::to_string(conversion_total_));
    if (dialog->Broken()) {
        const QString stopped = Text("Msg", "Conversion is not complete");
        SetStatus(stopped);
        dialog->ShowConversionResult(stopped + QLatin1Char(' ') + FromUtf8(count), stopped);
    } else {
        const QString complete = Text("Msg", "Conversion complete");
        SetStatus(complete);
        dialog->ShowConversionResult(
            complete + QLatin1Char(' ') + FromUtf8(count),
            FromUtf8(FormatText(GetText("Msg", "Files converted"), std::to_string(dialog->FileCount()),
                                std::to_string(conversion_total_))));
    }
    // The window was closed during the run and waits for it to stop.
    if (close_when_idle_) dialog->accept();
}

void MainWindow::ConversionClosed() {
    if (conversion_) conversion_->deleteLater();
    conversion_ = nullptr;
    SetBusy(false);
    activateWindow();
    list_->setFocus();
}

// ---- Converter and Help ----

void MainWindow::ShowCustomConverter() {
    ConverterFinder finder(this);
    if (finder.exec() != QDialog::Accepted || finder.ChosenFormat().isEmpty()) return;
    const int index = format_->findData(finder.ChosenFormat());
    if (index >= 0) format_->setCurrentIndex(index);
}

bool MainWindow::FillPreviewRequest(PreviewRequest& request) const {
    // A run owns the batch state while it goes on.
    if (busy_) return false;
    request.settings = settings;
    request.state = batch_state;
    request.state.conversion = settings.output_format;
    request.state.output_folder = ResolveFolder(Utf8(OutputFolderText()), ProgramFolder());
    return true;
}

void MainWindow::OpenPreferences() {
    PreferencesDialog dialog(this);
    // The preview follows the edits not yet stored, here and in a window of
    // its own opened from the dialog.
    const PreviewPane::RequestSource edits = [this, &dialog](PreviewRequest& request) {
        if (!FillPreviewRequest(request)) return false;
        dialog.StoreChangesInto(request.settings);
        return true;
    };
    preview_->SetSource(edits);
    AddPreviewButton(&dialog, edits, preview_->Input(),
                     TheInputList().contains(Utf8(preview_->Input()))
                         ? FromUtf8(TheInputList().at(Utf8(preview_->Input())).subfolder)
                         : QString());
    const int answer = dialog.exec();
    preview_->SetSource([this](PreviewRequest& request) { return FillPreviewRequest(request); });
    if (answer != QDialog::Accepted) return;
    FillFormatChoice();
    FillFavourites();
}

void MainWindow::OpenManual() { kestrune::OpenManual(this); }

void MainWindow::CheckForNewVersion() {
    // There is no update service to ask; the home page names the current
    // release, so the check opens it instead of claiming a result.
    if (!AskQuestion(this, Text("Msg", "Check for Updates"), Text("Msg", "Ask check for updates"))) return;
    settings.update_date = static_cast<int32_t>(LocalTimeNow());
    OpenWebPage(this, HomepageUrl());
}

void MainWindow::ShowAbout() {
    AboutBox about(this);
    about.exec();
}

// ---- placement and closing ----

void MainWindow::RestorePlacement() {
    const int width = std::max<int>(settings.window_width, kMinimumWidth);
    const int height = std::max<int>(settings.window_height, kMinimumHeight);
    resize(width, height);
    const QRect wanted(settings.window_x, settings.window_y, width, height);
    // A placement stored on a screen that is gone would put the window out of
    // reach; such a window is centred instead.
    bool visible = false;
    for (QScreen* screen : QGuiApplication::screens())
        if (screen->availableGeometry().intersects(wanted)) visible = true;
    if (visible) {
        move(wanted.topLeft());
    } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width / 2, height / 2));
    }
    if (settings.is_maximized) setWindowState(windowState() | Qt::WindowMaximized);
}

void MainWindow::StorePlacement() const {
    if (isMinimized()) return;
    if (isMaximized()) {
        settings.is_maximized = 1;
        return;
    }
    settings.is_maximized = 0;
    settings.window_x = pos().x();
    settings.window_y = pos().y();
    settings.window_width = width();
    settings.window_height = height();
}

void MainWindow::StopRunningThread() {
    for (ProgressDialog* dialog : findChildren<ProgressDialog*>()) dialog->StopThread();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!busy_) {
        event->accept();
        return;
    }
    // A running import, export or conversion owns a thread, so the window
    // stays until it has stopped. Closing asks the dialog's own break
    // question; on "yes" the window closes when the thread has ended.
    event->ignore();
    ProgressDialog* dialog = nullptr;
    for (ProgressDialog* d : findChildren<ProgressDialog*>())
        if (d->isVisible()) dialog = d;
    if (!dialog) return;
    if (dialog->Running()) {
        dialog->AskToBreak();
        if (!dialog->Broken()) return;
    } else if (dialog != conversion_) {
        return;
    }
    close_when_idle_ = true;
    // A conversion that has ended waits for "OK"; closing the window gives it.
    if (dialog == conversion_ && !dialog->Running()) dialog->accept();
}

}  // namespace kestrune
