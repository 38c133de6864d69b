#include "window/window_mode.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "settings/text_table.h"
#include "app/version.h"
#include "batch/batch_state.h"
#include "batch/naming.h"
#include "platform/files.h"
#include "platform/console.h"
#include "platform/process.h"
#include "settings/preferences.h"
#include "settings/settings.h"
#include "window/main_window.h"
#include "window/output_folders.h"
#include "window/session.h"
#include "window/small_dialogs.h"

namespace kestrune {
namespace {

// Qt picks its display platform itself (QT_QPA_PLATFORM's list, else Wayland
// when WAYLAND_DISPLAY is set, then X) and aborts the process when none of
// them starts. What it says while it tries is held back until the start is
// decided: after a start it is passed on as Qt would have printed it; after
// a failure it becomes the one line the program prints before it ends.
struct HeldMessage {
    QtMsgType type;
    std::string category;
    QString text;
};
std::mutex start_mutex;
std::vector<HeldMessage> held_messages;

std::string OneLine(const QString& text) { return text.simplified().toStdString(); }

// Set but empty is told apart from unset: Qt tries Wayland for a
// WAYLAND_DISPLAY that is set at all.
std::string EnvironmentShown(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(name) + "=\"" + value + "\"" : "no " + std::string(name);
}

// Each platform Qt gave up on, with the reasons it gave before naming it:
// "wayland (Failed to create wl_display ...), xcb (could not connect to
// display :1)".
std::string PlatformsTried(const std::vector<HeldMessage>& messages, const QString& fatal) {
    std::string tried, reasons;
    for (const HeldMessage& m : messages) {
        const std::string text = OneLine(m.text);
        const size_t quote = text.find("plugin \"");
        const size_t close = quote == std::string::npos ? quote : text.find('"', quote + 8);
        if (m.category == "qt.qpa.plugin" && close != std::string::npos) {
            if (reasons.empty()) reasons = text.starts_with("Could not find") ? "not installed" : "failed";
            tried += (tried.empty() ? "" : ", ") + text.substr(quote + 8, close - quote - 8) + " (" + reasons + ")";
            reasons.clear();
        } else if (!text.empty()) {
            reasons += (reasons.empty() ? "" : "; ") + text;
        }
    }
    if (!reasons.empty()) tried += (tried.empty() ? "" : ", ") + reasons;
    return tried.empty() ? OneLine(fatal) : tried;
}

[[noreturn]] void EndWithoutDisplay(const QString& fatal) {
    std::string line;
    {
        std::lock_guard guard(start_mutex);
        line = PlatformsTried(held_messages, fatal);
    }
    std::fprintf(stderr, "%s: cannot open the window: no display platform could start: %s; with %s, %s, %s; "
                 "run with parameters for the command line\n",
                 ProgramName().c_str(), line.c_str(), EnvironmentShown("QT_QPA_PLATFORM").c_str(),
                 EnvironmentShown("WAYLAND_DISPLAY").c_str(), EnvironmentShown("DISPLAY").c_str());
    std::fflush(stderr);
    // Qt would abort once this handler returns; nothing of the window has
    // been made yet, so there is nothing to save.
    std::_Exit(0);
}

void HoldStartMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) EndWithoutDisplay(text);
    std::lock_guard guard(start_mutex);
    held_messages.push_back({type, context.category ? context.category : "", text});
}

void PassOnStartMessages() {
    std::vector<HeldMessage> messages;
    {
        std::lock_guard guard(start_mutex);
        messages.swap(held_messages);
    }
    for (const HeldMessage& m : messages)
        qt_message_output(m.type, QMessageLogContext(nullptr, 0, nullptr, m.category.c_str()), m.text);
}

// The screenshot aid's list: tidy example paths rather than whatever the
// machine taking the picture has.
constexpr const char* kScreenshotFiles[] = {
    "/home/anna/Pictures/animations/bouncing-ball.gif",
    "/home/anna/Pictures/animations/loading-spinner.gif",
    "/home/anna/Pictures/animations/night-sky.gif",
    "/home/anna/Pictures/animations/paper-plane.gif",
    "/home/anna/Pictures/animations/waving-flag.gif",
};
constexpr const char* kScreenshotName = "kestrune-window.png";

// A close signal (a logout sends SIGHUP or SIGTERM) ends the window the way
// closing it does, "config.ini" included. The signal arrives on the watcher
// thread; the ending itself runs on the main thread, which owns the window
// and the settings. A signal that comes before the window is up is kept
// until it is.
std::mutex close_mutex;
QObject* close_receiver = nullptr;
WindowSession* close_session = nullptr;
bool close_requested = false;

void EndOnCloseSignal() {
    if (close_session) close_session->SaveOnSignal();
    EndProcessAfterClose();
}

void PostCloseRequest() {
    std::lock_guard guard(close_mutex);
    close_requested = true;
    if (close_receiver) QMetaObject::invokeMethod(close_receiver, EndOnCloseSignal, Qt::QueuedConnection);
}

void ReceiveCloseRequests(QObject* receiver, WindowSession* session) {
    std::lock_guard guard(close_mutex);
    close_receiver = receiver;
    close_session = session;
    if (receiver && close_requested)
        QMetaObject::invokeMethod(close_receiver, EndOnCloseSignal, Qt::QueuedConnection);
}

}  // namespace

WindowSession::WindowSession() = default;
WindowSession::~WindowSession() { StopListening(); }

MainWindow* WindowSession::Start() {
    int desktop_width = 0, desktop_height = 0;
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        desktop_width = screen->availableGeometry().width();
        desktop_height = screen->availableGeometry().height();
    }
    LoadPreferences(PreferencesPath(), desktop_width, desktop_height);
    BuildTextTable();

    batch_state = BatchState{};
    batch_state.program_folder = ProgramFolder();
    ResetNaming(batch_state);

    window_ = std::make_unique<MainWindow>();
    window_->RestorePlacement();
    // The reset empties the output-folder field, so it runs before the
    // stored folder is put there rather than after, which would lose it.
    window_->ResetForNew();
    const auto favourites = SplitOutFolders(settings.recent_out_folders);
    if (!favourites.empty()) window_->SetOutputFolder(QString::fromStdString(favourites.front()));
    if (settings.is_maximized) window_->showMaximized();
    else window_->show();
    ListenForOtherCopies();
    return window_.get();
}

void WindowSession::ListenForOtherCopies() {
    listener_ = kestrune::ListenForOtherCopies(TitleWithVersion());
    if (listener_ < 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(listener_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, window_.get(), [this] {
        std::vector<std::string> paths;
        if (!ReceiveFromOtherCopy(listener_, paths) || paths.empty()) return;
        QStringList files;
        for (const std::string& p : paths) files << QString::fromStdString(p);
        window_->TakeHandedFiles(files);
    });
}

void WindowSession::StopListening() {
    notifier_.reset();
    kestrune::StopListening(listener_, TitleWithVersion());
    listener_ = -1;
}

void WindowSession::SaveOnSignal() {
    if (!window_) return;
    // A running conversion reads the settings: it is stopped as a break
    // would stop it (its current file finished or removed) before they are
    // written, as a normal exit after the run writes them.
    window_->StopRunningThread();
    SaveSettings();
}

void WindowSession::Finish() {
    if (!window_) return;
    StopListening();
    SaveSettings();
    window_.reset();
}

void WindowSession::SaveSettings() {
    window_->StorePlacement();
    // The folder in the field is the one the next start shows.
    const std::string folder = window_->OutputFolderText().toStdString();
    if (!folder.empty() && QDir(QString::fromStdString(folder)).exists()) RememberOutFolder(settings, folder);
    if (settings.clean_recent_files) settings.recent_files.clear();
    SavePreferences(PreferencesPath());
}

std::vector<std::string> PathsToOpen(const std::vector<std::string>& params) {
    std::vector<std::string> paths;
    for (size_t i = 0; i < params.size(); ++i) {
        const std::string& p = params[i];
        if (p.empty()) continue;
        if (p.front() == '-') {
            // -o and -c take the next parameter: a folder given to -o is no
            // input, even though it exists.
            if (p.size() == 2 && (p[1] == 'o' || p[1] == 'O' || p[1] == 'c' || p[1] == 'C')) ++i;
            continue;
        }
        if (FileSize(p) != -1) paths.push_back(p);
    }
    return paths;
}

bool HandFilesToOpenWindow(const std::vector<std::string>& params) {
    // The open window has its own current folder: relative paths are made
    // whole here, where they mean something.
    std::vector<std::string> paths;
    for (const std::string& p : PathsToOpen(params)) {
        std::error_code ec;
        const std::filesystem::path whole = std::filesystem::absolute(p, ec);
        paths.push_back(ec ? p : whole.lexically_normal().string());
    }
    return !paths.empty() && SendToFirstCopy(TitleWithVersion(), paths);
}

bool WriteScreenshot(const std::vector<std::string>& params) {
    // Always the same picture: the window's defaults, not this user's
    // settings, and nothing written back to "config.ini".
    SetDefaultSettings(settings, false, 0, 0);
    BuildTextTable();
    batch_state = BatchState{};
    batch_state.program_folder = ProgramFolder();
    ResetNaming(batch_state);
    settings.output_format = "png";

    MainWindow window;
    window.resize(settings.window_width, settings.window_height);
    window.ResetForNew();
    for (const char* name : kScreenshotFiles) window.ShowSamplePath(QString::fromUtf8(name));
    if (params.size() > 1) window.SetOutputFolder(QString::fromStdString(params[1]));
    window.show();
    // Let the layout settle before the picture is taken.
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const QString target = QString::fromStdString(params.size() > 2 ? params[2] : std::string(kScreenshotName));
    const bool saved = window.grab().save(target, "PNG");
    if (!saved) std::fprintf(stderr, "%s: cannot write %s\n", ProgramName().c_str(), target.toLocal8Bit().constData());
    return saved;
}

int RunWindowMode(int argc, char** argv) {
    const std::vector<std::string> params(argv + std::min(argc, 1), argv + argc);
    std::string first = params.empty() ? std::string() : params.front();
    for (char& c : first) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    // Only the program name goes to Qt: the parameters were the command
    // line's, and Qt would take some of them (-style, -reverse) as its own.
    int qt_argc = 1;
    char* qt_argv[] = {argv && argv[0] ? argv[0] : const_cast<char*>("kestrunecmd"), nullptr};
    SetCloseRequestHandler(PostCloseRequest);
    const QtMessageHandler qt_handler = qInstallMessageHandler(HoldStartMessage);
    QApplication app(qt_argc, qt_argv);
    qInstallMessageHandler(qt_handler);
    PassOnStartMessages();
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("kestrune")));
    QGuiApplication::setDesktopFileName(QStringLiteral("kestrune"));

    if (first == "-T") {
        WriteScreenshot(params);
        return 0;
    }
    if (first == "-U") {
        BuildTextTable();
        FeedbackWindow feedback;
        feedback.exec();
        return 0;
    }
    WindowSession session;
    MainWindow* window = session.Start();
    ReceiveCloseRequests(&app, &session);
    // Files handed over by the desktop ("Open with", the .desktop entry's %F)
    // or named on the command line join the list as if dropped.
    QStringList dropped;
    for (const std::string& path : PathsToOpen(params)) dropped << QString::fromStdString(path);
    if (!dropped.isEmpty()) QTimer::singleShot(0, window, [window, dropped] { window->DropPaths(dropped); });
    QApplication::exec();
    // A signal from here on finds the settings being written anyway.
    ReceiveCloseRequests(nullptr, nullptr);
    session.Finish();
    return 0;
}

}  // namespace kestrune
