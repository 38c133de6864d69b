#include "window/toolbar.h"

#include <QAction>
#include <QComboBox>
#include <QEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QShortcut>
#include <QStyle>
#include <QToolBar>
#include <QTreeWidget>

#include "settings/settings.h"
#include "window/commands.h"
#include "window/dialogs.h"
#include "window/main_window.h"

namespace kestrune {
namespace {

struct ToolEntry {
    int command;
    const char* caption_key;  // group "Menu"
    const char* theme_icon;   // freedesktop icon name
    QStyle::StandardPixmap fallback;
};

// Themes differ in which names they carry; the style's own pictures stand in
// where the theme has none (as under a bare window manager).
constexpr ToolEntry kTools[] = {
    {kCommandSelectInputFile, "Select Input File", "list-add", QStyle::SP_FileIcon},
    {kCommandSelectInputFolder, "Select Input Folder", "folder-open", QStyle::SP_DirOpenIcon},
    {kCommandImportInputFiles, "Import Input Files", "document-open", QStyle::SP_DialogOpenButton},
    {kCommandDelete, "Delete Input Files", "list-remove", QStyle::SP_TrashIcon},
    {kCommandConvert, "Convert", "media-playback-start", QStyle::SP_MediaPlay},
    {kCommandPreferences, "Preferences", "preferences-system", QStyle::SP_FileDialogDetailedView},
};

// The toolbar follows the menu bar, which the window disables while an
// import, export or conversion runs.
class EnabledMirror : public QObject {
  public:
    EnabledMirror(QWidget* source, QWidget* target) : QObject(target), target_(target) {
        source->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::EnabledChange) target_->setEnabled(static_cast<QWidget*>(watched)->isEnabled());
        return false;
    }

  private:
    QWidget* target_;
};

// A field that takes Ctrl+Del for itself before the window's shortcut sees it.
class WordDeleteKeeper : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ShortcutOverride) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->matches(QKeySequence::DeleteEndOfWord) || key->matches(QKeySequence::DeleteStartOfWord)) {
                event->accept();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

QToolBar* BuildToolBar(MainWindow* window) {
    auto* bar = new QToolBar(Text("Menu", "Toolbar"), window);
    bar->setObjectName(QStringLiteral("mainToolBar"));
    bar->setMovable(false);
    bar->setIconSize(QSize(22, 22));
    for (const ToolEntry& tool : kTools) {
        const QIcon icon = QIcon::fromTheme(QString::fromLatin1(tool.theme_icon),
                                            window->style()->standardIcon(tool.fallback));
        QAction* action = bar->addAction(icon, Text("Menu", tool.caption_key));
        action->setObjectName(QStringLiteral("tool%1").arg(tool.command));
        const int command = tool.command;
        QObject::connect(action, &QAction::triggered, window, [window, command] {
            // The list's commands act on the list; a toolbar button does not
            // take the focus from it, but make sure after a click elsewhere.
            if (command == kCommandDelete) window->InputListView()->setFocus();
            window->RunCommand(command);
        });
    }
    window->addToolBar(Qt::TopToolBarArea, bar);
    new EnabledMirror(window->menuBar(), bar);
    bar->setVisible(settings.show_toolbar != 0);
    // Only the user's choice is remembered, not the hiding that comes with
    // closing the window.
    QObject::connect(bar->toggleViewAction(), &QAction::triggered, window,
                     [](bool shown) { settings.show_toolbar = shown ? 1 : 0; });
    return bar;
}

void InstallWindowKeys(MainWindow* window) {
    auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), window);
    QObject::connect(f10, &QShortcut::activated, window, [window] {
        QMenuBar* bar = window->menuBar();
        if (!bar->isEnabled() || bar->actions().isEmpty()) return;
        bar->setFocus(Qt::MenuBarFocusReason);
        bar->setActiveAction(bar->actions().first());
    });
    if (QLineEdit* field = window->OutputFolderBox()->lineEdit())
        field->installEventFilter(new WordDeleteKeeper(field));
}

}  // namespace kestrune
