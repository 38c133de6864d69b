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
    // The docs folder of the source tree this program was built from: a
    // program run from its build tree finds the manual without an install
    // step. Given by the build rather than taken from __FILE__, which a
    // compiler cache or a prefix map may turn into a relative path.
    const QString source_docs = QStringLiteral(KESTRUNE_SOURCE_DOCS);
    const QStringList candidates = {
        program + QStringLiteral("manual.html"),
        program + QStringLiteral("docs/manual.html"),
        program + QStringLiteral("../share/doc/kestrune/manual.html"),
        program + QStringLiteral("../docs/manual.html"),
        source_docs + QStringLiteral("/manual.html"),
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
