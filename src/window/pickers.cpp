#include "window/pickers.h"

#include <QAction>
#include <QColorDialog>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QStyle>
#include <QToolButton>

#include "window/dialogs.h"

namespace kestrune {
namespace {

QIcon Swatch(const QColor& colour) {
    QPixmap pixmap(16, 16);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

}  // namespace

QColor ColourFromSetting(const QString& text) {
    bool ok = false;
    const uint value = text.toUInt(&ok, 16);
    if (text.size() != 6 || !ok) return QColor(0, 0, 0);
    return QColor((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF);
}

QString SettingFromColour(const QColor& colour) {
    return QStringLiteral("%1%2%3")
        .arg(colour.red(), 2, 16, QLatin1Char('0'))
        .arg(colour.green(), 2, 16, QLatin1Char('0'))
        .arg(colour.blue(), 2, 16, QLatin1Char('0'))
        .toUpper();
}

ColourButton::ColourButton(QWidget* parent, const QString& palette) : QWidget(parent) {
    button_ = new QToolButton(this);
    button_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button_->setPopupMode(QToolButton::MenuButtonPopup);
    auto* menu = new QMenu(button_);
    for (const QString& entry : palette.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString colour = entry.trimmed().toUpper();
        QAction* action = menu->addAction(Swatch(ColourFromSetting(colour)), colour);
        connect(action, &QAction::triggered, this, [this, colour] { SetColour(colour); });
    }
    if (!menu->isEmpty()) menu->addSeparator();
    QAction* other = menu->addAction(Text("Preferences", "Choose Color"));
    connect(other, &QAction::triggered, this, &ColourButton::ChooseOther);
    button_->setMenu(menu);
    connect(button_, &QToolButton::clicked, this, &ColourButton::ChooseOther);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(button_);
    layout->addStretch();
    SetColour(QStringLiteral("000000"));
}

void ColourButton::SetColour(const QString& colour) {
    colour_ = colour;
    button_->setIcon(Swatch(ColourFromSetting(colour)));
    button_->setText(colour);
}

void ColourButton::ChooseOther() {
    const QColor chosen = QColorDialog::getColor(ColourFromSetting(colour_), this, Text("Preferences", "Choose Color"));
    if (chosen.isValid()) SetColour(SettingFromColour(chosen));
}

PathPicker::PathPicker(QWidget* parent, const QString& dialog_caption, const QString& filter)
    : QWidget(parent), caption_(dialog_caption), filter_(filter) {
    field_ = new QLineEdit(this);
    auto* browse = new QToolButton(this);
    browse->setText(Text("Preferences", "Browse"));
    connect(browse, &QToolButton::clicked, this, [this] {
        const QString start = field_->text().isEmpty() ? QString() : QFileInfo(field_->text()).absolutePath();
        const QString path = QFileDialog::getOpenFileName(this, caption_, start, filter_);
        if (!path.isEmpty()) field_->setText(path);
    });
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(field_, 1);
    layout->addWidget(browse);
}

QString PathPicker::Path() const { return field_->text(); }
void PathPicker::SetPath(const QString& path) { field_->setText(path); }

FontPicker::FontPicker(QWidget* parent, const QStringList& offered) : QWidget(parent) {
    box_ = new QComboBox(this);
    box_->setEditable(true);
    box_->setInsertPolicy(QComboBox::NoInsert);
    QStringList faces;
    for (const QString& f : offered)
        if (!f.trimmed().isEmpty() && !faces.contains(f.trimmed())) faces << f.trimmed();
    // The faces of the "Fonts" setting come first, then what the system has.
    const int offered_count = static_cast<int>(faces.size());
    for (const QString& family : QFontDatabase::families())
        if (!faces.contains(family)) faces << family;
    box_->addItems(faces);
    if (offered_count > 0 && offered_count < faces.size()) box_->insertSeparator(offered_count);

    auto* dialog_button = new QToolButton(this);
    dialog_button->setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
    dialog_button->setToolTip(Text("Preferences", "Watermark.Font"));
    connect(dialog_button, &QToolButton::clicked, this, &FontPicker::OpenFontDialog);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(box_, 1);
    layout->addWidget(dialog_button);
}

QString FontPicker::Face() const { return box_->currentText(); }
void FontPicker::SetFace(const QString& face) { box_->setCurrentText(face); }

void FontPicker::OpenFontDialog() {
    QFontDialog dialog(current_ ? current_(Face()) : QFont(Face()), this);
    dialog.setWindowTitle(Text("Preferences", "Watermark.Font"));
    // A face this system lacks is shown as the family standing in for it;
    // that family coming back unchanged keeps the face as it was written.
    const QString shown = dialog.currentFont().family();
    if (dialog.exec() != QDialog::Accepted) return;
    const QFont font = dialog.selectedFont();
    if (font.family() != shown) SetFace(font.family());
    emit FontChosen(font);
}

}  // namespace kestrune
