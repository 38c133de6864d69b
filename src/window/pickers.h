// Editors of the preferences window that are more than one standard widget:
// a colour button with the palette of the settings, a file field with a
// "Browse..." button and a font field with the font dialog.
#pragma once

#include <QFont>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>

class QComboBox;
class QLineEdit;
class QToolButton;

namespace kestrune {

// Six hexadecimal digits, red, green, blue; other texts show as black, the
// way the image operations read them.
QColor ColourFromSetting(const QString& text);
QString SettingFromColour(const QColor& colour);

class ColourButton : public QWidget {
    Q_OBJECT
  public:
    // `palette`: the comma-separated colours offered in the button's menu.
    ColourButton(QWidget* parent, const QString& palette);
    QString Colour() const { return colour_; }
    void SetColour(const QString& colour);
    QToolButton* Button() const { return button_; }

  private:
    void ChooseOther();
    QToolButton* button_ = nullptr;
    QString colour_;
};

class PathPicker : public QWidget {
    Q_OBJECT
  public:
    PathPicker(QWidget* parent, const QString& dialog_caption, const QString& filter);
    QString Path() const;
    void SetPath(const QString& path);
    QLineEdit* Field() const { return field_; }

  private:
    QLineEdit* field_ = nullptr;
    QString caption_;
    QString filter_;
};

// The face of the watermark font: an editable list of the faces of the
// "Fonts" setting and the installed families, and a button that opens the
// font dialog. The dialog also yields size, style and effect, which it hands
// to `on_font_chosen`.
class FontPicker : public QWidget {
    Q_OBJECT
  public:
    FontPicker(QWidget* parent, const QStringList& offered);
    QString Face() const;
    void SetFace(const QString& face);
    QComboBox* Box() const { return box_; }
    // What the font dialog opens on, given the face in the box: without it,
    // the face alone at the system's size and regular style.
    void SetCurrentFont(std::function<QFont(const QString& face)> current) { current_ = std::move(current); }

  signals:
    void FontChosen(const QFont& font);

  private:
    void OpenFontDialog();
    QComboBox* box_ = nullptr;
    std::function<QFont(const QString&)> current_;
};

}  // namespace kestrune
