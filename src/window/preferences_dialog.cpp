#include "window/preferences_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTimeZone>
#include <QVBoxLayout>
#include <cstring>

#include "settings/text_table.h"
#include "settings/mask_tokens.h"
#include "formats/registry.h"
#include "platform/text.h"
#include "settings/preferences.h"
#include "window/dialogs.h"
#include "window/links.h"
#include "window/pickers.h"

namespace kestrune {
namespace {

// ---- reading and writing a field whatever its kind ----

int IntOf(const Settings& s, const SettingField& field) {
    return std::visit(
        [&](auto member) -> int {
            using T = std::remove_cvref_t<decltype(s.*member)>;
            if constexpr (std::is_same_v<T, std::string>) return 0;
            else return static_cast<int>(s.*member);
        },
        field);
}

void SetInt(Settings& s, const SettingField& field, int value) {
    std::visit(
        [&](auto member) {
            using T = std::remove_cvref_t<decltype(s.*member)>;
            if constexpr (!std::is_same_v<T, std::string>) s.*member = static_cast<T>(value);
        },
        field);
}

QString TextOf(const Settings& s, const SettingField& field) {
    if (auto member = std::get_if<std::string Settings::*>(&field)) return QString::fromStdString(s.**member);
    return {};
}

void SetText(Settings& s, const SettingField& field, const QString& value) {
    if (auto member = std::get_if<std::string Settings::*>(&field)) s.**member = value.toStdString();
}

float RealOf(const Settings& s, const SettingField& field) {
    if (auto member = std::get_if<float Settings::*>(&field)) return s.**member;
    return 0;
}

void SetReal(Settings& s, const SettingField& field, float value) {
    if (auto member = std::get_if<float Settings::*>(&field)) s.**member = value;
}

// ---- what editor a setting gets ----

struct SpinRange {
    const char* group;
    const char* key;
    int low, high;
};

// The ranges the batch checks where it has them; elsewhere what makes sense
// for an image of the sizes FreeImage handles.
constexpr SpinRange kRanges[] = {
    {"General", "Update Range", 0, 365},
    {"Advanced", "Out Folders Number", 1, 127},
    {"Output", "JPG Quality", 1, 100},
    {"Transform", "Image Rotation", -360, 360},
    {"Transform", "Image Width", 0, 65535},
    {"Transform", "Image Height", 0, 65535},
    {"Adjustment", "Image Brightness", -100, 100},
    {"Adjustment", "Image Contrast", -100, 100},
    {"Adjustment", "Image Threshold", 0, 255},
    {"Frame", "Solid Left", 0, 10000},
    {"Frame", "Solid Right", 0, 10000},
    {"Frame", "Solid Top", 0, 10000},
    {"Frame", "Solid Bottom", 0, 10000},
    {"Frame", "Solid Opacity", 0, 255},
    {"Watermark", "Font Size", 1, 1000},
    {"Watermark", "Font Leading", -1000, 1000},
    {"Watermark", "Text Padding", 0, 1000},
    {"Watermark", "Text Opacity", 0, 255},
    {"Watermark", "Back Opacity", 0, 255},
    {"Watermark", "Text Rotation", -360, 360},
    {"Watermark", "Text Scale", 0, 1000},
    {"Watermark", "Image Opacity", 0, 255},
    {"Watermark", "Image Rotation", -360, 360},
    {"Watermark", "Image Scale", 0, 1000},
};

SpinRange RangeOf(const SettingKey& row) {
    for (const SpinRange& r : kRanges)
        if (std::strcmp(r.group, row.group) == 0 && std::strcmp(r.key, row.key) == 0) return r;
    return {row.group, row.key, -100000, 100000};
}

// Each compression key understands only some codes of the shared table.
struct CompressionChoices {
    const char* key;
    std::vector<const char*> names;
};

const std::vector<CompressionChoices>& CompressionTable() {
    static const std::vector<CompressionChoices> table = {
        {"BMP Compression", {"NONE", "RLE"}},
        {"EXR Compression", {"NONE", "ZIP", "PIZ", "PXR24", "B44"}},
        {"PNG Compression", {"NONE", "ZLIB1", "ZLIB6", "ZLIB9"}},
        {"TGA Compression", {"NONE", "RLE"}},
        {"TIFF Compression",
         {"NONE", "CCITTFAX3", "CCITTFAX4", "PACKBITS", "DEFLATE", "ADOBEDEFLATE", "LZW", "JPEG", "LOGLUV"}},
    };
    return table;
}

QString Label(const SettingKey& row) {
    return QString::fromStdString(GetText("Preferences", std::string(row.group) + "." + row.key));
}

QString ChoiceCaption(const std::string& name) {
    return QString::fromStdString(GetText("Preferences", "Choice." + name));
}

bool EndsWith(const char* text, const char* tail) {
    const size_t n = std::strlen(text), m = std::strlen(tail);
    return n >= m && std::strcmp(text + n - m, tail) == 0;
}

QString FormatCaption(const std::string& id) {
    return QString::fromStdString(ToUpperAscii(id) + " (" + DescriptionOf(id) + ")");
}

// Watermark lines are separated by "%eol%" in the settings and by line
// breaks in the editor.
QString EditorTextFromWatermark(const QString& text) {
    QString t = text;
    return t.replace(QStringLiteral("%eol%"), QStringLiteral("\n"), Qt::CaseInsensitive);
}

QString WatermarkFromEditorText(const QString& text) {
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return t.replace(QLatin1Char('\n'), QStringLiteral("%eol%"));
}

QWidget* Scrolled(QWidget* content) {
    auto* area = new QScrollArea;
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    area->setWidget(content);
    return area;
}

// The editors of a box follow its switch: off greys them out.
void TieToSwitch(QWidget* switch_editor, const std::vector<QWidget*>& editors) {
    auto* box = qobject_cast<QCheckBox*>(switch_editor);
    if (!box) return;
    auto apply = [editors](bool on) {
        for (QWidget* w : editors)
            if (w) w->setEnabled(on);
    };
    QObject::connect(box, &QCheckBox::toggled, box, apply);
    apply(box->isChecked());
}

}  // namespace

PreferencesDialog::PreferencesDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(Text("Preferences", "Title"));
    pages_ = new QTabWidget(this);
    pages_->addTab(BuildGeneralPage(), Text("Preferences", "General"));
    pages_->addTab(BuildInputPage(), Text("Preferences", "Input"));
    pages_->addTab(BuildOutputPage(), Text("Preferences", "Output"));
    pages_->addTab(BuildTransformPage(), Text("Preferences", "Transform"));
    pages_->addTab(BuildAdjustmentPage(), Text("Preferences", "Adjustment"));
    pages_->addTab(BuildFramePage(), Text("Preferences", "Frame"));
    pages_->addTab(BuildWatermarkPage(), Text("Preferences", "Watermark"));
    pages_->addTab(BuildAdvancedPage(), Text("Preferences", "Advanced"));

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(Text("Dialog", "OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    buttons->addButton(Text("Dialog", "Cancel"), QDialogButtonBox::RejectRole);
    QPushButton* defaults = buttons->addButton(Text("Dialog", "Defaults"), QDialogButtonBox::ResetRole);
    defaults->setObjectName(QStringLiteral("defaults"));
    QPushButton* help = buttons->addButton(Text("Dialog", "Help"), QDialogButtonBox::HelpRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(defaults, &QPushButton::clicked, this, &PreferencesDialog::ResetToDefaults);
    connect(help, &QPushButton::clicked, this, [this] {
        const QString manual = FindManual();
        if (manual.isEmpty() || !OpenUrl(QUrl::fromLocalFile(manual)))
            ShowWarning(this, Text("Msg", "Error"),
                        QString::fromStdString(FormatText(GetText("Msg", "Unable to open file"), "manual.html")));
    });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pages_, 1);
    layout->addWidget(buttons);
    resize(760, 600);
    LoadFrom(settings);
    opened_with_ = settings;
    as_opened_ = settings;
    StoreInto(as_opened_);
}

QWidget* PreferencesDialog::EditorFor(const std::string& group, const std::string& key) const {
    const auto it = editors_.find(group + "." + key);
    return it == editors_.end() ? nullptr : it->second;
}

QWidget* PreferencesDialog::AddSetting(QWidget* page, QFormLayout* form, const char* group, const char* key) {
    const SettingKey* row = FindSettingKey(group, key);
    if (!row) return nullptr;
    QWidget* editor = MakeEditor(page, *row);
    editor->setObjectName(QString::fromLatin1(group) + QLatin1Char('.') + QString::fromLatin1(key));
    editors_[std::string(group) + "." + key] = editor;
    if (qobject_cast<QCheckBox*>(editor)) form->addRow(QString(), editor);
    else form->addRow(Label(*row), editor);
    return editor;
}

QWidget* PreferencesDialog::MakeChoice(QWidget* parent, const SettingKey& row,
                                       const std::vector<std::pair<QString, int>>& items) {
    auto* box = new QComboBox(parent);
    for (const auto& [caption, code] : items) box->addItem(caption, code);
    const SettingField field = row.field;
    bindings_.push_back({[box, field](const Settings& s) {
                             // A stored code this list does not offer stays
                             // as it is until the user picks another.
                             box->setCurrentIndex(box->findData(IntOf(s, field)));
                         },
                         [box, field](Settings& s) {
                             if (box->currentIndex() >= 0) SetInt(s, field, box->currentData().toInt());
                         }});
    return box;
}

QWidget* PreferencesDialog::MakeColourPicker(QWidget* parent, const SettingKey& row) {
    const bool text_colour = std::strcmp(row.key, "Font Color") == 0;
    auto* picker = new ColourButton(
        parent, QString::fromStdString(text_colour ? settings.font_colors : settings.back_colors));
    const SettingField field = row.field;
    bindings_.push_back({[picker, field](const Settings& s) { picker->SetColour(TextOf(s, field)); },
                         [picker, field](Settings& s) { SetText(s, field, picker->Colour()); }});
    return picker;
}

QWidget* PreferencesDialog::MakeImagePicker(QWidget* parent, const SettingKey& row) {
    QStringList patterns;
    for (const InputExtension& row : InputExtensions())
        patterns << QStringLiteral("*.") + QString::fromUtf8(row.key.data(), static_cast<qsizetype>(row.key.size()));
    patterns.sort();
    const QString filter = Text("Dialog", "All Supported Files") + QStringLiteral(" (") +
                           patterns.join(QLatin1Char(' ')) + QStringLiteral(");;") + Text("Dialog", "All Files") +
                           QStringLiteral(" (*)");
    auto* picker = new PathPicker(parent, Text("Dialog", "Select Watermark Image"), filter);
    const SettingField field = row.field;
    bindings_.push_back({[picker, field](const Settings& s) { picker->SetPath(TextOf(s, field)); },
                         [picker, field](Settings& s) { SetText(s, field, picker->Path()); }});
    return picker;
}

QWidget* PreferencesDialog::MakeFontPicker(QWidget* parent, const SettingKey& row) {
    auto* picker = new FontPicker(parent, QString::fromStdString(settings.fonts).split(QLatin1Char(',')));
    // The font dialog gives size, style and effect as well: they go to their
    // own editors, which exist by the time the user can open it.
    connect(picker, &FontPicker::FontChosen, this, [this](const QFont& font) {
        if (auto* size = qobject_cast<QSpinBox*>(EditorFor("Watermark", "Font Size")))
            size->setValue(font.pointSize() > 0 ? font.pointSize() : size->value());
        if (auto* style = qobject_cast<QComboBox*>(EditorFor("Watermark", "Font Style")))
            style->setCurrentIndex(style->findData((font.bold() ? 1 : 0) + (font.italic() ? 2 : 0)));
        if (auto* effect = qobject_cast<QComboBox*>(EditorFor("Watermark", "Font Effect")))
            effect->setCurrentIndex(effect->findData(font.underline() ? 1 : font.strikeOut() ? 2 : 0));
    });
    const SettingField field = row.field;
    bindings_.push_back({[picker, field](const Settings& s) { picker->SetFace(TextOf(s, field)); },
                         [picker, field](Settings& s) { SetText(s, field, picker->Face()); }});
    return picker;
}

QWidget* PreferencesDialog::MakeEditor(QWidget* parent, const SettingKey& row) {
    const SettingField field = row.field;
    const std::string group = row.group, key = row.key;

    if (group == "Watermark" && key == "Do Watermark") {
        return MakeChoice(parent, row,
                          {{ChoiceCaption("WM NONE"), 0}, {ChoiceCaption("WM TEXT"), 1}, {ChoiceCaption("WM IMAGE"), 2}});
    }
    const OutputFormat* depth_of = group == "Output" ? FormatOfBitDepthSetting(key) : nullptr;
    if (depth_of) {
        std::vector<std::pair<QString, int>> items = {{Text("Preferences", "Automatic"), 0}};
        for (const int32_t depth : depth_of->allowed_bpp)
            items.emplace_back(QString::fromStdString(FormatText(GetText("Preferences", "Bits"), std::to_string(depth))),
                               depth);
        return MakeChoice(parent, row, items);
    }
    if (row.table == kTableCompression) {
        std::vector<std::pair<QString, int>> items;
        for (const auto& c : CompressionTable())
            if (key == c.key)
                for (const char* name : c.names) items.emplace_back(ChoiceCaption(name), LookupValueName(name, kTableCompression));
        return MakeChoice(parent, row, items);
    }
    if (row.table != kNoTable) {
        std::vector<std::pair<QString, int>> items;
        for (const ValueName& v : ValueNames(row.table)) {
            // A code named twice (never within these tables but the
            // compression one) is offered once, under its first name.
            bool seen = false;
            for (const auto& item : items) seen = seen || item.second == v.code;
            if (!seen) items.emplace_back(ChoiceCaption(v.name), v.code);
        }
        return MakeChoice(parent, row, items);
    }
    if (group == "Advanced" && key == "Custom Timestamp") {
        auto* edit = new QDateTimeEdit(parent);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        edit->setCalendarPopup(true);
        // The setting counts local wall-clock time as if it were UTC, so the
        // editor shows it in UTC to show the local clock reading unchanged.
        edit->setTimeSpec(Qt::UTC);
        bindings_.push_back({[edit, field](const Settings& s) {
                                 edit->setDateTime(QDateTime::fromSecsSinceEpoch(IntOf(s, field), QTimeZone::utc()));
                             },
                             [edit, field](Settings& s) {
                                 SetInt(s, field, static_cast<int>(edit->dateTime().toSecsSinceEpoch()));
                             }});
        return edit;
    }
    switch (row.kind) {
        case SettingKind::Byte:
            if (key != "Out Folders Number") {
                auto* box = new QCheckBox(Label(row), parent);
                bindings_.push_back({[box, field](const Settings& s) { box->setChecked(IntOf(s, field) != 0); },
                                     [box, field](Settings& s) { SetInt(s, field, box->isChecked() ? 1 : 0); }});
                return box;
            }
            [[fallthrough]];
        case SettingKind::Integer: {
            auto* spin = new QSpinBox(parent);
            const SpinRange range = RangeOf(row);
            spin->setRange(range.low, range.high);
            // A number field as wide as its numbers, not as the page.
            spin->setMaximumWidth(spin->fontMetrics().horizontalAdvance(QStringLiteral("-00000000")) + 48);
            bindings_.push_back({[spin, field](const Settings& s) { spin->setValue(IntOf(s, field)); },
                                 [spin, field](Settings& s) { SetInt(s, field, spin->value()); }});
            return spin;
        }
        case SettingKind::Real: {
            auto* spin = new QDoubleSpinBox(parent);
            spin->setMaximumWidth(spin->fontMetrics().horizontalAdvance(QStringLiteral("-00000000")) + 48);
            spin->setDecimals(2);
            spin->setRange(0.01, 9.99);
            spin->setSingleStep(0.05);
            bindings_.push_back({[spin, field](const Settings& s) { spin->setValue(RealOf(s, field)); },
                                 [spin, field](Settings& s) { SetReal(s, field, static_cast<float>(spin->value())); }});
            return spin;
        }
        case SettingKind::Text: break;
    }
    if (EndsWith(row.key, " Color")) return MakeColourPicker(parent, row);
    if (group == "Watermark" && key == "Image") return MakeImagePicker(parent, row);
    if (group == "Watermark" && key == "Font") return MakeFontPicker(parent, row);
    if (group == "Watermark" && key == "Text") {
        auto* edit = new QPlainTextEdit(parent);
        edit->setTabChangesFocus(true);
        edit->setFixedHeight(edit->fontMetrics().lineSpacing() * 4 + 12);
        bindings_.push_back(
            {[edit, field](const Settings& s) { edit->setPlainText(EditorTextFromWatermark(TextOf(s, field))); },
             [edit, field](Settings& s) { SetText(s, field, WatermarkFromEditorText(edit->toPlainText())); }});
        return edit;
    }
    auto* line = new QLineEdit(parent);
    bindings_.push_back({[line, field](const Settings& s) { line->setText(TextOf(s, field)); },
                         [line, field](Settings& s) { SetText(s, field, line->text()); }});
    return line;
}

// ---- pages ----

namespace {

struct Box {
    QGroupBox* box;
    QFormLayout* form;
};

Box AddBox(QVBoxLayout* page, const QString& caption) {
    auto* box = new QGroupBox(caption);
    auto* form = new QFormLayout(box);
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    page->addWidget(box);
    return {box, form};
}

}  // namespace

QWidget* PreferencesDialog::BuildGeneralPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    // No update service and no recent-files list exist to act on, so
    // "Update Range" and "Clean Recent Files" have no control here.
    Box box = AddBox(layout, QString());
    AddSetting(page, box.form, "General", "Save Window Position");
    layout->addStretch();
    return Scrolled(page);
}

QWidget* PreferencesDialog::BuildInputPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    // Only GIF is read; the load settings of the other input formats have no
    // effect and are left to the preference file.
    Box box = AddBox(layout, Text("Preferences", "Frame Loading"));
    AddSetting(page, box.form, "Input", "GIF Frame Loading");
    layout->addStretch();
    return Scrolled(page);
}

QWidget* PreferencesDialog::BuildOutputPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    Box top = AddBox(layout, QString());
    const SettingKey* format_row = FindSettingKey("Output", "Format");
    auto* format = new QComboBox(page);
    format->setObjectName(QStringLiteral("Output.Format"));
    for (const std::string& id : OutputFormatList()) format->addItem(FormatCaption(id), QString::fromStdString(id));
    top.form->addRow(format_row ? Label(*format_row) : QString(), format);
    editors_["Output.Format"] = format;

    Box options = AddBox(layout, Text("Preferences", "Format Options"));
    format_options_ = new QStackedWidget(page);
    options.form->addRow(format_options_);
    // One page of options per format: its depth, then its encoder settings.
    for (const OutputFormat& format : OutputFormats()) {
        auto* options_page = new QWidget(format_options_);
        auto* form = new QFormLayout(options_page);
        form->setContentsMargins(0, 0, 0, 0);
        AddSetting(options_page, form, "Output", format.bpp_setting);
        for (const EncoderOption& option : format.encoder_options) AddSetting(options_page, form, "Output", option.key);
        format_options_->addWidget(options_page);
    }
    connect(format, &QComboBox::currentIndexChanged, format_options_, &QStackedWidget::setCurrentIndex);
    bindings_.push_back({[format](const Settings& s) {
                             int index = format->findData(QString::fromStdString(s.output_format));
                             format->setCurrentIndex(index < 0 ? 0 : index);
                         },
                         [format](Settings& s) {
                             if (format->currentIndex() >= 0) s.output_format = format->currentData().toString().toStdString();
                         }});
    layout->addStretch();
    return Scrolled(page);
}

QWidget* PreferencesDialog::BuildTransformPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    Box rotation = AddBox(layout, Text("Preferences", "Rotation"));
    QWidget* rotate = AddSetting(page, rotation.form, "Transform", "Do Image Rotation");
    TieToSwitch(rotate, {AddSetting(page, rotation.form, "Transform", "Image Rotation Type"),
                         AddSetting(page, rotation.form, "Transform", "Image Rotation"),
                         AddSetting(page, rotation.form, "Transform", "Image Rotation Back Color")});
    Box resize = AddBox(layout, Text("Preferences", "Resize"));
    QWidget* do_resize = AddSetting(page, resize.form, "Transform", "Do Image Resize");
    TieToSwitch(do_resize, {AddSetting(page, resize.form, "Transform", "Image Width"),
                            AddSetting(page, resize.form, "Transform", "Image Width Unit"),
                            AddSetting(page, resize.form, "Transform", "Image Height"),
                            AddSetting(page, resize.form, "Transform", "Image Height Unit"),
                            AddSetting(page, resize.form, "Transform", "Keep Aspect Ratio"),
                            AddSetting(page, resize.form, "Transform", "Image Resize Type"),
                            AddSetting(page, resize.form, "Transform", "Image Resize Algorithm")});
    Box flip = AddBox(layout, Text("Preferences", "Flip"));
    AddSetting(page, flip.form, "Transform", "Do Image Flip Horizontal");
    AddSetting(page, flip.form, "Transform", "Do Image Flip Vertical");
    layout->addStretch();
    return Scrolled(page);
}

QWidget* PreferencesDialog::BuildAdjustmentPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    Box colour = AddBox(layout, Text("Preferences", "Color Correction"));
    QWidget* correct = AddSetting(page, colour.form, "Adjustment", "Do Image Color Correction");
    TieToSwitch(correct, {AddSetting(page, colour.form, "Adjustment", "Image Brightness"),
                          AddSetting(page, colour.form, "Adjustment", "Image Contrast"),
                          AddSetting(page, colour.form, "Adjustment", "Image Gamma"),
                          AddSetting(page, colour.form, "Adjustment", "Image Invert")});
    Box other = AddBox(layout, Text("Preferences", "Adjustment"));
    AddSetting(page, other.form, "Adjustment", "Do Image Greyscale");
    QWidget* threshold = AddSetting(page, other.form, "Adjustment", "Do Image Threshold");
    TieToSwitch(threshold, {AddSetting(page, other.form, "Adjustment", "Image Threshold")});
    layout->addStretch();
    return Scrolled(page);
}

QWidget* PreferencesDialog::BuildFramePage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    Box frame = AddBox(layout, QString());
    QWidget* on = AddSetting(page, frame.form, "Frame", "Do Frame");
    std::vector<QWidget*> editors;
    for (const SettingKey& row : SettingKeys())
        if (std::strcmp(row.group, "Frame") == 0 && std::strcmp(row.key, "Do Frame") != 0)
            editors.push_back(AddSetting(page, frame.form, row.group, row.key));
    TieToSwitch(on, editors);
    layout->addStretch();
    return Scrolled(page);
}

QWidget* PreferencesDialog::BuildWatermarkPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    Box kind = AddBox(layout, QString());
    auto* mode = qobject_cast<QComboBox*>(AddSetting(page, kind.form, "Watermark", "Do Watermark"));

    Box text = AddBox(layout, Text("Preferences", "Text Watermark"));
    for (const char* key : {"Text", "Font", "Fonts", "Font Size", "Font Leading", "Font Style", "Font Effect",
                            "Font Color", "Font Colors", "Text Antialiasing", "Text Alignment", "Text Padding",
                            "Text Opacity", "Back Color", "Back Colors", "Back Opacity"})
        AddSetting(page, text.form, "Watermark", key);
    Box text_place = AddBox(layout, Text("Preferences", "Placement"));
    for (const char* key : {"Text Boundary", "Text Position", "Text X Offset", "Text Y Offset", "Text Rotation",
                            "Text Size", "Text Scale"})
        AddSetting(page, text_place.form, "Watermark", key);

    Box image = AddBox(layout, Text("Preferences", "Image Watermark"));
    for (const char* key : {"Image", "Image Greyscale", "Image Opacity"}) AddSetting(page, image.form, "Watermark", key);
    Box image_place = AddBox(layout, Text("Preferences", "Placement"));
    for (const char* key : {"Image Boundary", "Image Position", "Image X Offset", "Image Y Offset", "Image Rotation",
                            "Image Size", "Image Scale"})
        AddSetting(page, image_place.form, "Watermark", key);

    if (mode) {
        auto apply = [mode, text, text_place, image, image_place] {
            const int kind_code = mode->currentData().toInt();
            text.box->setEnabled(kind_code == 1);
            text_place.box->setEnabled(kind_code == 1);
            image.box->setEnabled(kind_code == 2);
            image_place.box->setEnabled(kind_code == 2);
        };
        connect(mode, &QComboBox::currentIndexChanged, this, apply);
        apply();
    }
    layout->addStretch();
    return Scrolled(page);
}

QWidget* PreferencesDialog::BuildAdvancedPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    Box names = AddBox(layout, Text("Preferences", "File Names"));
    AddSetting(page, names.form, "Advanced", "Filename Mask");
    // The tokens come from the table the naming expands, so the help cannot
    // fall behind it.
    QString tokens = Text("Preferences", "Mask Help");
    for (size_t i = 0; i < kMaskTokens.size(); ++i)
        tokens += (i ? QStringLiteral(", ") : QStringLiteral(" ")) + QString::fromLatin1(kMaskTokens[i]);
    auto* help = new QLabel(tokens, page);
    help->setWordWrap(true);
    help->setTextFormat(Qt::PlainText);
    names.form->addRow(QString(), help);
    Box stamp = AddBox(layout, Text("Preferences", "Timestamp"));
    auto* which = qobject_cast<QComboBox*>(AddSetting(page, stamp.form, "Advanced", "File Timestamp"));
    QWidget* custom = AddSetting(page, stamp.form, "Advanced", "Custom Timestamp");
    if (which && custom) {
        auto apply = [which, custom] { custom->setEnabled(which->currentData().toInt() == 2); };
        connect(which, &QComboBox::currentIndexChanged, this, apply);
        apply();
    }
    Box folders = AddBox(layout, Text("Preferences", "Folders"));
    AddSetting(page, folders.form, "Advanced", "Keep Subfolders");
    QWidget* history = AddSetting(page, folders.form, "Advanced", "Out Folders History");
    TieToSwitch(history, {AddSetting(page, folders.form, "Advanced", "Out Folders Number")});
    layout->addStretch();
    return Scrolled(page);
}

// ---- load, store, save ----

void PreferencesDialog::LoadFrom(const Settings& s) {
    for (const Binding& b : bindings_) b.load(s);
}

void PreferencesDialog::StoreInto(Settings& s) const {
    for (const Binding& b : bindings_) b.store(s);
}

void PreferencesDialog::StoreChangesInto(Settings& s) const {
    // After "Defaults" every editor shows what is to be stored.
    if (reset_to_defaults_) {
        StoreInto(s);
        return;
    }
    // An editor holds its value within its own range, so a stored value
    // outside it (any value is valid in the record) would come back clamped
    // from an editor the user never touched. Only the settings whose editor
    // now gives something else than it gave when the window opened are taken.
    Settings edited = opened_with_;
    StoreInto(edited);
    for (const SettingKey& key : SettingKeys()) {
        std::visit(
            [&](auto member) {
                if (!(edited.*member == as_opened_.*member)) s.*member = edited.*member;
            },
            key.field);
    }
}

void PreferencesDialog::ResetToDefaults() {
    if (!AskQuestion(this, Text("Msg", "Reset to Defaults"), Text("Msg", "Ask reset to defaults"))) return;
    Settings defaults;
    SetDefaultSettings(defaults, false);
    LoadFrom(defaults);
    reset_to_defaults_ = true;
}

void PreferencesDialog::accept() {
    StoreChangesInto(settings);
    const std::string path = PreferencesPath();
    if (!SavePreferences(path))
        ShowWarning(this, Text("Msg", "Error"),
                    QString::fromStdString(FormatText(GetText("Msg", "Unable to save file"), path)));
    QDialog::accept();
}

}  // namespace kestrune
