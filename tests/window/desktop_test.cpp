// The window as a desktop program: keyboard, toolbar, the desktop's "Open
// with", the screenshot aid and the feedback message without a mail program.
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QTest>
#include <QToolBar>
#include <QTreeWidget>
#include <cstdio>
#include <string>
#include <vector>

#include "app/version.h"
#include "platform/process.h"
#include "settings/settings.h"
#include "window/commands.h"
#include "window/links.h"
#include "window/window_mode.h"
#include "window_fixture.h"

namespace {

using kestrune::settings;
using window_test::WindowTest;

class DesktopTest : public WindowTest {};

TEST_F(DesktopTest, KeyboardReachesMenusAndTheFolderFieldKeepsCtrlDel) {
    window()->activateWindow();
    QTest::keyClick(window(), Qt::Key_F10);
    EXPECT_EQ(window()->menuBar()->activeAction(), window()->menuBar()->actions().first());
    window()->menuBar()->setActiveAction(nullptr);

    testing_support::TempDir dir;
    const auto gifs = window_test::WriteGifs(dir.path(), {"a.gif", "b.gif"});
    for (const auto& g : gifs) window()->AddFile(QString::fromStdString(g));
    window()->InputListView()->selectAll();

    // Ctrl+Del in the folder field deletes the word after the cursor there and
    // leaves the list alone.
    QLineEdit* field = window()->OutputFolderBox()->lineEdit();
    field->setText("/srv/out/frames");
    field->setCursorPosition(5);
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(field->text().toStdString(), "/srv//frames");
    EXPECT_EQ(window()->InputListView()->topLevelItemCount(), 2);

    // In the list, Ctrl+Del still removes the selected rows.
    window()->InputListView()->setFocus();
    QTest::keyClick(window()->InputListView(), Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(window()->InputListView()->topLevelItemCount(), 0);
}

TEST_F(DesktopTest, ToolbarRunsCommandsAndItsHidingIsRemembered) {
    auto* bar = window()->findChild<QToolBar*>("mainToolBar");
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(bar->isVisible());
    ASSERT_EQ(bar->actions().size(), 6);
    for (QAction* a : bar->actions()) EXPECT_FALSE(a->icon().isNull()) << a->text().toStdString();

    // The Convert button of the toolbar runs the same checks as F5.
    bar->findChild<QAction*>(QString("tool%1").arg(kestrune::kCommandConvert))->trigger();
    ASSERT_FALSE(warnings_.empty());
    EXPECT_EQ(warnings_.back().text, "No input file(s) found. Please, add valid file(s) and try again!");

    bar->toggleViewAction()->trigger();
    EXPECT_FALSE(bar->isVisible());
    EXPECT_EQ(settings.show_toolbar, 0);
    Finish();
    Start();
    bar = window()->findChild<QToolBar*>("mainToolBar");
    ASSERT_NE(bar, nullptr);
    EXPECT_FALSE(bar->isVisible());
}

TEST_F(DesktopTest, FeedbackAndManualWithoutAProgramToOpenThemSaySo) {
    kestrune::SetUrlOpener([](const QUrl&) { return false; });
    window()->RunCommand(kestrune::kCommandSendFeedback);
    ASSERT_EQ(warnings_.size(), 1u);
    EXPECT_TRUE(warnings_[0].text.contains("e-mail program")) << warnings_[0].text.toStdString();
    EXPECT_TRUE(warnings_[0].text.contains(kestrune::kFeedbackAddress));
    window()->RunCommand(kestrune::kCommandManual);
    ASSERT_EQ(warnings_.size(), 2u);
    EXPECT_EQ(warnings_[1].text, "No program is set up on this computer to open the user manual. It is the file " +
                                     kestrune::FindManual() + "; please open it in your web browser.");
    EXPECT_TRUE(kestrune::FindManual().endsWith("/manual.html"));
}

TEST(OpenWith, ParametersThatNameFilesJoinTheList) {
    testing_support::TempDir dir;
    const auto gifs = window_test::WriteGifs(dir.path(), {"a.gif", "b c.gif"});
    // The folder after -o is the output folder, not an input; missing files
    // and options are no inputs either.
    const std::vector<std::string> params = {gifs[0], "-o", dir.path(), "--jpg-quality=90", gifs[1],
                                             dir / "missing.gif", "-C", "png"};
    EXPECT_EQ(kestrune::PathsToOpen(params), (std::vector<std::string>{gifs[0], gifs[1]}));
}

TEST_F(DesktopTest, LaterCopyWithFilesHandsThemToTheOpenWindow) {
    testing_support::TempDir runtime, dir;
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    ASSERT_TRUE(kestrune::AcquireSingleInstanceLock(kestrune::TitleWithVersion()));
    // Started again now that this process holds the lock, as the program's
    // window holds it.
    Finish();
    Start();
    const auto gifs = window_test::WriteGifs(dir.path(), {"a.gif", "b.gif"});
    testing_support::RunOptions options;
    options.env["XDG_RUNTIME_DIR"] = runtime.path();
    options.env["QT_QPA_PLATFORM"] = "offscreen";
    options.working_dir = dir.path();
    // A command-line run still ends at once, silently, handing nothing over.
    auto run = testing_support::RunKestrune({"-i", gifs[1], "-o", dir.path()}, options);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out, "");
    // "Open with": a name relative to the later copy's folder.
    run = testing_support::RunKestrune({"a.gif"}, options);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out + run.err, "");
    ASSERT_TRUE(window_test::WaitUntil([&] { return !window()->ListedPaths().isEmpty(); }, 60));
    EXPECT_EQ(window()->ListedPaths(), QStringList{QString::fromStdString(gifs[0])});
}

TEST(ScreenshotAid, WritesTheMainWindowAsPng) {
    testing_support::TempDir dir;
    const std::string picture = dir / "window.png";
    testing_support::RunOptions options;
    options.env["QT_QPA_PLATFORM"] = "offscreen";
    const auto r = testing_support::RunKestrune({"-T", "/home/anna/converted", picture}, options);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    // Read back by another program: a real PNG of at least the window's
    // minimum size.
    std::string id;
    if (std::FILE* p = popen(("identify -format '%m %w %h' '" + picture + "'").c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, p)) id += buffer;
        pclose(p);
    }
    int width = 0, height = 0;
    char format[8] = {};
    ASSERT_EQ(std::sscanf(id.c_str(), "%7s %d %d", format, &width, &height), 3) << "identify: " << id;
    EXPECT_STREQ(format, "PNG");
    EXPECT_GE(width, 510);
    EXPECT_GE(height, 330);
}

}  // namespace
