// Files in the data folders: the slot pointer and the slot search, text files, and clearing the caches.
#include "CacheFolderClearing.h"
#include "CatalogueFiles.h"
#include "CatalogueSlots.h"
#include "Const.h"
#include "Helper.h"
#include "ImageCache.h"
#include "TestSandbox.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <functional>
#include <memory>

using TestSandbox::ReadBytes;
using TestSandbox::WriteBytes;

class TestDataFiles : public QObject
{
    Q_OBJECT
    QTemporaryDir home;
    QString folder; // the catalogue folder, emptied before every test

private slots:
    void initTestCase()
    {
        QVERIFY(TestSandbox::UsePrivateHome(home));
        folder = Helper::GetLocalFolder(Helper::FolderDatabase);
        QVERIFY(folder.startsWith(home.path()));
        // The marker of installed copies keeps its name.
        QCOMPARE(ImageCache::MarkerFileName, QStringLiteral("active-check-cache.file"));
    }

    void init() { QVERIFY(QDir(folder).removeRecursively() && QDir().mkpath(folder)); }

    void pointerContents_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("slot");
        // Slots 0 to 10 are named as they are; anything else names slot 0.
        const QList<QPair<const char *, int>> rows{{"10", 10}, {"0", 0}, {"7", 7}, {"-1", 0}, {"11", 0}, {"abc", 0}, {"", 0}};
        for (const auto &row : rows)
            QTest::newRow(*row.first ? row.first : "empty") << QByteArray(row.first) << row.second;
        QTest::newRow("zero byte ends the text") << QByteArray("5\0" "9", 3) << 5;
    }

    void pointerContents()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, slot);
        QVERIFY(WriteBytes(CatalogueSlots::MakePreFilePath(), content));

        // The named slot is used only when its file is usable; slot 10 never is.
        QVERIFY(WriteBytes(CatalogueSlots::MakeCatalogueFileName(qMin(slot, 9)), "catalogue"));
        int picked = -1;
        bool needDownload = false;
        const QString path = CatalogueSlots::PickCatalogFile({}, picked, needDownload);
        const bool named = slot < 10 && !content.isEmpty();
        QCOMPARE(picked, named ? slot : 0);
        QCOMPARE(needDownload, !named);
        QCOMPARE(path, CatalogueSlots::MakeCatalogueFileName(picked));
        QCOMPARE(ReadBytes(path), named ? QByteArray("catalogue") : QByteArray());
        // The pointer is rewritten as the pick.
        QVERIFY(CatalogueSlots::WritePreFile(picked));
        QCOMPARE(ReadBytes(CatalogueSlots::MakePreFilePath()), QByteArray::number(picked));
    }

    void textFiles()
    {
        const QString path = folder + "/text.txt";
        QVERIFY(!IsFileUsable(path));
        QVERIFY(WriteTextFile(path, QStringLiteral("Grüße")));
        QCOMPARE(ReadTextFile(path), QStringLiteral("Grüße"));
        QVERIFY(IsFileUsable(path));
        QVERIFY(!IsFileUsable(folder));
        QVERIFY(IsSameFilePath(path, path.toUpper()));
        QVERIFY(IsSameFilePath(path, folder + "/./text.txt"));
        QVERIFY(!IsSameFilePath(path, QString()));
        QVERIFY(!WriteTextFile(folder + "/missing/dir/f.txt", "x"));
        // A slot pointer that cannot be replaced is reported.
        QVERIFY(QDir().mkpath(CatalogueSlots::MakePreFilePath()));
        QVERIFY(!CatalogueSlots::WritePreFile(4));
    }

    void searchDeletesOnlyTheReturnedSlot()
    {
        // Start-up: no pointer, an old slot-0 file is deleted with what SQLite left beside it,
        // and slot 0 is reused.
        const QStringList files{"", "-journal", "-wal", "-shm"};
        for (const QString &suffix : files)
            QVERIFY(WriteBytes(CatalogueSlots::MakeCatalogueFileName(0) + suffix, "stale"));
        int slot = -1;
        bool needDownload = false;
        QCOMPARE(CatalogueSlots::PickCatalogFile({}, slot, needDownload), CatalogueSlots::MakeCatalogueFileName(0));
        QCOMPARE(slot, 0);
        QVERIFY(needDownload);
        for (const QString &suffix : files)
            QVERIFY(!QFile::exists(CatalogueSlots::MakeCatalogueFileName(0) + suffix));

        // Slots in use are skipped (case does not matter) and their files stay.
        for (int kept : {0, 1, 3})
            QVERIFY(WriteBytes(CatalogueSlots::MakeCatalogueFileName(kept), QByteArray::number(kept)));
        const QStringList inUse{CatalogueSlots::MakeCatalogueFileName(0), CatalogueSlots::MakeCatalogueFileName(1).toUpper(), QString()};
        QCOMPARE(CatalogueSlots::PickCatalogFile(inUse, slot, needDownload), CatalogueSlots::MakeCatalogueFileName(2));
        QCOMPARE(slot, 2);
        for (int kept : {0, 1, 3})
            QCOMPARE(ReadBytes(CatalogueSlots::MakeCatalogueFileName(kept)), QByteArray::number(kept));
    }

    void clearingRemovesOnlyCacheFiles()
    {
        const QString images = Helper::GetLocalFolder(Helper::FolderImageCache);
        QTemporaryDir outside;
        const QString target = outside.filePath(QStringLiteral("target.rfile"));
        for (const QString &path : {target, folder + "/keep.db", images + "/1_2_201.rfile"})
            QVERIFY(WriteBytes(path, QByteArray()));
        for (const char *suffix : {"", ".prefile", "-journal", "-wal", "-shm"})
            QVERIFY(WriteBytes(folder + "/single_us_7_3011_0.rfile" + suffix, QByteArray()));
        QVERIFY(QDir(folder).mkpath(QStringLiteral("sub.rfile")));
        QVERIFY(QFile::link(target, folder + QStringLiteral("/link.rfile")));

        ClearDatabaseCacheFolder(&Const::FileAccessMutex);
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name),
                 (QStringList{QStringLiteral("keep.db"), QStringLiteral("link.rfile"), QStringLiteral("sub.rfile")}));
        QVERIFY(QFile::exists(target));
        QVERIFY(QFile::exists(images + "/1_2_201.rfile"));

        ClearImageCacheFolder(&Const::FileAccessMutex);
        QVERIFY(!QFile::exists(images + "/1_2_201.rfile"));
    }

    void clearingIsSerialisedEvenWithoutMutex()
    {
        const QString cover = Helper::GetLocalFolder(Helper::FolderImageCache) + QStringLiteral("/5_6_201.rfile");
        // The clearing and the weekly check (far below its threshold) both wait for the file lock although given none.
        const QList<QPair<std::function<void()>, bool>> jobs{{[] { ClearImageCacheFolder(nullptr); }, true},
                                                             {[] { ImageCache::ClearIfLarge(nullptr); }, false}};
        for (const auto &job : jobs) {
            QVERIFY(WriteBytes(cover, QByteArray()));
            Const::FileAccessMutex.lock();
            std::unique_ptr<QThread> worker(QThread::create(job.first));
            worker->start();
            QVERIFY(!worker->wait(200));
            QVERIFY(QFile::exists(cover));
            Const::FileAccessMutex.unlock();
            QVERIFY(worker->wait(5000));
            QCOMPARE(QFile::exists(cover), !job.second);
        }
    }
};

QTEST_GUILESS_MAIN(TestDataFiles)
#include "test_datafiles.moc"
