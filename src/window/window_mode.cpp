#include "window/window_mode.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QIcon>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
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

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// Asks libxcb itself whether the X server of $DISPLAY accepts a connection:
// the same test Qt's xcb plugin makes before it gives up with an abort.
bool XServerReachable() {
    void* xcb = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!xcb) return false;
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    auto connect = reinterpret_cast<Connect>(dlsym(xcb, "xcb_connect"));
    auto has_error = reinterpret_cast<HasError>(dlsym(xcb, "xcb_connection_has_error"));
    auto disconnect = reinterpret_cast<Disconnect>(dlsym(xcb, "xcb_disconnect"));
    bool ok = false;
    if (connect && has_error && disconnect) {
        void* connection = connect(nullptr, nullptr);
        if (connection) {
            ok = has_error(connection) == 0;
            disconnect(connection);
        }
    }
    dlclose(xcb);
    return ok;
}

bool PlatformPluginInstalled(const std::string& name) {
    QStringList folders;
    for (const QString& p : QString::fromStdString(Env("QT_PLUGIN_PATH")).split(QLatin1Char(':'), Qt::SkipEmptyParts))
        folders << p;
    folders << QLibraryInfo::path(QLibraryInfo::PluginsPath);
    const QString file = QStringLiteral("/platforms/libq") + QString::fromStdString(name) + QStringLiteral(".so");
    for (const QString& folder : folders)
        if (QFileInfo::exists(folder + file)) return true;
    return false;
}

bool PlatformCanOpen(const std::string& name) {
    if (name.empty()) return false;
    if (!PlatformPluginInstalled(name)) return false;
    if (name == "xcb") return !Env("DISPLAY").empty() && XServerReachable();
    if (name.starts_with("wayland")) return !Env("WAYLAND_DISPLAY").empty();
    // offscreen, minimal, vnc, eglfs, linuxfb: nothing to connect to first.
    return true;
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

std::string DisplayProblem() {
    std::string chosen = Env("QT_QPA_PLATFORM");
    if (!chosen.empty()) {
        // "name:arguments", and Qt 6 tries ";"-separated names in order.
        size_t start = 0;
        while (start <= chosen.size()) {
            size_t end = chosen.find(';', start);
            if (end == std::string::npos) end = chosen.size();
            std::string name = chosen.substr(start, end - start);
            name = name.substr(0, name.find(':'));
            if (PlatformCanOpen(name)) return "";
            start = end + 1;
        }
        return "cannot open the window: the display platform \"" + chosen +
               "\" is not available (QT_QPA_PLATFORM)";
    }
    if (!Env("WAYLAND_DISPLAY").empty() && PlatformCanOpen("wayland")) return "";
    if (!Env("DISPLAY").empty()) {
        if (PlatformCanOpen("xcb")) return "";
        return "cannot open the window: the X display \"" + Env("DISPLAY") + "\" cannot be reached";
    }
    return "cannot open the window: no display (DISPLAY and WAYLAND_DISPLAY are unset); "
           "run with parameters for the command line";
}

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
    const std::string problem = DisplayProblem();
    if (!problem.empty()) {
        std::fprintf(stderr, "%s: %s\n", ProgramName().c_str(), problem.c_str());
        std::fflush(stderr);
        return 0;
    }
    const std::vector<std::string> params(argv + std::min(argc, 1), argv + argc);
    std::string first = params.empty() ? std::string() : params.front();
    for (char& c : first) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    // Only the program name goes to Qt: the parameters were the command
    // line's, and Qt would take some of them (-style, -reverse) as its own.
    int qt_argc = 1;
    char* qt_argv[] = {argv && argv[0] ? argv[0] : const_cast<char*>("kestrunecmd"), nullptr};
    SetCloseRequestHandler(PostCloseRequest);
    QApplication app(qt_argc, qt_argv);
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
