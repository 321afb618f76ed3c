#pragma once

#include "threads/QThreadExtend.h"

#include <QString>

class IBaseCloseable;

// Asks the maker's service for the latest version. Runs one check per start; once it has found
// a newer version it reports it and never starts again.
class UserVersionLoader : public QThreadExtend
{
    Q_OBJECT
public:
    static constexpr int WorkerTimeoutMs = 240000;

    explicit UserVersionLoader(QObject *parent = nullptr);
    ~UserVersionLoader() override;

    // Fetches the latest version (canceller may be null; then only timeoutMs bounds the wait).
    // True when an answer arrived. latestVersion is the answer as plain text, trimmed and
    // bounded in length (see BoundedVersionText); newer when it is above ownVersion.
    static bool QueryLatestVersion(IBaseCloseable *canceller, int timeoutMs, bool &newer,
                                   QString &ownVersion, QString &latestVersion);

    // One check with this worker's canceller; reports through the signals.
    bool CheckVersion();

signals:
    void completed(bool isSucc, bool isNew);
    // The latest version as plain text: escape it before putting it into rich text.
    void onNewVersion(const QString &newVersion);

protected:
    void DoRun() override;
    bool HasDoneFlag() override { return true; }
};
