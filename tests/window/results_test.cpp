// Every file's result in the list after a run: converted with its outputs,
// not converted with the reason, not reached when the run was stopped; the
// progress dialog's counts of finished work and its buttons.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QClipboard>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "batch/batch_state.h"
#include "settings/settings.h"
#include "support/harness.h"
#include "window/commands.h"
#include "window/progress_dialog.h"
#include "window/result_rows.h"
#include "window_fixture.h"

namespace window_test {
namespace {

using kestrune::FileResult;

class ResultsTest : public WindowTest {
  protected:
    // The result column of every row, by file name.
    std::map<std::string, QString> Results() const {
        std::map<std::string, QString> rows;
        QTreeWidget* list = window()->InputListView();
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            const QString path = list->topLevelItem(i)->text(0);
            rows[path.mid(path.lastIndexOf('/') + 1).toStdString()] = list->topLevelItem(i)->text(1);
        }
        return rows;
    }
    bool AllReported() const {
        for (const auto& [name, text] : Results())
            if (text == "waiting") return false;
        return true;
    }
    kestrune::ProgressDialog* Convert() {
        QTest::mouseClick(window()->ConvertButton(), Qt::LeftButton);
        return window()->ConversionDialog();
    }
};

TEST_F(ResultsTest, EachRowShowsWhatBecameOfItsFile) {
    testing_support::TempDir in, out;
    WriteGifs(in.path(), {"one.gif", "two.gif"});
    testing_support::WriteFileBytes(in.path() + "/bad.gif", "not a picture\n");
    kestrune::settings.do_watermark = kestrune::kNoWatermark;
    kestrune::settings.do_image_resize = 0;
    Drop({QString::fromStdString(in.path())});
    window()->SetOutputFolder(QString::fromStdString(out.path()));
    window()->FormatBox()->setCurrentIndex(window()->FormatBox()->findData("png"));

    kestrune::ProgressDialog* dialog = Convert();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->StopButton()->isVisible());
    ASSERT_TRUE(WaitUntil([&] { return dialog->OkButton()->isEnabled() && AllReported(); }));
    EXPECT_EQ(dialog->TextLine()->text(), "Files converted: 2 of 3");
    EXPECT_EQ(dialog->Bar()->value(), 3);
    EXPECT_FALSE(dialog->StopButton()->isVisible());
    EXPECT_TRUE(dialog->DetailLine()->text().startsWith("Frames finished: "));
    EXPECT_NE(dialog->DetailLine()->text(), "Frames finished: 0");
    const std::map<std::string, QString> expected = {
        {"bad.gif", "not converted: no GIF frame can be read from the file"},
        {"one.gif", "converted: 1 output"},
        {"two.gif", "converted: 1 output"},
    };
    EXPECT_EQ(Results(), expected);
    QTreeWidget* list = window()->InputListView();
    QTreeWidgetItem* bad = list->findItems("bad.gif", Qt::MatchEndsWith).value(0);
    ASSERT_NE(bad, nullptr);
    EXPECT_EQ(kestrune::ResultRows::StatusOf(bad), FileResult::Status::Failed);
    EXPECT_TRUE(bad->toolTip(0).contains("no GIF frame can be read")) << bad->toolTip(0).toStdString();

    // Only the failures, then every row again, copied with its result.
    window()->Results()->FailuresOnly()->setChecked(true);
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        EXPECT_EQ(list->topLevelItem(i)->isHidden(), list->topLevelItem(i) != bad);
    window()->Results()->FailuresOnly()->setChecked(false);
    QTest::mouseClick(dialog->OpenFolderButton(), Qt::LeftButton);
    ASSERT_EQ(opened_urls_.size(), 1u);
    EXPECT_EQ(opened_urls_[0], QUrl::fromLocalFile(QString::fromStdString(out.path() + "/")).toString());
    QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return !window()->Busy(); }));
    list->clearSelection();
    bad->setSelected(true);
    list->setFocus();
    window()->RunCommand(kestrune::kCommandCopy);
    EXPECT_EQ(QApplication::clipboard()->text(),
              bad->text(0) + "\tnot converted: no GIF frame can be read from the file");

    // Stopped before its first file: nothing is reached.
    kestrune::pause_gate.Close();
    dialog = Convert();
    ASSERT_NE(dialog, nullptr);
    answer_ = true;
    QTest::mouseClick(dialog->StopButton(), Qt::LeftButton);
    ASSERT_EQ(questions_.size(), 1u);
    EXPECT_EQ(questions_[0].text, "Do you want to break the conversion?");
    ASSERT_TRUE(WaitUntil([&] { return dialog->OkButton()->isEnabled() && AllReported(); }));
    for (const auto& [name, text] : Results()) EXPECT_EQ(text, "not reached") << name;
    QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
}

}  // namespace
}  // namespace window_test
