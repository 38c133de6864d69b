#include "window/links.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrlQuery>

#include "app/version.h"
#include "platform/process.h"
#include "settings/settings.h"

namespace kestrune {
namespace {

UrlOpener& Opener() {
    static UrlOpener opener;
    return opener;
}

}  // namespace

QString FindManual() {
    const QString program = QString::fromStdString(ProgramFolder());
    const QStringList candidates = {
        program + QStringLiteral("manual.html"),
        program + QStringLiteral("docs/manual.html"),
        program + QStringLiteral("../share/doc/kestrune/manual.html"),
        program + QStringLiteral("../docs/manual.html"),
#ifdef KESTRUNE_SOURCE_DOCS
        // The docs folder of the source tree a test build was made from, so
        // that a program run from any build folder finds the manual. Given
        // by the build rather than taken from __FILE__, which a compiler
        // cache or a prefix map may turn into a relative path.
        QStringLiteral(KESTRUNE_SOURCE_DOCS "/manual.html"),
#endif
    };
    for (const QString& c : candidates) {
        const QFileInfo info(c);
        if (info.isFile()) return QDir::cleanPath(info.absoluteFilePath());
    }
    return {};
}

QUrl FeedbackUrl() {
    QUrl url;
    url.setScheme(QStringLiteral("mailto"));
    url.setPath(QString::fromLatin1(kFeedbackAddress));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("subject"), QString::fromUtf8(kProductTitle) + QStringLiteral(" Feedback"));
    url.setQuery(query);
    return url;
}

QUrl HomepageUrl() { return QUrl(QString::fromUtf8(kWebAddress)); }

bool OpenUrl(const QUrl& url) {
    if (Opener()) return Opener()(url);
    return QDesktopServices::openUrl(url);
}

void SetUrlOpener(UrlOpener opener) { Opener() = std::move(opener); }

}  // namespace kestrune
