// The preferences window: every conversion setting on nine pages, built from
// the settings key table. Each setting gets one editor chosen by its kind and
// value-name table, labelled with the text "<group>.<key>" of group
// "Preferences"; "OK" stores the editors into the settings and writes
// "config.ini".
#pragma once

#include <QDialog>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "settings/settings.h"

class QComboBox;
class QFormLayout;
class QStackedWidget;
class QTabWidget;

namespace kestrune {

class PreferencesDialog : public QDialog {
    Q_OBJECT

  public:
    explicit PreferencesDialog(QWidget* parent);

    // The editor of a setting (QCheckBox, QComboBox, QSpinBox,
    // QDoubleSpinBox, QLineEdit, QPlainTextEdit, QDateTimeEdit, or the colour
    // and file pickers); nullptr for a setting this window does not show.
    QWidget* EditorFor(const std::string& group, const std::string& key) const;
    QTabWidget* Pages() const { return pages_; }

    // Editors from a settings record, and back.
    void LoadFrom(const Settings& s);
    void StoreInto(Settings& s) const;
    // What "OK" stores: only the settings the user changed here (all the
    // editors after "Defaults"); the others keep their stored values.
    void StoreChangesInto(Settings& s) const;

    // "OK": the settings take the editors' values and are written to
    // "config.ini".
    void accept() override;

  private:
    struct Binding {
        std::function<void(const Settings&)> load;
        std::function<void(Settings&)> store;
    };

    QWidget* AddSetting(QWidget* page, QFormLayout* form, const char* group, const char* key);
    QWidget* MakeEditor(QWidget* parent, const SettingKey& row);
    QWidget* MakeChoice(QWidget* parent, const SettingKey& row, const std::vector<std::pair<QString, int>>& items);
    QWidget* MakeColourPicker(QWidget* parent, const SettingKey& row);
    QWidget* MakeImagePicker(QWidget* parent, const SettingKey& row);
    QWidget* MakeFontPicker(QWidget* parent, const SettingKey& row);
    QWidget* MakeTimestampEditor(QWidget* parent, const SettingKey& row);

    // A page of the settings rows that name it, in their places, boxed by
    // their captions. The output page has one box of options per format.
    QWidget* BuildPage(const std::string& name);
    QWidget* BuildOutputPage();
    // The usual size, or less where the screen's free area is smaller.
    void FitToScreen();

    void ResetToDefaults();

    QTabWidget* pages_ = nullptr;
    QStackedWidget* format_options_ = nullptr;
    std::vector<Binding> bindings_;
    std::map<std::string, QWidget*> editors_;  // "group.key"
    Settings opened_with_;  // the settings when the window opened
    Settings as_opened_;    // the same, as the untouched editors give them back
    bool reset_to_defaults_ = false;
};

}  // namespace kestrune
