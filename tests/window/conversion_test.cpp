// The conversion run of the main window: its checks, the progress dialog, the
// break question and the closing texts, with real files on disk.
#include <QComboBox>
#include <QMenuBar>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>

#include "batch/batch_state.h"
#include "settings/settings.h"
#include "support/harness.h"
#include "window/commands.h"
#include "window/progress_dialog.h"
#include "window_fixture.h"

namespace window_test {
namespace {

using kestrune::settings;

class ConversionTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        in_ = std::make_unique<testing_support::TempDir>();
        out_ = std::make_unique<testing_support::TempDir>();
        WriteGifs(in_->path(), {"one.gif", "two.gif", "sub/three.gif"});
        settings.keep_subfolders = 1;
        settings.filename_mask = "%filename%.%ext%";
        settings.do_image_resize = 0;
        settings.do_watermark = kestrune::kNoWatermark;
    }

    void ChooseFormat(const QString& id) {
        QComboBox* box = window()->FormatBox();
        const int index = box->findData(id);
        ASSERT_GE(index, 0);
        box->setCurrentIndex(index);
    }

    // Everything ready for a run of the three files to PNG.
    void Prepare() {
        Drop({QString::fromStdString(in_->path())});
        ASSERT_EQ(window()->ListedPaths().size(), 3);
        window()->SetOutputFolder(QString::fromStdString(out_->path()));
        ChooseFormat("png");
    }

    kestrune::ProgressDialog* ClickConvert() {
        QTest::mouseClick(window()->ConvertButton(), Qt::LeftButton);
        return window()->ConversionDialog();
    }

    static bool Ended(kestrune::ProgressDialog* d) { return d->OkButton()->isEnabled(); }

    std::unique_ptr<testing_support::TempDir> in_;
    std::unique_ptr<testing_support::TempDir> out_;
};

TEST_F(ConversionTest, RunsToCompleteWithCountsAndFilesOnDisk) {
    Prepare();
    kestrune::ProgressDialog* dialog = ClickConvert();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(window()->centralWidget()->isEnabled());
    EXPECT_FALSE(window()->menuBar()->isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return Ended(dialog); }));

    EXPECT_EQ(window()->StatusText(), "Conversion complete");
    EXPECT_EQ(dialog->windowTitle(), "Conversion complete (3/3)");
    EXPECT_EQ(dialog->TextLine()->text(), "Files converted: 3 of 3");
    EXPECT_EQ(dialog->Bar()->value(), 3);
    EXPECT_EQ(settings.output_format, "png");
    for (const char* name : {"one.png", "two.png", "sub/three.png"}) {
        const std::string path = out_->path() + "/" + name;
        ASSERT_TRUE(std::filesystem::exists(path)) << path;
        EXPECT_TRUE(testing_support::LoadImageFile(path)) << path;
    }
    // "F" on blue survives the trip: a flipped or swapped image would not.
    auto image = testing_support::LoadImageFile(out_->path() + "/one.png");
    ASSERT_TRUE(image);
    EXPECT_EQ(testing_support::PixelAt(image.get(), 0, 0), (testing_support::Rgba{0, 0, 255, 255}));

    QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return window()->ConversionDialog() == nullptr; }));
    EXPECT_TRUE(window()->centralWidget()->isEnabled());
    EXPECT_FALSE(window()->Busy());
    // The folder joined the favourites of the drop-down.
    EXPECT_EQ(window()->OutputFolderBox()->findText(QString::fromStdString(out_->path())), 0);
}

TEST_F(ConversionTest, TypedFolderIsUsedAsTypedWhenAFavouriteStartsWithIt) {
    const std::string typed = out_->path() + "/out";
    std::filesystem::create_directories(typed + "2");
    std::filesystem::create_directories(typed);
    settings.out_folders_history = 1;
    settings.out_folders_number = 5;
    settings.recent_out_folders = typed + "2";
    window()->ResetForNew();
    Drop({QString::fromStdString(in_->path())});
    ChooseFormat("png");

    QLineEdit* field = window()->OutputFolderBox()->lineEdit();
    field->setFocus();
    QTest::keyClicks(field, QString::fromStdString(typed));
    EXPECT_EQ(field->text().toStdString(), typed);
    QTest::keyClick(field, Qt::Key_F5);
    kestrune::ProgressDialog* dialog = window()->ConversionDialog();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return Ended(dialog); }));
    EXPECT_EQ(testing_support::ListNames(typed).size(), 3u);
    EXPECT_EQ(testing_support::ListNames(typed + "2"), std::vector<std::string>{});
}

TEST_F(ConversionTest, ClosingAndAnsweringNoLetsTheRunFinish) {
    Prepare();
    // Held shut, the worker waits before its first file, so the question is
    // certain to come while the run is still going.
    kestrune::pause_gate.Close();
    kestrune::ProgressDialog* dialog = ClickConvert();
    ASSERT_NE(dialog, nullptr);
    answer_ = false;
    dialog->close();
    ASSERT_EQ(questions_.size(), 1u);
    EXPECT_EQ(questions_[0].text, "Do you want to break the conversion?");
    EXPECT_TRUE(dialog->isVisible()) << "the question must not close the dialog";

    ASSERT_TRUE(WaitUntil([&] { return Ended(dialog); }));
    EXPECT_EQ(window()->StatusText(), "Conversion complete");
    EXPECT_EQ(dialog->TextLine()->text(), "Files converted: 3 of 3");
    EXPECT_TRUE(std::filesystem::exists(out_->path() + "/sub/three.png"));
    // Closing the ended dialog ends it like "OK".
    dialog->close();
    EXPECT_TRUE(WaitUntil([&] { return window()->ConversionDialog() == nullptr; }));
}

TEST_F(ConversionTest, ClosingAndAnsweringYesStopsTheRun) {
    Prepare();
    kestrune::pause_gate.Close();
    kestrune::ProgressDialog* dialog = ClickConvert();
    ASSERT_NE(dialog, nullptr);
    answer_ = true;
    bool worker_held = false;
    on_question_ = [&] {
        // The question comes while the worker waits at the gate.
        worker_held = dialog->Running() && !dialog->Ended();
    };
    QTest::keyClick(dialog, Qt::Key_Escape);
    ASSERT_EQ(questions_.size(), 1u);
    EXPECT_TRUE(worker_held);

    ASSERT_TRUE(WaitUntil([&] { return Ended(dialog); }));
    EXPECT_EQ(window()->StatusText(), "Conversion stopped");
    EXPECT_EQ(dialog->TextLine()->text(), "Conversion stopped");
    EXPECT_TRUE(dialog->windowTitle().startsWith("Conversion stopped (")) << dialog->windowTitle().toStdString();
    EXPECT_EQ(testing_support::ListNames(out_->path()), std::vector<std::string>{});
    QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
    EXPECT_TRUE(WaitUntil([&] { return !window()->Busy(); }));
}

TEST_F(ConversionTest, ChecksFailInTheirOrderWithWarnings) {
    struct Case {
        std::function<void()> arrange;
        QString message;
    };
    const QString missing = QString::fromStdString(out_->path() + "/nowhere");
    const std::vector<Case> cases = {
        {[] {}, "No input file(s) found. Please, add valid file(s) and try again!"},
        {[&] { Drop({QString::fromStdString(in_->path())}); },
         "The output folder's field is empty. Please, select existed output folder and try again!"},
        {[&] { window()->SetOutputFolder(missing); },
         "The following output folder is invalid or doesn't exist:\r\n" + missing +
             "\r\n\r\nPlease, correct the output path and try again!"},
        {[&] {
             window()->SetOutputFolder(QString::fromStdString(out_->path()));
             settings.do_image_resize = 1;
             settings.image_width = 0;
             settings.image_height = 0;
         },
         "Invalid resize width value!"},
        {[&] { settings.image_width = 50; }, "Invalid resize height value!"},
        {[&] {
             settings.do_image_resize = 0;
             settings.do_watermark = kestrune::kTextWatermark;
             settings.font = "No Such Face Anywhere";
         },
         "Unable to load selected font for a watermark: No Such Face Anywhere"},
        {[&] {
             settings.do_watermark = kestrune::kImageWatermark;
             settings.watermark_image.clear();
         },
         "Selected watermark image is invalid/empty!"},
        {[&] { settings.watermark_image = in_->path() + "/none.png"; },
         QString::fromStdString("Unable to load selected file as a watermark image: " + in_->path() + "/none.png")},
    };
    for (const Case& c : cases) {
        c.arrange();
        warnings_.clear();
        window()->RunCommand(kestrune::kCommandConvert);
        ASSERT_EQ(warnings_.size(), 1u) << c.message.toStdString();
        EXPECT_EQ(warnings_[0].caption, "Warning");
        EXPECT_EQ(warnings_[0].text, c.message);
        EXPECT_EQ(window()->StatusText(), "Conversion stopped");
        EXPECT_EQ(window()->ConversionDialog(), nullptr);
        EXPECT_FALSE(window()->Busy());
    }
    EXPECT_EQ(testing_support::ListNames(out_->path()), std::vector<std::string>{});
}

TEST_F(ConversionTest, ClosingTheMainWindowDuringARunAsksToBreakIt) {
    Prepare();
    for (const bool yes : {true, false}) {
        SCOPED_TRACE(yes ? "yes" : "no");
        questions_.clear();
        answer_ = yes;
        kestrune::pause_gate.Close();
        kestrune::ProgressDialog* dialog = ClickConvert();
        ASSERT_NE(dialog, nullptr);
        EXPECT_FALSE(window()->close());
        ASSERT_EQ(questions_.size(), 1u);
        EXPECT_EQ(questions_[0].text, "Do you want to break the conversion?");
        if (yes) {
            // The window closes by itself once the run has stopped.
            ASSERT_TRUE(WaitUntil([&] { return !window()->isVisible(); }));
            EXPECT_EQ(window()->StatusText(), "Conversion stopped");
            EXPECT_EQ(testing_support::ListNames(out_->path()), std::vector<std::string>{});
            window()->show();
            continue;
        }
        ASSERT_TRUE(WaitUntil([&] { return Ended(dialog); }));
        EXPECT_TRUE(window()->isVisible());
        QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
        ASSERT_TRUE(WaitUntil([&] { return !window()->Busy(); }));
        EXPECT_TRUE(window()->isVisible());
        EXPECT_TRUE(std::filesystem::exists(out_->path() + "/sub/three.png"));
    }
}

}  // namespace
}  // namespace window_test
