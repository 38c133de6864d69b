// Message boxes of the window mode. Questions and warnings go through
// replaceable functions so that a test can answer them without a person at
// the screen; the program itself uses the standard message boxes.
#pragma once

#include <QString>
#include <functional>

class QFontMetrics;
class QWidget;

namespace kestrune {

using QuestionFunction = std::function<bool(QWidget* parent, const QString& caption, const QString& text)>;
using WarningFunction = std::function<void(QWidget* parent, const QString& caption, const QString& text)>;

// Yes/no question; true for yes.
bool AskQuestion(QWidget* parent, const QString& caption, const QString& text);
// Warning box with an "OK" button.
void ShowWarning(QWidget* parent, const QString& caption, const QString& text);

// Replaces the functions; an empty function restores the message boxes.
void SetQuestionFunction(QuestionFunction f);
void SetWarningFunction(WarningFunction f);

// A text of the text table as a QString.
QString Text(const char* group, const char* key);
// A menu caption without its mnemonic marks, for tooltips and titles: "&&"
// stays as one "&", a single "&" goes.
QString WithoutMnemonic(const QString& caption);

// The text shortened with "..." in its middle so that it fits `width` pixels
// of the font `metrics` measures with.
QString ShortenToWidth(const QString& text, const QFontMetrics& metrics, int width);

}  // namespace kestrune
