#include "window/preferences_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTimeZone>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "settings/text_table.h"
#include "settings/mask_tokens.h"
#include "formats/registry.h"
#include "platform/text.h"
#include "settings/preferences.h"
#include "window/dialogs.h"
#include "window/small_dialogs.h"
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

// The row of the switch a setting depends on; nullptr when it is always in
// use.
const SettingKey* SwitchOf(const SettingKey& row) {
    if (!row.use.when) return nullptr;
    for (const SettingKey& k : SettingKeys())
        if (const auto* field = std::get_if<int8_t Settings::*>(&k.field); field && *field == row.use.when) return &k;
    return nullptr;
}

// The widgets follow a switch's editor: enabled while it holds `value` (a
// check box counts as 1 when checked), greyed out otherwise.
void FollowSwitch(QWidget* switch_editor, int value, const std::vector<QWidget*>& widgets) {
    auto apply = [widgets](bool on) {
        for (QWidget* w : widgets)
            if (w) w->setEnabled(on);
    };
    if (auto* box = qobject_cast<QCheckBox*>(switch_editor)) {
        QObject::connect(box, &QCheckBox::toggled, box, [apply, value](bool checked) { apply(checked == (value != 0)); });
        apply(box->isChecked() == (value != 0));
    } else if (auto* choice = qobject_cast<QComboBox*>(switch_editor)) {
        QObject::connect(choice, &QComboBox::currentIndexChanged, choice,
                         [apply, choice, value] { apply(choice->currentData().toInt() == value); });
        apply(choice->currentData().toInt() == value);
    }
}

}  // namespace

PreferencesDialog::PreferencesDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(Text("Preferences", "Title"));
    pages_ = new QTabWidget(this);
    // The pages in the order the table first names them.
    std::vector<std::string> pages;
    for (const SettingKey& row : SettingKeys())
        if (row.page.page && std::find(pages.begin(), pages.end(), row.page.page) == pages.end())
            pages.emplace_back(row.page.page);
    for (const std::string& page : pages)
        pages_->addTab(page == "Output" ? BuildOutputPage() : BuildPage(page), Text("Preferences", page.c_str()));

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
    connect(help, &QPushButton::clicked, this, [this] { OpenManual(this); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pages_, 1);
    layout->addWidget(buttons);
    FitToScreen();
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
    // It opens on what the editors hold, so that OK without a change keeps
    // the size and style instead of putting the dialog's defaults there.
    picker->SetCurrentFont([this](const QString& face) {
        QFont font(face);
        if (auto* size = qobject_cast<QSpinBox*>(EditorFor("Watermark", "Font Size")); size && size->value() > 0)
            font.setPointSize(size->value());
        if (auto* style = qobject_cast<QComboBox*>(EditorFor("Watermark", "Font Style"))) {
            const int bits = style->currentData().toInt();
            font.setBold(bits & 1);
            font.setItalic(bits & 2);
        }
        if (auto* effect = qobject_cast<QComboBox*>(EditorFor("Watermark", "Font Effect"))) {
            font.setUnderline(effect->currentData().toInt() == 1);
            font.setStrikeOut(effect->currentData().toInt() == 2);
        }
        return font;
    });
    const SettingField field = row.field;
    bindings_.push_back({[picker, field](const Settings& s) { picker->SetFace(TextOf(s, field)); },
                         [picker, field](Settings& s) { SetText(s, field, picker->Face()); }});
    return picker;
}

namespace {

// The captions and codes a setting offers in a list: the watermark kinds,
// the depths its format allows, its format's compressions or its table's
// names.
// Empty for a setting edited otherwise.
std::optional<std::vector<std::pair<QString, int>>> ChoicesOf(const SettingKey& row) {
    const std::string group = row.group, key = row.key;
    if (group == "Watermark" && key == "Do Watermark") {
        return std::vector<std::pair<QString, int>>{{ChoiceCaption("WM NONE"), kNoWatermark},
                                                    {ChoiceCaption("WM TEXT"), kTextWatermark},
                                                    {ChoiceCaption("WM IMAGE"), kImageWatermark}};
    }
    const FormatKey of_format = group == "Output" ? FindFormatKey(key) : FormatKey{};
    const OutputFormat* format = of_format.format ? FindOutputFormat(of_format.format->extension) : nullptr;
    if (format && !of_format.setting) {
        std::vector<std::pair<QString, int>> items = {{Text("Preferences", "Automatic"), 0}};
        for (const int32_t depth : format->allowed_bpp)
            items.emplace_back(QString::fromStdString(FormatText(GetText("Preferences", "Bits"), std::to_string(depth))),
                               depth);
        return items;
    }
    // The compression keys share one table of names, of which each writer
    // understands only its own.
    if (format && of_format.setting->table == kTableCompression) {
        std::vector<std::pair<QString, int>> items;
        for (size_t code = 0; code < format->compressions.size(); ++code)
            items.emplace_back(ChoiceCaption(format->compressions[code].name), static_cast<int>(code));
        return items;
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
        return items;
    }
    return std::nullopt;
}

}  // namespace

QWidget* PreferencesDialog::MakeTimestampEditor(QWidget* parent, const SettingKey& row) {
    auto* edit = new QDateTimeEdit(parent);
    edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    edit->setCalendarPopup(true);
    // The setting counts local wall-clock time as if it were UTC, so the
    // editor shows it in UTC to show the local clock reading unchanged.
    edit->setTimeSpec(Qt::UTC);
    const SettingField field = row.field;
    bindings_.push_back({[edit, field](const Settings& s) {
                             edit->setDateTime(QDateTime::fromSecsSinceEpoch(IntOf(s, field), QTimeZone::utc()));
                         },
                         [edit, field](Settings& s) {
                             SetInt(s, field, static_cast<int>(edit->dateTime().toSecsSinceEpoch()));
                         }});
    return edit;
}

QWidget* PreferencesDialog::MakeEditor(QWidget* parent, const SettingKey& row) {
    const SettingField field = row.field;
    const std::string group = row.group, key = row.key;

    if (auto choices = ChoicesOf(row)) return MakeChoice(parent, row, *choices);
    if (group == "Advanced" && key == "Custom Timestamp") return MakeTimestampEditor(parent, row);
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
            spin->setRange(static_cast<int>(row.range.low), static_cast<int>(row.range.high));
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
            spin->setRange(row.range.low, row.range.high);
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

void PreferencesDialog::FitToScreen() {
    // The pages scroll, so the dialog can be made as small as the screen
    // needs: at 200 % scaling on a 1920 x 1080 screen the usual size would
    // put OK and Cancel below its edge. Room is left for the window frame.
    QSize wanted(760, 600);
    QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->availableGeometry();
        wanted = wanted.boundedTo(area.size() - QSize(32, 64)).expandedTo(minimumSizeHint());
    }
    resize(wanted);
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
        const FormatSettings& settings_of_format = SettingsOf(format);
        AddSetting(options_page, form, "Output", DepthKey(settings_of_format).c_str());
        for (const EncoderSetting& setting : settings_of_format.encoder)
            AddSetting(options_page, form, "Output", EncoderKey(settings_of_format, setting).c_str());
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

QWidget* PreferencesDialog::BuildPage(const std::string& name) {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    std::vector<const SettingKey*> rows;
    for (const SettingKey& row : SettingKeys())
        if (row.page.page && name == row.page.page) rows.push_back(&row);
    std::ranges::stable_sort(rows, {}, [](const SettingKey* row) { return row->page.place; });

    // A new box where the caption changes; each box keeps its rows and
    // editors for the switches below.
    struct Filled {
        Box box;
        std::vector<std::pair<const SettingKey*, QWidget*>> editors;
    };
    std::vector<Filled> boxes;
    const char* caption = nullptr;
    for (const SettingKey* row : rows) {
        if (!caption || std::strcmp(caption, row->page.box) != 0) {
            caption = row->page.box;
            boxes.push_back({AddBox(layout, *caption ? Text("Preferences", caption) : QString()), {}});
        }
        Box& box = boxes.back().box;
        boxes.back().editors.emplace_back(row, AddSetting(page, box.form, row->group, row->key));
        if (std::strcmp(row->group, "Advanced") == 0 && std::strcmp(row->key, "Filename Mask") == 0) {
            // The tokens come from the table the naming expands, so the help
            // cannot fall behind it.
            QString tokens = Text("Preferences", "Mask Help");
            for (size_t i = 0; i < kMaskTokens.size(); ++i)
                tokens += (i ? QStringLiteral(", ") : QStringLiteral(" ")) + QString::fromLatin1(kMaskTokens[i].text);
            auto* help = new QLabel(tokens, page);
            help->setWordWrap(true);
            help->setTextFormat(Qt::PlainText);
            box.form->addRow(QString(), help);
        }
    }

    // Settings not in use grey out with their switch. A box whose settings
    // all hang on a switch outside it greys out whole, caption included (the
    // watermark boxes); otherwise each editor follows its own switch.
    for (const Filled& filled : boxes) {
        const SettingKey* first = filled.editors.front().first;
        bool whole = first->use.when != nullptr;
        for (const auto& [row, editor] : filled.editors) {
            whole = whole && row->use.when == first->use.when && row->use.value == first->use.value;
            whole = whole && row->field != SettingField(first->use.when);
        }
        if (whole) {
            const SettingKey* on = SwitchOf(*first);
            FollowSwitch(on ? EditorFor(on->group, on->key) : nullptr, first->use.value, {filled.box.box});
            continue;
        }
        for (const auto& [row, editor] : filled.editors)
            if (const SettingKey* on = SwitchOf(*row))
                FollowSwitch(EditorFor(on->group, on->key), row->use.value, {editor});
    }
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
