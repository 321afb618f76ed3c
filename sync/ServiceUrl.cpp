#include "ServiceUrl.h"

#include "Const.h"

#include <QUrl>

QString MakeServiceUrl(const QString &path)
{
    const QUrl base(Const::ServiceBaseUrl);
    if (!base.isValid() || base.host().isEmpty())
        return QString();
    // Only a path (with query) of our host: leading slashes collapse to one, so that no
    // authority or scheme in the text can take effect.
    int start = 0;
    while (start < path.size() && (path.at(start) == QLatin1Char('/') || path.at(start) == QLatin1Char('\\')))
        ++start;
    const QUrl relative(QLatin1Char('/') + path.mid(start), QUrl::TolerantMode);
    if (!relative.isValid() || !relative.isRelative() || !relative.host().isEmpty())
        return QString();
    const QUrl resolved = base.resolved(relative);
    if (resolved.scheme() != base.scheme() || resolved.host() != base.host() || resolved.port() != base.port())
        return QString();
    return resolved.toString();
}

bool IsWebUrl(const QString &address)
{
    const QUrl url(address, QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
           && !url.host().isEmpty();
}
