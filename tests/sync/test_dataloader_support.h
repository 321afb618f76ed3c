#pragma once

// Shared set-up of the catalogue worker tests: a private data folder, the local service,
// generated catalogues, and the workers with a recorder of their queued signals.

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

#include <QtTest>

#include <functional>

namespace LoaderTest {

using TestSandbox::ReadBytes;

const QByteArray ServicePath = "/service/getdatabase.php";

inline QString SlotPath(int slot) { return CatalogueSlots::MakeCatalogueFileName(slot); }
inline QString PointerPath() { return CatalogueSlots::MakePreFilePath(); }
inline QString PointerText() { return QString::fromUtf8(ReadBytes(PointerPath())); }
inline QString FoldersFilePath() { return Helper::GetLocalFilePath(QStringLiteral("user-folders.file"), Helper::FolderBase); }

inline QDir DatabaseFolder() { return QDir(Helper::GetLocalFolder(Helper::FolderDatabase)); }

// Names of the catalogue files in the database folder.
inline QStringList CatalogueFileNames() { return DatabaseFolder().entryList({QStringLiteral("*.rfile")}, QDir::Files); }

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
        const QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("catalogue.rfile"));
        cache.insert(key, CatalogueGenerator::Generate(options, path) ? ReadBytes(path) : QByteArray());
    }
    return cache.value(key);
}

// The service publishes `bytes` under guid at `location`, with its MD5 unless md5 is given.
inline void Publish(TestHttpServer &server, const QString &guid, const QByteArray &bytes,
                    const QByteArray &location = "/files/catalogue.rfile", const QByteArray *md5 = nullptr)
{
    const QByteArray sum = md5 ? *md5 : FileDownloader::Md5Hex(bytes).toLatin1();
    server.SetResponse(ServicePath, TestHttpResponse::Ok(TestSandbox::CatalogueOkAnswer(guid.toUtf8(), location, sum)));
    server.SetResponse(location, TestHttpResponse::Ok(bytes));
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

// A folder store with its start-up loader and refresher as the program wires them, and what the
// workers send, delivered through queued connections to the test thread.
struct Workers
{
    DisplayDataSaver store;
    QStringList messages;
    QStringList completions; // "changed", "unchanged", "failed" or "failed after change"
    QList<bool> computingStates;
    QObject context; // owns the workers: they stop before the store and the lists go
    UserDataLoader &loader = *new UserDataLoader(&context);
    UserDataRefresher &refresher = *new UserDataRefresher(&context);

    Workers()
    {
        for (UserDataLoader *worker : {&loader, static_cast<UserDataLoader *>(&refresher)}) {
            worker->SetStores(&store, QStringLiteral("os=2&fileversion=3011"));
            QObject::connect(worker, &UserDataLoader::message, &context,
                             [this](const QString &text) { messages.append(text); }, Qt::QueuedConnection);
            QObject::connect(worker, &UserDataLoader::completed, &context, [this](bool isSucc, bool isrecalc) {
                completions.append(isSucc ? (isrecalc ? "changed" : "unchanged")
                                          : (isrecalc ? "failed after change" : "failed"));
            }, Qt::QueuedConnection);
        }
        QObject::connect(&refresher, &UserDataRefresher::startComputing, &context,
                         [this](bool isStart) { computingStates.append(isStart); }, Qt::QueuedConnection);
    }

    // Runs one load to its end, calling whileRunning meanwhile: its completions ("none" without one)
    // with the worker's error and service answer codes, or "timeout" when it does not end within 30 s.
    QString Run(UserDataLoader &worker, const std::function<void()> &whileRunning = [] {})
    {
        messages.clear();
        completions.clear();
        computingStates.clear();
        worker.StartIfNotRunning();
        QElapsedTimer timer;
        timer.start();
        while (worker.IsRunning()) {
            if (timer.elapsed() > 30000)
                return QStringLiteral("timeout");
            whileRunning();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
            QThread::msleep(1);
        }
        QCoreApplication::processEvents(); // what the worker sent before it ended
        QReadLocker locker(&worker.dataLock);
        return QStringLiteral("%1; error %2, answer %3")
            .arg(completions.isEmpty() ? QStringLiteral("none") : completions.join(','))
            .arg(worker.lastError)
            .arg(worker.serverAnswer);
    }

    QString OpenGuid() { return store.items->GetCurrentGuid(); }
    QString OpenFile() { return CatalogueService::OpenCatalogueFile(*store.items); }
};

} // namespace LoaderTest
