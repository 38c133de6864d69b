#include "window/main_window.h"
#include "window/main_window_parts.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCompleter>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
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

}  // namespace

std::string Utf8(const QString& s) { return s.toStdString(); }
QString FromUtf8(const std::string& s) { return QString::fromStdString(s); }

QString WithSlash(QString folder) {
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    return folder;
}

QString StatusFor(const char* key, int count) {
    return FromUtf8(FormatText(GetText("Msg", key), std::to_string(count)));
}

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

void MainWindow::BuildInputList(QWidget* central) {
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
}

// The output folder with its browse button above the output format with
// "Convert", in a grid whose middle column takes the spare width.
QGridLayout* MainWindow::BuildOutputRows(QWidget* central) {
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
    return grid;
}

void MainWindow::BuildControls() {
    auto* central = new QWidget(this);
    BuildInputList(central);
    QGridLayout* grid = BuildOutputRows(central);

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
        case WatermarkProblem::kImage: return Warn("Invalid watermark image", FromUtf8(settings.watermark_image));
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
    if (settings.do_watermark == kTextWatermark && IsWatermarkFontLoaded(batch_layers)) ReleaseWatermarkFont(batch_layers);
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
