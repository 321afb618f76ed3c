#pragma once

#include "UserDataLoader.h"

// The catalogue refresh worker: always asks the service; only a new catalogue is downloaded
// (never over the open file), checked, swapped in and the folders recomputed. A folder store
// whose folders file has not been read yet is read first, so an empty list is never saved.
class UserDataRefresher : public UserDataLoader
{
    Q_OBJECT
public:
    explicit UserDataRefresher(QObject *parent = nullptr);
    ~UserDataRefresher() override;

signals:
    // Sent with true before the catalogue is switched; the computing state ends with `completed`,
    // or with false when the run is stopped before it reports.
    void startComputing(bool isStart);

protected:
    void DoRun() override;
    bool LoadUserData(bool &changed) override;

private:
    // Reads the folders file when the store holds no folders (the start-up read failed).
    // False when it still cannot be read. reread tells that it was read now.
    bool EnsureFoldersRead(DisplayDataSaver *store, bool &reread);

    // Worker thread only: the run sent startComputing(true).
    bool computingAnnounced = false;
};
