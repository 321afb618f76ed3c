#pragma once

// Shared set-up of the catalogue worker tests: a private data folder, the local service,
// generated catalogues, and a recorder of the workers' queued signals.

#include "CatalogueService.h"
#include "CatalogueSlots.h"
#include "folders/DisplayDataSaver.h"
#include "FileDownloader.h"
#include "Helper.h"
#include "TestHttpServer.h"
#include "TestSandbox.h"
#include "UserDataLoader.h"
#include "UserDataRefresher.h"
#include "writer/CatalogueGenerator.h"
#include "cipher/SqlCipherDriverRegistration.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QThread>

namespace LoaderTest {

using TestSandbox::ReadBytes;
using TestSandbox::WriteBytes;

inline QString SlotPath(int slot) { return CatalogueSlots::MakeCatalogueFileName(slot); }
inline QString PointerPath() { return CatalogueSlots::MakePreFilePath(); }
inline QString PointerText() { return QString::fromUtf8(ReadBytes(PointerPath())); }
inline QString DatabaseFolder() { return Helper::GetLocalFolder(Helper::FolderDatabase); }
inline QString FoldersFilePath() { return Helper::GetLocalFilePath(QStringLiteral("user-folders.file"), Helper::FolderBase); }

// Slot numbers that hold a file.
inline QList<int> ExistingSlots()
{
    QList<int> found;
    for (int slot = 0; slot < CatalogueSlots::SlotCount; ++slot) {
        if (QFileInfo(SlotPath(slot)).isFile())
            found.append(slot);
    }
    return found;
}

// An encrypted catalogue with the given guid, as the service would publish it (cached per guid).
inline QByteArray CatalogueBytes(const QString &guid, int books = 120)
{
    static QHash<QString, QByteArray> cache;
    const QString key = guid + QLatin1Char('-') + QString::number(books);
    if (!cache.contains(key)) {
        RegisterSqlCipherDriver();
        CatalogueGeneratorOptions options;
        options.books = books;
        options.categories = 12;
        options.password = Helper::GetCatalogPassword().toUtf8();
        options.nowUtc = 1764892800;
        options.guid = guid;
        const QString path = QDir::temp().filePath(
            QStringLiteral("tessaly-loader-test-%1-%2.rfile").arg(QCoreApplication::applicationPid()).arg(key));
        cache.insert(key, CatalogueGenerator::Generate(options, path) ? ReadBytes(path) : QByteArray());
        QFile::remove(path);
    }
    return cache.value(key);
}

// The service publishes `bytes` under guid at `location`, with its MD5 unless md5 is given.
inline void Publish(TestHttpServer &server, const QString &guid, const QByteArray &bytes,
                    const QByteArray &location = "/files/catalogue.rfile", const QByteArray *md5 = nullptr)
{
    const QByteArray sum = md5 ? *md5 : FileDownloader::Md5Hex(bytes).toLatin1();
    server.SetResponse("/service/getdatabase.php", TestHttpResponse::Ok(TestSandbox::CatalogueOkAnswer(guid.toUtf8(), location, sum)));
    server.SetResponse(location, TestHttpResponse::Ok(bytes));
}

inline int ServiceRequests(const TestHttpServer &server) { return server.RequestCount("/service/getdatabase.php"); }

// Collects what a worker sends, delivered through queued connections to the test thread.
struct Recorder
{
    QObject context;
    QStringList messages;
    QStringList completions; // "changed", "unchanged", "failed" or "failed after change"
    QList<bool> computingStates;

    void Attach(UserDataLoader *loader, UserDataRefresher *refresher)
    {
        for (UserDataLoader *worker : {loader, static_cast<UserDataLoader *>(refresher)}) {
            QObject::connect(worker, &UserDataLoader::message, &context,
                             [this](const QString &text) { messages.append(text); }, Qt::QueuedConnection);
            QObject::connect(worker, &UserDataLoader::completed, &context, [this](bool isSucc, bool isrecalc) {
                completions.append(isSucc ? (isrecalc ? "changed" : "unchanged")
                                          : (isrecalc ? "failed after change" : "failed"));
            }, Qt::QueuedConnection);
        }
        QObject::connect(refresher, &UserDataRefresher::startComputing, &context,
                         [this](bool isStart) { computingStates.append(isStart); }, Qt::QueuedConnection);
    }

    void Clear()
    {
        messages.clear();
        completions.clear();
        computingStates.clear();
    }
};

// Delivers the queued signals of a worker whose thread has ended.
inline void Drain()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// Runs one load to its end; false when it took longer than timeoutMs.
inline bool RunWorker(UserDataLoader &worker, int timeoutMs = 20000)
{
    worker.StartIfNotRunning();
    QElapsedTimer timer;
    timer.start();
    while (worker.IsRunning()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    Drain();
    return true;
}

// The guid the folders file was computed for and its folder captions; empty guid and no
// captions when it does not decode.
inline QPair<QString, QStringList> ReadFoldersFile()
{
    DisplayDataSaver store;
    QPair<QString, QStringList> result;
    bool added = false;
    if (!QFile::exists(FoldersFilePath()) || !store.LoadFolders(added))
        return result;
    QReadLocker locker(&store.lock);
    result.first = store.currentGuid;
    for (const DisplayFolder *folder : store.folders)
        result.second.append(folder->caption);
    return result;
}

inline QString OpenGuid(DisplayDataSaver &store) { return store.items->GetCurrentGuid(); }

inline QString OpenFile(DisplayDataSaver &store) { return CatalogueService::OpenCatalogueFile(*store.items); }

} // namespace LoaderTest
