// The input list of the main window: dropped folders and files, duplicates,
// the Edit commands and their focus rule, the context menu.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "batch/input_list.h"
#include "window/commands.h"
#include "window_fixture.h"

namespace window_test {
namespace {

using kestrune::TheInputList;

class InputListTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        in_ = std::make_unique<testing_support::TempDir>();
        files_ = WriteGifs(in_->path(), {"a.gif", "b.GIF", "deep/er/c.gif", ".hidden.gif"});
        // Things a folder import must pass over.
        std::ofstream(in_->path() + "/empty.gif").close();
        std::ofstream(in_->path() + "/notes.txt") << "not an image";
    }

    QString InFolder() const { return QString::fromStdString(in_->path()); }

    void SelectRows(std::initializer_list<int> rows) {
        QTreeWidget* list = window()->InputListView();
        list->clearSelection();
        for (int r : rows) list->topLevelItem(r)->setSelected(true);
    }

    std::unique_ptr<testing_support::TempDir> in_;
    std::vector<std::string> files_;
};

TEST_F(InputListTest, DroppedFolderListsTheSameFilesWithAndWithoutItsFinalSlash) {
    Drop({InFolder()});
    const QStringList without_slash = ListedSorted();
    const auto subfolder = TheInputList().at(in_->path() + "/deep/er/c.gif").subfolder;

    window()->RunCommand(kestrune::kCommandNew);
    ASSERT_TRUE(window()->ListedPaths().isEmpty());
    ASSERT_TRUE(TheInputList().empty());

    Drop({InFolder() + "/"});
    const QStringList with_slash = ListedSorted();

    QStringList expected;
    for (const auto& f : files_) expected << QString::fromStdString(f);
    expected.sort();
    EXPECT_EQ(without_slash, expected);
    EXPECT_EQ(with_slash, expected);
    EXPECT_EQ(subfolder, "deep/er/");
    EXPECT_EQ(TheInputList().at(in_->path() + "/deep/er/c.gif").subfolder, "deep/er/");
    EXPECT_EQ(TheInputList().size(), 4u);
    EXPECT_EQ(window()->StatusText(), "Import complete, new files added: 4");
}

TEST_F(InputListTest, DroppingListedPathsAddsNoSecondRow) {
    Drop({QString::fromStdString(files_[0])});
    ASSERT_EQ(window()->ListedPaths().size(), 1);
    Drop({QString::fromStdString(files_[0])});
    EXPECT_EQ(window()->ListedPaths().size(), 1);

    // The folder that holds it, then the folder again: each file once.
    Drop({InFolder(), QString::fromStdString(files_[1])});
    EXPECT_EQ(window()->ListedPaths().size(), 4);
    Drop({InFolder() + "/"});
    EXPECT_EQ(window()->ListedPaths().size(), 4);
    EXPECT_EQ(window()->ListedPaths().removeDuplicates(), 0);
    EXPECT_EQ(TheInputList().size(), 4u);
    EXPECT_EQ(window()->StatusText(), "Import complete, new files added: 0");
}

TEST_F(InputListTest, SingleFileFromOutsideTheInputFolderGetsNoSubfolder) {
    testing_support::TempDir other;
    const auto outside = WriteGifs(other.path(), {"x/outside.gif"});
    Drop({InFolder()});
    Drop({QString::fromStdString(outside[0])});
    ASSERT_EQ(window()->ListedPaths().size(), 5);
    // Its own folder path must not be rebuilt below the output folder.
    EXPECT_EQ(TheInputList().at(outside[0]).subfolder, "");
}

TEST_F(InputListTest, DeleteSelectsTheEntryThatTookThePlaceOrTheNewLast) {
    Drop({InFolder()});
    QTreeWidget* list = window()->InputListView();
    ASSERT_EQ(list->topLevelItemCount(), 4);
    const QStringList before = window()->ListedPaths();
    list->setFocus();

    // The last entry: the one before it becomes selected.
    SelectRows({3});
    QTest::keyClick(list, Qt::Key_Delete, Qt::ControlModifier);
    ASSERT_EQ(list->topLevelItemCount(), 3);
    EXPECT_FALSE(TheInputList().contains(before[3].toStdString()));
    ASSERT_EQ(list->selectedItems().size(), 1);
    EXPECT_EQ(list->selectedItems().front()->text(0), before[2]);

    // Rows 0 and 1: the row that moved into the place of row 1.
    SelectRows({0, 1});
    QTest::keyClick(list, Qt::Key_Delete, Qt::ControlModifier);
    ASSERT_EQ(list->topLevelItemCount(), 1);
    ASSERT_EQ(list->selectedItems().size(), 1);
    EXPECT_EQ(list->selectedItems().front()->text(0), before[2]);
    EXPECT_EQ(TheInputList().size(), 1u);
}

TEST_F(InputListTest, EditCommandsActOnlyWhileTheListHasTheFocus) {
    Drop({InFolder()});
    QTreeWidget* list = window()->InputListView();
    SelectRows({0});
    QApplication::clipboard()->setText("untouched");

    window()->OutputFolderBox()->setFocus();
    window()->RunCommand(kestrune::kCommandDelete);
    window()->RunCommand(kestrune::kCommandCopy);
    window()->RunCommand(kestrune::kCommandSelectAll);
    EXPECT_EQ(list->topLevelItemCount(), 4);
    EXPECT_EQ(list->selectedItems().size(), 1);
    EXPECT_EQ(QApplication::clipboard()->text(), "untouched");

    list->setFocus();
    QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(list->selectedItems().size(), 4);
    SelectRows({2, 0});
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    const QStringList rows = window()->ListedPaths();
    EXPECT_EQ(QApplication::clipboard()->text(), rows[0] + "\r\n" + rows[2]);
}

TEST_F(InputListTest, ContextMenuOpensOnlyOverASelection) {
    Drop({InFolder()});
    QTreeWidget* list = window()->InputListView();
    QMenu* menu = window()->ListContextMenu();
    const QPoint at(5, 5);

    list->clearSelection();
    QContextMenuEvent empty(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
    QApplication::sendEvent(list->viewport(), &empty);
    EXPECT_FALSE(menu->isVisible());

    SelectRows({1});
    QContextMenuEvent selected(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
    QApplication::sendEvent(list->viewport(), &selected);
    EXPECT_TRUE(menu->isVisible());
    QStringList captions;
    for (QAction* a : menu->actions()) captions << (a->isSeparator() ? QString("-") : a->text());
    EXPECT_EQ(captions, QStringList({"&Copy", "&Delete", "-", "Select &All"}));
    menu->hide();
}

TEST_F(InputListTest, ExportedListImportsTheSameFiles) {
    Drop({InFolder()});
    const QStringList listed = ListedSorted();
    testing_support::TempDir out;
    const QString list_file = QString::fromStdString(out.path() + "/list.txt");
    ASSERT_TRUE(window()->ExportListPath(list_file));
    EXPECT_EQ(window()->StatusText(), "Export complete, entries saved: 4");
    // Only the list itself: the temporary file it was written to is gone.
    EXPECT_EQ(testing_support::ListNames(out.path()), std::vector<std::string>{"list.txt"});

    window()->RunCommand(kestrune::kCommandNew);
    EXPECT_EQ(window()->ImportListPath(list_file), 4);
    EXPECT_EQ(ListedSorted(), listed);
    EXPECT_EQ(window()->StatusText(), "Import complete, new files added: 4");
    // A list import has no input folder, so no subfolders.
    EXPECT_EQ(TheInputList().at(in_->path() + "/deep/er/c.gif").subfolder, "");
}

TEST_F(InputListTest, ExportThatCannotWriteSaysSoAndKeepsNothingBehind) {
    Drop({InFolder()});
    const QString target = InFolder() + "/missing-folder/list.txt";
    EXPECT_FALSE(window()->ExportListPath(target));
    EXPECT_EQ(window()->StatusText(), "Export stopped");
    ASSERT_EQ(warnings_.size(), 1u);
    EXPECT_TRUE(warnings_[0].text.startsWith("Unable to save the file: ")) << warnings_[0].text.toStdString();
    EXPECT_FALSE(std::filesystem::exists(target.toStdString()));
}

TEST_F(InputListTest, ExportOfAnEmptyListWarns) {
    window()->RunCommand(kestrune::kCommandExportInputFiles);
    ASSERT_EQ(warnings_.size(), 1u);
    EXPECT_EQ(warnings_[0].text, "No input file(s) found. Please, add valid file(s) and try again!");
}

// A drop of thousands of single files keeps the window busy to its end:
// Convert and the other commands fired meanwhile do nothing, so no run
// reads the list while the drop is still writing it. Each file is one row,
// in the order dropped.
TEST_F(InputListTest, LongDropKeepsTheWindowBusyAndListsEveryFileOnce) {
    constexpr int kFiles = 20000;
    testing_support::TempDir many;
    testing_support::TempDir out;
    QStringList dropped;
    // Links to one small GIF: the list looks at names and sizes only.
    for (int i = 0; i < kFiles; ++i) {
        const std::string path = many.path() + "/f" + std::to_string(i) + ".gif";
        ASSERT_EQ(link(files_[0].c_str(), path.c_str()), 0);
        dropped << QString::fromStdString(path);
    }
    dropped << dropped.front();  // a duplicate adds nothing
    window()->SetOutputFolder(QString::fromStdString(out.path()));

    int fired = 0, while_idle = 0, runs_started = 0;
    QTimer poke;
    poke.setInterval(1);
    QObject::connect(&poke, &QTimer::timeout, [&] {
        ++fired;
        kestrune::MainWindow* w = window();
        if (!w->Busy() || w->ConvertButton()->isEnabled() || w->ActionFor(kestrune::kCommandConvert)->isEnabled())
            ++while_idle;
        QTest::mouseClick(w->ConvertButton(), Qt::LeftButton);
        w->ActionFor(kestrune::kCommandConvert)->trigger();
        w->RunCommand(kestrune::kCommandConvert);
        w->RunCommand(kestrune::kCommandNew);
        w->DropPaths({QString::fromStdString(files_[1])});
        if (w->ConversionDialog()) ++runs_started;
    });
    poke.start();
    Drop(dropped);
    poke.stop();

    EXPECT_GT(fired, 0) << "nothing was fired during the drop";
    EXPECT_EQ(while_idle, 0) << "the window was not busy during the drop";
    EXPECT_EQ(runs_started, 0) << "a conversion started during the drop";
    EXPECT_FALSE(window()->Busy());
    EXPECT_TRUE(window()->ConvertButton()->isEnabled());
    dropped.removeLast();
    const QStringList listed = window()->ListedPaths();
    EXPECT_TRUE(listed == dropped) << listed.size() << " rows listed for " << dropped.size() << " files dropped";
    EXPECT_EQ(TheInputList().size(), static_cast<size_t>(kFiles));
    EXPECT_EQ(window()->StatusText(), QString("Import complete, new files added: %1").arg(kFiles));
}

TEST_F(InputListTest, NewEmptiesListFolderFieldAndSaysReady) {
    Drop({InFolder()});
    window()->SetOutputFolder("/tmp/");
    window()->RunCommand(kestrune::kCommandNew);
    EXPECT_TRUE(window()->ListedPaths().isEmpty());
    EXPECT_TRUE(TheInputList().empty());
    EXPECT_EQ(window()->OutputFolderText(), "");
    EXPECT_EQ(window()->StatusText(), "Ready");
    EXPECT_EQ(QApplication::focusWidget(), window()->InputListView());
}

}  // namespace
}  // namespace window_test
