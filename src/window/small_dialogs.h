// The small secondary windows: the input chooser of command 4, the about box
// and the converter finder.
#pragma once

#include <QDialog>

class QComboBox;
class QPlainTextEdit;

class QUrl;

namespace kestrune {

// Two buttons, "Select Input File" and "Select Input Folder"; exec() returns
// the command number the user picked (5 or 6), or 0.
class InputChooser : public QDialog {
    Q_OBJECT
  public:
    explicit InputChooser(QWidget* parent);
};

class AboutBox : public QDialog {
    Q_OBJECT
  public:
    explicit AboutBox(QWidget* parent);
};

// "Find a File Converter": from one extension to another. A pair this
// program converts selects that output format in the main window; any other
// pair is looked up on the maker's home page.
class ConverterFinder : public QDialog {
    Q_OBJECT
  public:
    explicit ConverterFinder(QWidget* parent);
    QComboBox* FromBox() const { return from_; }
    QComboBox* ToBox() const { return to_; }
    // The output format chosen by the last search, empty when none.
    QString ChosenFormat() const { return chosen_; }

  private:
    void Search();
    QComboBox* from_ = nullptr;
    QComboBox* to_ = nullptr;
    QString chosen_;
};

// The feedback window of -U: a few words to the makers by e-mail, and the
// way to the removal instructions.
class FeedbackWindow : public QDialog {
    Q_OBJECT
  public:
    explicit FeedbackWindow(QWidget* parent = nullptr);
    QPlainTextEdit* TextBox() const { return text_; }
    // Opens a new message with the text; says so when no mail program can.
    bool Send();

  private:
    QPlainTextEdit* text_ = nullptr;
};

// The warning shown when no mail program takes a "mailto:" address.
void ShowNoMailProgram(QWidget* parent);
// Opens a web address; when no program takes it, says so and names it.
bool OpenWebPage(QWidget* parent, const QUrl& url);
// Help -> User Manual and the Help button of the preferences: the manual in
// the desktop's program for it, or a warning saying why not.
void OpenManual(QWidget* parent);

}  // namespace kestrune
