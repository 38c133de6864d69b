// Addresses and documents the Help menu opens. The web addresses are
// configuration of this build: the home page is kWebAddress, the feedback
// address sits beside it here.
#pragma once

#include <QString>
#include <QUrl>
#include <functional>

namespace kestrune {

inline constexpr const char* kFeedbackAddress = "support@kestrune.tarvel.example";

// The user manual: "manual.html" beside the program, in the installed
// documentation folder, or in the docs folder of the source tree the program
// was built from. Empty when none exists.
QString FindManual();

// mailto: URL of a new feedback e-mail, subject "<title> Feedback".
QUrl FeedbackUrl();
QUrl HomepageUrl();

// Opens a URL with the desktop's handler; false when none could open it.
// Replaceable so that tests can see what would be opened.
using UrlOpener = std::function<bool(const QUrl&)>;
bool OpenUrl(const QUrl& url);
void SetUrlOpener(UrlOpener opener);

}  // namespace kestrune
