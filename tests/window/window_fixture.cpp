#include "window_fixture.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>
#include <cstdlib>
#include <filesystem>

#include "batch/batch_state.h"
#include "settings/settings.h"
#include "support/gif_writer.h"
#include "window/dialogs.h"
#include "window/links.h"

namespace window_test {

void EnsureApplication() {
    // Never destroyed: at exit Qt's own globals may already be gone, and a
    // QApplication torn down after them crashes the test program.
    static QApplication* app = nullptr;
    if (app) return;
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "test_window";
    static char* argv[] = {name, nullptr};
    app = new QApplication(argc, argv);
    // The tests end the main window many times; the application must not
    // take that for the end of the program.
    QApplication::setQuitOnLastWindowClosed(false);
}

bool WaitUntil(const std::function<bool()>& done, int limit_seconds) {
    QDeadlineTimer deadline(limit_seconds * 1000);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QTest::qWait(5);
    }
    return true;
}

std::vector<std::string> WriteGifs(const std::string& folder, const std::vector<std::string>& names) {
    std::vector<std::string> paths;
    int n = 0;
    for (const std::string& name : names) {
        const std::string path = folder + "/" + name;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        if (n % 2 == 0) testing_support::WriteGif(path, testing_support::LetterF(23 + n, 17 + n));
        else testing_support::WriteGif(path, testing_support::SimpleAnimation(12, 9, 1));
        paths.push_back(path);
        ++n;
    }
    return paths;
}

void WindowTest::SetUp() {
    EnsureApplication();
    config_ = std::make_unique<testing_support::TempDir>();
    setenv("XDG_CONFIG_HOME", config_->path().c_str(), 1);
    kestrune::SetQuestionFunction([this](QWidget*, const QString& caption, const QString& text) {
        questions_.push_back({caption, text});
        if (on_question_) on_question_();
        return answer_;
    });
    kestrune::SetWarningFunction([this](QWidget*, const QString& caption, const QString& text) {
        warnings_.push_back({caption, text});
    });
    kestrune::SetUrlOpener([this](const QUrl& url) {
        opened_urls_.push_back(url.toString());
        return true;
    });
    kestrune::pause_gate.Open();
    session_ = std::make_unique<kestrune::WindowSession>();
    Start();
}

void WindowTest::TearDown() {
    kestrune::pause_gate.Open();
    if (session_->Window()) {
        // A test that failed half-way may leave a run behind: let it end.
        WaitUntil([this] {
            auto* dialog = window()->ConversionDialog();
            return !dialog || !dialog->Running();
        });
        if (auto* dialog = window()->ConversionDialog()) dialog->accept();
        QCoreApplication::processEvents();
    }
    session_.reset();
    kestrune::SetQuestionFunction({});
    kestrune::SetWarningFunction({});
    kestrune::SetUrlOpener({});
    QCoreApplication::processEvents();
    config_.reset();
}

kestrune::MainWindow* WindowTest::Start() {
    kestrune::MainWindow* w = session_->Start();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(w));
    // Shortcuts reach only the active window, as on a desktop.
    w->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(w));
    return w;
}

void WindowTest::Finish() { session_->Finish(); }

void WindowTest::Drop(const QStringList& paths) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
    mime.setUrls(urls);
    const QPoint pos = window()->rect().center();
    QDragEnterEvent enter(pos, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window(), &enter);
    ASSERT_TRUE(enter.isAccepted()) << "the main window refused the drag";
    QDropEvent drop(QPointF(pos), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window(), &drop);
}

QStringList WindowTest::ListedSorted() const {
    QStringList paths = window()->ListedPaths();
    paths.sort();
    return paths;
}

}  // namespace window_test
