// Starting without a display, the captions of the window, the Help commands,
// the favourite output folders, and the screenshots of the documentation.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <cstdlib>
#include <set>

#include "batch/batch_state.h"
#include "settings/settings.h"
#include "window/commands.h"
#include "window/links.h"
#include "window/output_folders.h"
#include "window/preferences_dialog.h"
#include "window/progress_dialog.h"
#include "window_fixture.h"

namespace window_test {
namespace {

using kestrune::settings;

// Where no display platform starts, Qt's abort is replaced by one line that
// names each platform Qt tried with its reason, and the display variables.
struct NoDisplayCase {
    std::string name, variable, value;  // one variable changed from the base below
    std::string said;
};

class NoDisplay : public testing::TestWithParam<NoDisplayCase> {};

TEST_P(NoDisplay, ProgramPrintsOneLineAndEndsWithZero) {
    testing_support::RunOptions options;
    // No compositor listens on "none" in the run's own XDG_RUNTIME_DIR.
    options.env = {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", "none"}};
    options.env[GetParam().variable] = GetParam().value;
    const testing_support::ProcessResult r = testing_support::RunKestrune({}, options);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "kestrunecmd: cannot open the window: no display platform could start: " + GetParam().said +
                         "; run with parameters for the command line\n");
}

const std::string kNoCompositor = "wayland (Failed to create wl_display (No such file or directory)), ";

INSTANTIATE_TEST_SUITE_P(
    Environments, NoDisplay,
    testing::Values(
        NoDisplayCase{"NoCompositor", "DISPLAY", "", kNoCompositor + "xcb (could not connect to display); with "
                      "QT_QPA_PLATFORM=\"\", WAYLAND_DISPLAY=\"none\", DISPLAY=\"\""},
        NoDisplayCase{"UnreachableX", "DISPLAY", ":97", kNoCompositor + "xcb (could not connect to display :97); "
                      "with QT_QPA_PLATFORM=\"\", WAYLAND_DISPLAY=\"none\", DISPLAY=\":97\""},
        NoDisplayCase{"ChosenList", "QT_QPA_PLATFORM", "none;xcb", "none (not installed), xcb (could not connect to "
                      "display); with QT_QPA_PLATFORM=\"none;xcb\", WAYLAND_DISPLAY=\"none\", DISPLAY=\"\""}),
    [](const auto& info) { return info.param.name; });

class StartupTest : public WindowTest {};

TEST_F(StartupTest, EveryCaptionComesFromTheTextTable) {
    QStringList texts;
    for (QWidget* w : window()->findChildren<QWidget*>()) {
        if (auto* l = qobject_cast<QLabel*>(w)) texts << l->text();
        if (auto* b = qobject_cast<QPushButton*>(w)) texts << b->text();
    }
    for (QAction* a : window()->findChildren<QAction*>()) texts << a->text();
    texts << window()->InputListView()->headerItem()->text(0);
    kestrune::PreferencesDialog prefs(window());
    for (QWidget* w : prefs.findChildren<QWidget*>()) {
        if (auto* l = qobject_cast<QLabel*>(w)) texts << l->text();
        if (auto* b = qobject_cast<QAbstractButton*>(w)) texts << b->text();
        if (auto* c = qobject_cast<QComboBox*>(w))
            for (int i = 0; i < c->count(); ++i) texts << c->itemText(i);
    }
    for (int i = 0; i < prefs.Pages()->count(); ++i) texts << prefs.Pages()->tabText(i);
    for (const QString& t : texts) EXPECT_FALSE(t.contains("NO_STRING_ERROR")) << t.toStdString();
    EXPECT_EQ(window()->InputListView()->headerItem()->text(0), "Filename");
    EXPECT_GE(window()->InputListView()->columnWidth(0), 290);
    EXPECT_EQ(window()->StatusText(), "Ready");
}

TEST_F(StartupTest, MenusFollowTheCommandTable) {
    const QList<QAction*> menus = window()->menuBar()->actions();
    QStringList titles;
    for (QAction* m : menus) titles << m->text();
    // Every caption carries a mnemonic, and no two in one menu share one.
    EXPECT_EQ(titles, QStringList({"&File", "&Edit", "&Converter", "&Help"}));
    QStringList file;
    for (QAction* a : menus[0]->menu()->actions()) file << (a->isSeparator() ? QString("-") : a->text());
    EXPECT_EQ(file, QStringList({"&New", "-", "&Add Input Files...", "Select &Output Folder...", "-",
                                 "&Import Files...", "&Export Files...", "-", "E&xit"}));
    for (QAction* m : menus) {
        std::set<QChar> keys;
        for (QAction* a : m->menu()->actions()) {
            if (a->isSeparator()) continue;
            const qsizetype at = a->text().indexOf('&');
            ASSERT_GE(at, 0) << a->text().toStdString();
            EXPECT_TRUE(keys.insert(a->text()[at + 1].toLower()).second) << a->text().toStdString();
        }
    }
    EXPECT_EQ(window()->ActionFor(kestrune::kCommandDelete)->shortcut(), QKeySequence("Ctrl+Del"));
    EXPECT_EQ(window()->ActionFor(kestrune::kCommandConvert)->shortcut(), QKeySequence(Qt::Key_F5));
    EXPECT_EQ(window()->ActionFor(kestrune::kCommandExit)->shortcut(), QKeySequence("Alt+X"));
}

TEST_F(StartupTest, FormatChoiceShowsIdentifierAndDescriptionAndStoresTheChoice) {
    QComboBox* box = window()->FormatBox();
    ASSERT_EQ(box->count(), 23);
    EXPECT_EQ(box->itemText(box->findData("png")), "PNG (Portable Network Graphics)");
    box->setCurrentIndex(box->findData("webp"));
    EXPECT_EQ(settings.output_format, "webp");
    window()->OutputFolderBox()->setEditText("/some/where");
    EXPECT_EQ(kestrune::batch_state.output_folder, "/some/where");
}

TEST_F(StartupTest, StoredOutputFolderIsShownAtStartWithItsFavourites) {
    testing_support::TempDir a, b;
    settings.out_folders_history = 1;
    settings.out_folders_number = 5;
    settings.recent_out_folders = a.path() + "|" + b.path();
    window()->SetOutputFolder(QString::fromStdString(b.path()));
    Finish();
    Start();
    EXPECT_EQ(window()->OutputFolderText().toStdString(), b.path());
    QComboBox* box = window()->OutputFolderBox();
    ASSERT_EQ(box->count(), 2);
    EXPECT_EQ(box->itemText(0).toStdString(), b.path());
    EXPECT_EQ(box->itemText(1).toStdString(), a.path());
}

TEST_F(StartupTest, HelpCommandsOpenTheManualAndTheConfiguredAddresses) {
    window()->RunCommand(kestrune::kCommandManual);
    ASSERT_EQ(opened_urls_.size(), 1u);
    EXPECT_TRUE(opened_urls_[0].startsWith("file://")) << opened_urls_[0].toStdString();
    EXPECT_TRUE(opened_urls_[0].endsWith("/manual.html"));
    EXPECT_TRUE(warnings_.empty());

    window()->RunCommand(kestrune::kCommandVisitHomepage);
    EXPECT_EQ(opened_urls_.back(), QString::fromUtf8(kestrune::kWebAddress));
    window()->RunCommand(kestrune::kCommandSendFeedback);
    EXPECT_TRUE(opened_urls_.back().startsWith("mailto:")) << opened_urls_.back().toStdString();
    EXPECT_TRUE(opened_urls_.back().contains("Tarvel GIF to IMAGE Feedback"));

    // The update check asks first and claims nothing: it opens the home page.
    const size_t before = opened_urls_.size();
    answer_ = false;
    window()->RunCommand(kestrune::kCommandCheckForNewVersion);
    EXPECT_EQ(opened_urls_.size(), before);
    answer_ = true;
    window()->RunCommand(kestrune::kCommandCheckForNewVersion);
    ASSERT_EQ(opened_urls_.size(), before + 1);
    EXPECT_EQ(opened_urls_.back(), QString::fromUtf8(kestrune::kWebAddress));
    EXPECT_EQ(questions_.back().text, "Do you want to check for updates?");
}

TEST(OutFolders, NewestFirstWithoutDuplicatesUpToTheLimit) {
    kestrune::Settings s;
    s.out_folders_history = 1;
    s.out_folders_number = 3;
    for (const char* f : {"/a/", "/b/", "/c/", "/b/", "/d/"}) kestrune::RememberOutFolder(s, f);
    EXPECT_EQ(s.recent_out_folders, "/d/|/b/|/c/");
    // A folder with the separator in its name is not remembered at all
    // rather than stored as two wrong folders.
    kestrune::RememberOutFolder(s, "/x|y/");
    EXPECT_EQ(kestrune::SplitOutFolders(s.recent_out_folders), (std::vector<std::string>{"/d/", "/b/", "/c/"}));
    s.out_folders_history = 0;
    kestrune::RememberOutFolder(s, "/e/");
    EXPECT_EQ(s.recent_out_folders, "");
}

// One folder is one favourite however its slashes are written.
TEST(OutFolders, SpellingsOfOneFolderAreKeptOnce) {
    kestrune::Settings s;
    s.out_folders_history = 1;
    s.out_folders_number = 10;
    for (const char* f : {"/a/out", "/b", "/a/out/", "/a//out", "/b/", "/"}) kestrune::RememberOutFolder(s, f);
    EXPECT_EQ(kestrune::SplitOutFolders(s.recent_out_folders), (std::vector<std::string>{"/", "/b/", "/a//out"}));
    // Stored by an older version with both spellings: the newer one stays.
    EXPECT_EQ(kestrune::SplitOutFolders("/a/out/|/a/out|/c"), (std::vector<std::string>{"/a/out/", "/c"}));
}

TEST(OutFolders, DropDownHoldsAtMost128) {
    std::string stored;
    for (int i = 0; i < 200; ++i) stored += "/f" + std::to_string(i) + "/|";
    const auto folders = kestrune::SplitOutFolders(stored + "||");
    ASSERT_EQ(folders.size(), 128u);
    EXPECT_EQ(folders.front(), "/f0/");
    EXPECT_EQ(folders.back(), "/f127/");
}

// Renders the main window, the progress dialog of a finished run and the
// preferences. With KESTRUNE_SCREENSHOT_DIR set the pictures are written
// there, for a quick look; the README's pictures are taken by
// tools/screenshots.sh.
TEST_F(StartupTest, Screenshots) {
    testing_support::TempDir in, out;
    WriteGifs(in.path(), {"holiday/beach.gif", "holiday/harbour.gif", "logo.gif", "banner-animated.gif",
                          "scans/page-01.gif"});
    Drop({QString::fromStdString(in.path())});
    window()->SetOutputFolder(QString::fromStdString(out.path()));
    window()->FormatBox()->setCurrentIndex(window()->FormatBox()->findData("png"));
    window()->resize(640, 400);
    QCoreApplication::processEvents();
    const QPixmap main_picture = window()->grab();

    QTest::mouseClick(window()->ConvertButton(), Qt::LeftButton);
    kestrune::ProgressDialog* dialog = window()->ConversionDialog();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return dialog->OkButton()->isEnabled(); }));
    const QPixmap progress_picture = dialog->grab();
    EXPECT_EQ(dialog->TextLine()->text(), "Files converted: 5 of 5");

    ASSERT_FALSE(main_picture.isNull());
    ASSERT_FALSE(progress_picture.isNull());
    EXPECT_GE(main_picture.width(), 510);
    EXPECT_GE(progress_picture.width(), 300);
    kestrune::PreferencesDialog prefs(window());
    prefs.Pages()->setCurrentIndex(2);
    auto* format = qobject_cast<QComboBox*>(prefs.EditorFor("Output", "Format"));
    ASSERT_NE(format, nullptr);
    format->setCurrentIndex(format->findData("jpg"));
    prefs.show();
    QCoreApplication::processEvents();
    const QPixmap preferences_picture = prefs.grab();
    prefs.reject();
    ASSERT_FALSE(preferences_picture.isNull());
    if (const char* folder = std::getenv("KESTRUNE_SCREENSHOT_DIR")) {
        EXPECT_TRUE(preferences_picture.save(QString::fromLocal8Bit(folder) + "/preferences.png"));
        EXPECT_TRUE(main_picture.save(QString::fromLocal8Bit(folder) + "/main-window.png"));
        EXPECT_TRUE(progress_picture.save(QString::fromLocal8Bit(folder) + "/progress-dialog.png"));
    }
    QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
}

}  // namespace
}  // namespace window_test
