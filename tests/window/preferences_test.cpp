// The preferences window and "config.ini": what the user sets there, and the
// window placement, survive an end and a new start of the window mode.
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <filesystem>

#include "settings/mask_tokens.h"
#include "settings/preferences.h"
#include "settings/settings.h"
#include "window/pickers.h"
#include "window/preferences_dialog.h"
#include "window_fixture.h"

namespace window_test {
namespace {

using kestrune::PreferencesDialog;
using kestrune::settings;

template <class W>
W* Editor(const PreferencesDialog& d, const char* group, const char* key) {
    auto* w = qobject_cast<W*>(d.EditorFor(group, key));
    EXPECT_NE(w, nullptr) << group << "." << key;
    return w;
}

void Pick(QComboBox* box, int code) {
    const int index = box->findData(code);
    ASSERT_GE(index, 0) << "code " << code;
    box->setCurrentIndex(index);
}

class PreferencesTest : public WindowTest {};

TEST_F(PreferencesTest, MaskHelpNamesEveryTokenTheNamingExpands) {
    PreferencesDialog dialog(window());
    QString help;
    for (const QLabel* label : dialog.findChildren<QLabel*>())
        if (label->text().startsWith("Tokens:")) help = label->text();
    ASSERT_FALSE(help.isEmpty());
    for (const kestrune::MaskTokenRow& token : kestrune::kMaskTokens)
        EXPECT_TRUE(help.contains(token.text)) << token.text;
}

TEST_F(PreferencesTest, ChangedSettingsSurviveARestartThroughConfigIni) {
    {
        PreferencesDialog dialog(window());
        QComboBox* format = Editor<QComboBox>(dialog, "Output", "Format");
        format->setCurrentIndex(format->findData("jpg"));
        Editor<QSpinBox>(dialog, "Output", "JPG Quality")->setValue(77);
        Pick(Editor<QComboBox>(dialog, "Output", "JPG Chroma"), 2);
        Pick(Editor<QComboBox>(dialog, "Output", "TIFF Compression"), 6);
        Pick(Editor<QComboBox>(dialog, "Output", "PNG BPP"), 24);
        Editor<QCheckBox>(dialog, "Transform", "Do Image Resize")->setChecked(true);
        Editor<QSpinBox>(dialog, "Transform", "Image Width")->setValue(640);
        Pick(Editor<QComboBox>(dialog, "Transform", "Image Resize Algorithm"), 5);
        Editor<QCheckBox>(dialog, "Transform", "Do Image Flip Vertical")->setChecked(true);
        Editor<QDoubleSpinBox>(dialog, "Adjustment", "Image Gamma")->setValue(2.5);
        Editor<QSpinBox>(dialog, "Frame", "Solid Left")->setValue(7);
        Editor<kestrune::ColourButton>(dialog, "Frame", "Solid Left Color")->SetColour("12AB34");
        Pick(Editor<QComboBox>(dialog, "Watermark", "Do Watermark"), 1);
        Editor<QPlainTextEdit>(dialog, "Watermark", "Text")->setPlainText("Hello\nWorld");
        Editor<kestrune::FontPicker>(dialog, "Watermark", "Font")->SetFace("Liberation Serif");
        Editor<kestrune::ColourButton>(dialog, "Watermark", "Font Color")->SetColour("FF8000");
        Pick(Editor<QComboBox>(dialog, "Watermark", "Text Position"), 4);
        Editor<kestrune::PathPicker>(dialog, "Watermark", "Image")->SetPath("/tmp/logo.png");
        Editor<QLineEdit>(dialog, "Advanced", "Filename Mask")->setText("%n%-%filename%.%ext%");
        Pick(Editor<QComboBox>(dialog, "Advanced", "File Timestamp"), 2);
        Editor<QDateTimeEdit>(dialog, "Advanced", "Custom Timestamp")
            ->setDateTime(QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7), Qt::UTC));
        Editor<QCheckBox>(dialog, "Advanced", "Keep Subfolders")->setChecked(false);
        Pick(Editor<QComboBox>(dialog, "Input", "GIF Frame Loading"), 3);
        QTest::mouseClick(dialog.findChild<QPushButton*>("ok"), Qt::LeftButton);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    const std::string ini = testing_support::ReadFileBytes(config_->path() + "/Tarvel/kestrune/config.ini");
    EXPECT_NE(ini.find("JPG Quality = 77"), std::string::npos);

    Finish();
    kestrune::SetDefaultSettings(settings, true);  // nothing left over in memory
    Start();

    EXPECT_EQ(settings.output_format, "jpg");
    EXPECT_EQ(settings.jpg_quality, 77);
    EXPECT_EQ(settings.jpg_chroma, 2);
    EXPECT_EQ(settings.tiff_compression, 6);
    EXPECT_EQ(settings.png_bpp, 24);
    EXPECT_EQ(settings.do_image_resize, 1);
    EXPECT_EQ(settings.image_width, 640);
    EXPECT_EQ(settings.image_resize_algorithm, 5);
    EXPECT_EQ(settings.do_image_flip_vertical, 1);
    EXPECT_FLOAT_EQ(settings.image_gamma, 2.5f);
    EXPECT_EQ(settings.solid_left, 7);
    EXPECT_EQ(settings.solid_left_color, "12AB34");
    EXPECT_EQ(settings.do_watermark, kestrune::kTextWatermark);
    EXPECT_EQ(settings.text, "Hello%eol%World");
    EXPECT_EQ(settings.font, "Liberation Serif");
    EXPECT_EQ(settings.font_color, "FF8000");
    EXPECT_EQ(settings.text_position, 4);
    EXPECT_EQ(settings.watermark_image, "/tmp/logo.png");
    EXPECT_EQ(settings.filename_mask, "%n%-%filename%.%ext%");
    EXPECT_EQ(settings.file_timestamp, 2);
    EXPECT_EQ(settings.custom_timestamp, QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7), Qt::UTC).toSecsSinceEpoch());
    EXPECT_EQ(settings.keep_subfolders, 0);
    EXPECT_EQ(settings.gif_frame_loading, 3);
    EXPECT_EQ(window()->FormatBox()->currentText(), "JPG (JPEG File Format)");

    // A new preferences window shows what was stored.
    PreferencesDialog again(window());
    EXPECT_EQ(Editor<QSpinBox>(again, "Output", "JPG Quality")->value(), 77);
    EXPECT_EQ(Editor<QPlainTextEdit>(again, "Watermark", "Text")->toPlainText(), "Hello\nWorld");
    EXPECT_EQ(Editor<kestrune::ColourButton>(again, "Frame", "Solid Left Color")->Colour(), "12AB34");
    EXPECT_EQ(Editor<QDateTimeEdit>(again, "Advanced", "Custom Timestamp")->dateTime().time(), QTime(5, 6, 7));
}

TEST_F(PreferencesTest, CancelAndDefaultsLeaveTheStoredSettingsAlone) {
    settings.jpg_quality = 60;
    {
        PreferencesDialog dialog(window());
        Editor<QSpinBox>(dialog, "Output", "JPG Quality")->setValue(10);
        dialog.reject();
    }
    EXPECT_EQ(settings.jpg_quality, 60);
    {
        PreferencesDialog dialog(window());
        answer_ = true;
        QTest::mouseClick(dialog.findChild<QPushButton*>("defaults"), Qt::LeftButton);
        ASSERT_EQ(questions_.size(), 1u);
        EXPECT_EQ(questions_[0].text, "Are you sure you want to reset all your settings to the default values?");
        EXPECT_EQ(Editor<QSpinBox>(dialog, "Output", "JPG Quality")->value(), 95);
        EXPECT_EQ(settings.jpg_quality, 60) << "defaults apply only with OK";
        // The window mode's own default: keep the aspect ratio.
        EXPECT_TRUE(Editor<QCheckBox>(dialog, "Transform", "Keep Aspect Ratio")->isChecked());
    }
}

// The record holds any value; an editor only holds values in its range. OK
// stores what the user changed and leaves every other value as it was.
TEST_F(PreferencesTest, OkKeepsUntouchedValuesOutsideTheEditorsRanges) {
    settings.image_rotation = 450;
    settings.image_width = 70000;
    settings.jpg_quality = 0;
    settings.solid_left = 3;
    {
        PreferencesDialog dialog(window());
        EXPECT_EQ(Editor<QSpinBox>(dialog, "Transform", "Image Width")->value(), 65535) << "the editor clamps";
        Editor<QSpinBox>(dialog, "Frame", "Solid Left")->setValue(7);
        QTest::mouseClick(dialog.findChild<QPushButton*>("ok"), Qt::LeftButton);
        ASSERT_EQ(dialog.result(), QDialog::Accepted);
    }
    EXPECT_EQ(settings.image_rotation, 450);
    EXPECT_EQ(settings.image_width, 70000);
    EXPECT_EQ(settings.jpg_quality, 0);
    EXPECT_EQ(settings.solid_left, 7);
    const std::string ini = testing_support::ReadFileBytes(config_->path() + "/Tarvel/kestrune/config.ini");
    EXPECT_NE(ini.find("Image Width = 70000"), std::string::npos);

    // A value the user does change is taken as the editor gives it.
    {
        PreferencesDialog dialog(window());
        Editor<QSpinBox>(dialog, "Output", "JPG Quality")->setValue(80);
        QTest::mouseClick(dialog.findChild<QPushButton*>("ok"), Qt::LeftButton);
    }
    EXPECT_EQ(settings.jpg_quality, 80);
    EXPECT_EQ(settings.image_width, 70000);

    // After "Defaults", OK stores every editor.
    {
        PreferencesDialog dialog(window());
        answer_ = true;
        QTest::mouseClick(dialog.findChild<QPushButton*>("defaults"), Qt::LeftButton);
        QTest::mouseClick(dialog.findChild<QPushButton*>("ok"), Qt::LeftButton);
    }
    EXPECT_EQ(settings.jpg_quality, 95);
    EXPECT_NE(settings.image_width, 70000);
}

TEST_F(PreferencesTest, EveryConversionSettingHasAnEditor) {
    PreferencesDialog dialog(window());
    const std::vector<std::string> shown_groups = {"Output", "Transform", "Adjustment", "Frame", "Watermark"};
    for (const kestrune::SettingKey& row : kestrune::SettingKeys()) {
        const bool conversion = std::find(shown_groups.begin(), shown_groups.end(), row.group) != shown_groups.end();
        if (conversion) {
            EXPECT_NE(dialog.EditorFor(row.group, row.key), nullptr) << row.group << "." << row.key;
        }
    }
    for (const char* key : {"Filename Mask", "File Timestamp", "Custom Timestamp", "Keep Subfolders"})
        EXPECT_NE(dialog.EditorFor("Advanced", key), nullptr) << key;
    EXPECT_NE(dialog.EditorFor("Input", "GIF Frame Loading"), nullptr);
}

TEST_F(PreferencesTest, PlacementIsStoredAsTheWindowWasLeft) {
    window()->showNormal();
    window()->setGeometry(40, 50, 700, 420);
    QCoreApplication::processEvents();
    Finish();
    EXPECT_EQ(settings.is_maximized, 0);
    EXPECT_EQ(settings.window_width, 700);
    EXPECT_EQ(settings.window_height, 420);
    const int x = settings.window_x;

    kestrune::SetDefaultSettings(settings, true);
    kestrune::MainWindow* w = Start();
    EXPECT_EQ(w->size(), QSize(700, 420));
    EXPECT_EQ(settings.window_x, x);

    // Maximised: the flag, and the normal placement stays as it was.
    w->showMaximized();
    QCoreApplication::processEvents();
    Finish();
    EXPECT_EQ(settings.is_maximized, 1);
    EXPECT_EQ(settings.window_width, 700);
    kestrune::SetDefaultSettings(settings, true);
    w = Start();
    EXPECT_TRUE(w->isMaximized());

    // Minimised: nothing at all is stored.
    w->showMinimized();
    QCoreApplication::processEvents();
    settings.window_width = 1234;
    Finish();
    EXPECT_EQ(settings.window_width, 1234);
    EXPECT_EQ(settings.is_maximized, 1);
}

TEST_F(PreferencesTest, MinimumSizeHoldsEvenForASmallerStoredSize) {
    EXPECT_EQ(window()->minimumSize(), QSize(510, 330));
    Finish();
    settings.window_width = 100;
    settings.window_height = 50;
    settings.is_maximized = 0;
    ASSERT_TRUE(kestrune::SavePreferences(kestrune::PreferencesPath()));
    kestrune::MainWindow* w = Start();
    EXPECT_GE(w->width(), 510);
    EXPECT_GE(w->height(), 330);
}

}  // namespace
}  // namespace window_test
