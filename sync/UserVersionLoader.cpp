#include "UserVersionLoader.h"

#include "Const.h"
#include "FileDownloader.h"
#include "threads/IBaseCloseable.h"
#include "catalogue/ItemComparePart.h"
#include "VersionNumberHelper.h"

UserVersionLoader::UserVersionLoader(QObject *parent) : QThreadExtend(parent) {}

UserVersionLoader::~UserVersionLoader()
{
    Stop();
}

bool UserVersionLoader::QueryLatestVersion(IBaseCloseable *canceller, int timeoutMs, bool &newer,
                                           QString &ownVersion, QString &latestVersion)
{
    newer = false;
    ownVersion = Const::SoftVersion;
    latestVersion.clear();

    FileDownloader downloader(ItemComparePart(), Const::VersionCheckUrlWithKind, canceller,
                              timeoutMs, QString());
    downloader.maxBytes = FileDownloader::MaxVersionBytes;
    const QString body = downloader.RunAndWait();
    // A close request makes the check fail quietly, whatever arrived.
    if (canceller && canceller->IsCloseRequested())
        return false;
    // The body is untrusted text of any size: keep a short plain version of it.
    latestVersion = BoundedVersionText(body);
    if (latestVersion.isEmpty())
        return false;
    newer = QVersionNumber::compare(ParseVersionNumber(latestVersion),
                                    ParseVersionNumber(ownVersion)) > 0;
    return true;
}

bool UserVersionLoader::CheckVersion()
{
    bool newer = false;
    QString own;
    QString latest;
    if (!QueryLatestVersion(closeable, WorkerTimeoutMs, newer, own, latest)) {
        emit completed(false, false);
        return false;
    }
    emit completed(true, newer);
    if (newer) {
        SetDoneFlag();
        emit onNewVersion(latest);
    }
    return true;
}

void UserVersionLoader::DoRun()
{
    if (!IsCloseRequested())
        CheckVersion();
}
