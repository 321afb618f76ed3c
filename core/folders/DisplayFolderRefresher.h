#pragma once

#include "threads/QThreadExtend.h"

#include <QList>
#include <QMutex>

class DisplayDataSaver;
class DisplayFolder;

// Computes the folders of an open folder dialog on a thread of its own; completed() is sent
// at the end of every run that closing did not cut short.
class DisplayFolderRefresher : public QThreadExtend
{
    Q_OBJECT
public:
    explicit DisplayFolderRefresher(QObject *parent = nullptr);
    ~DisplayFolderRefresher() override;

    // Sets what the next run computes; the folders stay owned by their dialog or the store.
    void SetFolders(DisplayDataSaver *folderStore, const QList<DisplayFolder *> &list);

    DisplayDataSaver *store = nullptr;
    QList<DisplayFolder *> folders;
    // Guards store and folders.
    QMutex mutex;

signals:
    void completed();

protected:
    void DoRun() override;
};
