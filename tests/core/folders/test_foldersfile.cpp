// The folders in the store and in the encrypted folders file: adding, removing and re-ordering, the
// file's format, round trip and recovery from damaged files.
#include "folders/DisplayDataSaver.h"
#include "envelope/DisplayFolderEncrypterClass.h"
#include "threads/NativeHelper.h"
#include "TestSandbox.h"

#include <QDir>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <new>

using TestSandbox::ReadBytes;
using TestSandbox::WriteBytes;

namespace {

const QStringList Builtins{"All Tessaly", "New Arrivals", "Best Tessaly", "Search Result"};

QByteArray Envelope(const QByteArray &document)
{
    QByteArray out;
    DisplayFolderEncrypterClass().EncryptBytes(document, out);
    return out;
}

QByteArray FolderXml(const QString &uid, int type, const QString &caption)
{
    return QStringLiteral("<DisplayFolder><UID>%1</UID><Type>%2</Type><Caption>%3</Caption></DisplayFolder>")
        .arg(uid, QString::number(type), caption).toUtf8();
}

const auto NewFolder = &DisplayFolder::CreateBuiltinFolder;

DisplayFolder *Add(DisplayDataSaver &store, DisplayFolder *folder)
{
    QWriteLockerExt2 token(&store.lock);
    return store.AddFolder(folder, token) ? folder : nullptr;
}

QStringList Captions(DisplayDataSaver &store)
{
    QStringList captions;
    QReadLockerExt2 token(0, &store.lock);
    for (const DisplayFolder *folder : qAsConst(store.folders))
        captions.append(folder->caption);
    return captions;
}

bool Load(DisplayDataSaver &store, bool *added = nullptr)
{
    bool dummy = false;
    return store.LoadFolders(added ? *added : dummy);
}

// The captions a new store reads from the file.
QStringList Reloaded(const QString &path, bool *added = nullptr)
{
    DisplayDataSaver store(path);
    return Load(store, added) ? Captions(store) : QStringList{"(not loaded)"};
}

bool Save(DisplayDataSaver &store)
{
    QWriteLockerExt2 token(&store.lock);
    return store.SaveLocked(token);
}

// A reader that can fail after the real read, as a read running out of memory would.
class ThrowingStore : public DisplayDataSaver
{
public:
    enum Throw { Nothing, StdException, Other };
    using DisplayDataSaver::DisplayDataSaver;
    bool ReadFoldersFile(const QWriteLockerExt2 &token) override
    {
        const bool read = DisplayDataSaver::ReadFoldersFile(token);
        if (throws == StdException)
            throw std::bad_alloc();
        if (throws == Other)
            throw 42;
        return read;
    }
    int throws = Nothing;
};

} // namespace

class TestFoldersFile : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir;
    QString path;

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        path = dir->filePath(QStringLiteral("user-folders.file"));
    }

    void addRemoveAndReorder()
    {
        DisplayDataSaver store(path);
        QVERIFY(Load(store));
        DisplayFolder *a = NewFolder(FilterFolder, QStringLiteral("A"));
        a->uid = QUuid();
        QVERIFY(Add(store, a) && !a->uid.isNull());
        DisplayFolder *b = Add(store, NewFolder(CategoryFolder, QStringLiteral("B")));
        QVERIFY(b && a->uid != b->uid);
        QCOMPARE(a->calcCaption, QStringLiteral("A (0 Books)"));
        QVERIFY(!Add(store, nullptr));
        QVERIFY(!Add(store, a));
        DisplayFolder twin = *b;
        QVERIFY(!Add(store, &twin));
        const DisplayFolder *gone = Add(store, NewFolder(FilterFolder, QStringLiteral("Removed")));
        QVERIFY(gone);
        const QUuid removed = gone->uid;
        QVERIFY(store.RemoveFolder(removed));
        QVERIFY(!store.RemoveFolder(removed));
        QVERIFY(!store.RemoveFolder(QUuid()));
        QCOMPARE(store.GetFolderType(removed), 0);
        QCOMPARE(Captions(store), Builtins + QStringList({"A", "B"}));

        const QUuid arrivals = store.folders.at(1)->uid;
        // Unknown and repeated ids are skipped; folders not named follow in their old order.
        QVERIFY(store.ApplyNewOrder({b->uid, QUuid::createUuid(), a->uid, b->uid, QUuid(), arrivals}));
        const QStringList expected = {"B", "A", "New Arrivals", "All Tessaly", "Best Tessaly", "Search Result"};
        QCOMPARE(Captions(store), expected);
        QTRY_VERIFY(store.foldersWriter.IsIdle());
        QCOMPARE(Reloaded(path), expected);
        // An empty order keeps every folder where it was.
        QVERIFY(store.ApplyNewOrder({}));
        QCOMPARE(Captions(store), expected);
    }

    void documentFormatAndRoundTrip()
    {
        const QString control = QStringLiteral("ctl") + QChar(0x01) + QStringLiteral("x") + QChar(0xFFFF);
        const QUuid searchId(QStringLiteral("{11111111-2222-3333-4444-555555555555}"));
        {
            DisplayDataSaver store(path);
            DisplayFolder *filter = NewFolder(FilterFolder, QStringLiteral("Cheap <&>"));
            filter->uid = QUuid(QStringLiteral("{0b5e2f0a-1c2d-4e5f-8a9b-0c1d2e3f4a5b}"));
            filter->search.findName = QStringList{"a", "b"};
            filter->search.findDescription = QStringList{"never saved"};
            filter->search.findUserRating = {1002};
            filter->bookIds = {5, 7};
            filter->calcBookCount = 2;
            filter->calcUnreadCount = 1;
            DisplayFolder *search = DisplayFolder::CreateSearchFolder();
            search->uid = searchId;
            search->search.findName = QStringList{"lost"};
            search->bookIds = {9};
            search->calcBookCount = 1;
            QWriteLockerExt2 token(&store.lock);
            QVERIFY(store.AddFolder(filter, token));
            QVERIFY(store.AddFolder(search, token));
            const QByteArray withoutGuid = store.BuildFoldersDocument(token);
            QVERIFY(withoutGuid.contains("<DisplayMeta></DisplayMeta>") || withoutGuid.contains("<DisplayMeta/>"));
            store.currentGuid = QStringLiteral("g-1");
            QCOMPARE(store.BuildFoldersDocument(token).trimmed(),
                     QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?><DocumentElement>"
                                "<DisplayMeta><CurrentGUID>g-1</CurrentGUID></DisplayMeta>"
                                "<DisplayFolder><UID>{0b5e2f0a-1c2d-4e5f-8a9b-0c1d2e3f4a5b}</UID><Type>2</Type>"
                                "<Caption>Cheap &lt;&amp;&gt;</Caption><Calc_Caption>Cheap &lt;&amp;&gt; (2 Books)</Calc_Caption>"
                                "<Category_UID>0</Category_UID><DisplayFolderSearch><FindName>a|b</FindName>"
                                "<FindUserRating>1002</FindUserRating></DisplayFolderSearch>"
                                "<calc_bookCount>2</calc_bookCount><calc_unreadCount>1</calc_unreadCount>"
                                "<calc_cachedBooks>5|7</calc_cachedBooks></DisplayFolder>"
                                "<DisplayFolder><UID>{11111111-2222-3333-4444-555555555555}</UID><Type>101</Type>"
                                "<Caption>Search Result</Caption><Calc_Caption>Search Result (1 Book)</Calc_Caption>"
                                "<Category_UID>0</Category_UID></DisplayFolder></DocumentElement>"));

            // Awkward texts and every search field come back from the file.
            DisplayFolder *awkward = NewFolder(FilterFolder, QStringLiteral("Tést <&>'\" 漢字 ") + control);
            DisplayFolderSearch &s = awkward->search;
            s.findName = QStringList{QString(), "a|b", "@fix;", QString(), "<&>'\"", "Ünïcødé 漢字 😀", control, "tab\there"};
            s.findAuthor = QStringList{"O'Brien"};
            s.findCategoryName = QStringList{"Sci|Fi"};
            s.findUserRating = {1000, 1005};
            s.findOrgPrice = {2002};
            s.findBookPages = {3001, 3006};
            s.findBookSize = {4003};
            s.findCategoryList = {12, 40};
            awkward->bookIds = {3, 1, 5000000002};
            awkward->calcBookCount = 3;
            awkward->calcUnreadCount = 7;
            DisplayFolder *category = NewFolder(CategoryFolder, QStringLiteral("Science"));
            category->categoryUid = 5000000012;
            category->search.findName = QStringList{"not kept"};
            for (DisplayFolder *folder : {awkward, category, NewFolder(77, QStringLiteral("Odd"))})
                QVERIFY(store.AddFolder(folder, token));
            QVERIFY(store.SaveLocked(token));
        }
        DisplayDataSaver store(path);
        QVERIFY(Load(store));
        QVERIFY(store.KeptDamagedCopies().isEmpty());
        QCOMPARE(store.currentGuid, QStringLiteral("g-1"));
        // The three missing built-ins went to the front.
        QCOMPARE(Captions(store), Builtins.mid(0, 3) + QStringList({"Cheap <&>", "Search Result",
                                                                     "Tést <&>'\" 漢字 ctlx", "Science", "Odd"}));
        QReadLockerExt2 token(0, &store.lock);
        const DisplayFolder *filter = store.folders.at(5);
        const DisplayFolderSearch &s = filter->search;
        QCOMPARE(s.findName, QStringList({"a|b", "|", "<&>'\"", "Ünïcødé 漢字 😀", "ctlx", "tab\there"}));
        QCOMPARE(s.findAuthor, QStringList({"O'Brien"}));
        QCOMPARE(s.findCategoryName, QStringList({"Sci|Fi"}));
        // The code lists one after the other: a list read into another field changes the order.
        QCOMPARE(s.findUserRating + s.findOrgPrice + s.findBookPages + s.findBookSize + s.findCategoryList,
                 QList<qint64>({1000, 1005, 2002, 3001, 3006, 4003, 12, 40}));
        QCOMPARE(filter->bookIds, QList<qint64>({3, 1, 5000000002}));
        QCOMPARE(filter->calcBookCount, qint64(3));
        QCOMPARE(filter->calcUnreadCount, qint64(7));
        QCOMPARE(store.folders.at(6)->categoryUid, qint64(5000000012));
        QVERIFY(store.folders.at(6)->search.IsEmpty());
        QCOMPARE(store.folders.at(7)->type, 77);
        // The search folder's results are not kept.
        const DisplayFolder *search = store.FindFolder(searchId, token);
        QVERIFY(search && search->search.IsEmpty() && search->bookIds.isEmpty());
        QCOMPARE(search->calcCaption, QStringLiteral("Search Result (0 Books)"));
    }

    void failedReadKeepsFileAside_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("throws");
        QTest::addColumn<QStringList>("captions");
        // The folders read before the failure replace the file at once.
        QTest::addColumn<bool>("replaced");
        const int none = ThrowingStore::Nothing;
        QTest::newRow("empty") << QByteArray() << none << QStringList() << false;
        QTest::newRow("two bytes") << QByteArray("\x03\x05", 2) << none << QStringList() << false;
        QTest::newRow("not xml") << Envelope("this is not xml at all") << none << QStringList() << true;
        QTest::newRow("unclosed") << Envelope("<?xml version=\"1.0\"?><DocumentElement><DisplayFolder><UID>") << none << QStringList() << true;
        QTest::newRow("bad markup") << Envelope("<DocumentElement><<>></DocumentElement>") << none << QStringList() << true;
        const QByteArray kept = "<DocumentElement><DisplayMeta><CurrentGUID>g</CurrentGUID></DisplayMeta>"
            + FolderXml(QUuid::createUuid().toString(), 2, "Kept");
        const QByteArray next = kept + "<DisplayFolder><UID>" + QUuid::createUuid().toString().toUtf8()
            + "</UID><Type>2</Type>";
        QTest::newRow("cut folder") << Envelope(next + "<Caption>Cut</Caption><Oops></DisplayFolder>") << none << QStringList{"Kept"} << true;
        QTest::newRow("unclosed document") << Envelope(next + "<Caption>Last</Caption></DisplayFolder>") << none << QStringList{"Kept", "Last"} << true;
        QTest::newRow("invalid UTF-8 byte")
            << Envelope(next + "<Caption>Caf\xE9</Caption></DisplayFolder></DocumentElement>") << none
            << QStringList{"Kept", QStringLiteral("Caf") + QChar(QChar::ReplacementCharacter)} << true;
        for (int throws : {int(ThrowingStore::StdException), int(ThrowingStore::Other)})
            QTest::addRow("exception %d", throws) << Envelope(kept + "</DocumentElement>") << throws << QStringList{"Kept"} << true;
        // Every envelope with a flipped bit fails its check.
        const QByteArray good = Envelope(FolderXml(QUuid::createUuid().toString(), 2, "Mine"));
        for (int i = 0; i < good.size(); ++i) {
            for (quint8 mask : {quint8(0x01), quint8(0x80)}) {
                QByteArray bad = good;
                bad[i] = char(quint8(bad.at(i)) ^ mask);
                QTest::addRow("byte %d ^ %d", i, mask) << bad << none << QStringList() << false;
            }
        }
    }

    void failedReadKeepsFileAside()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, throws);
        QFETCH(QStringList, captions);
        QFETCH(bool, replaced);
        QVERIFY(WriteBytes(path, bytes));
        ThrowingStore store(path);
        store.throws = throws;
        if (throws != ThrowingStore::Nothing)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Reading the folders file failed")));
        QVERIFY(Load(store));
        QCOMPARE(Captions(store), Builtins + captions);
        // Every document here that holds folders names the catalogue g.
        QCOMPARE(store.currentGuid, captions.isEmpty() ? QString() : QStringLiteral("g"));
        bool added = false;
        QCOMPARE(Reloaded(path, &added), Builtins + captions);
        QCOMPARE(added, !replaced);
        QCOMPARE(store.KeptDamagedCopies().size(), 1);
        // The next save writes a new file and leaves the kept copy alone.
        QVERIFY(Save(store));
        QCOMPARE(ReadBytes(store.KeptDamagedCopies().value(0)), bytes);
        QCOMPARE(Reloaded(path, &added), Captions(store));
        QVERIFY(!added);

        // Later damaged files keep copies of their own; only the oldest beyond five go, by time
        // also across years.
        QList<QByteArray> written{"from 1999", bytes};
        QVERIFY(WriteBytes(path + ".bad-19991231-235959999", written.first()));
        for (int i = 0; i < 6; ++i) {
            written.append(bytes + QByteArray::number(i));
            QVERIFY(WriteBytes(path, written.last()));
            QVERIFY(!Reloaded(path).isEmpty());
        }
        QList<QByteArray> copies;
        for (const QString &copy : store.KeptDamagedCopies())
            copies.append(ReadBytes(copy));
        QCOMPARE(copies, written.mid(3));
    }

    void readerDropsInvalidAndRepeatedFolders()
    {
        const QString twin = QUuid::createUuid().toString();
        auto id = [] { return QUuid::createUuid().toString(); };
        const QByteArray document =
            "<Anything><DisplayMeta><Other>x</Other></DisplayMeta>" + FolderXml(twin, 2, "First")
            + FolderXml(twin, 2, "Second") + FolderXml(id(), 0, "NoType") + FolderXml("not-a-uuid", 2, "NoId")
            + FolderXml(id(), 2, QString()) + "<DisplayFolder><uid>" + id().toUtf8()
            + "</uid><Type>2</Type><Caption>WrongCase</Caption></DisplayFolder>"
            + "<DisplayFolder><Extra><Deep>1</Deep></Extra><UID>" + id().toUtf8()
            + "</UID><Type>1</Type><Caption>Last</Caption><Category_UID>x</Category_UID></DisplayFolder></Anything>";
        QVERIFY(WriteBytes(path, Envelope(document)));
        DisplayDataSaver store(path);
        store.currentGuid = QStringLiteral("old");
        // Reading twice replaces the list instead of adding to it.
        for (int pass = 0; pass < 2; ++pass) {
            QWriteLockerExt2 token(&store.lock);
            QVERIFY(store.ReadFoldersFile(token));
        }
        QCOMPARE(Captions(store), QStringList({"First", "Last"}));
        QCOMPARE(store.folders.at(1)->categoryUid, qint64(0));
        QVERIFY(store.currentGuid.isEmpty());
        QVERIFY(store.KeptDamagedCopies().isEmpty());
    }

    void queuedSavesCoalesceInOrder_data()
    {
        QTest::addColumn<int>("queuedBehind");
        QTest::addColumn<bool>("stopped"); // the writer is stopped at once, as at closing
        QTest::newRow("none") << 0 << false;
        QTest::newRow("one") << 1 << false;
        QTest::newRow("five") << 5 << false;
        QTest::newRow("five, stopped") << 5 << true;
    }

    // Saves that queue up behind a running write become one write of the newest state, which
    // a stop still writes.
    void queuedSavesCoalesceInOrder()
    {
        QFETCH(int, queuedBehind);
        QFETCH(bool, stopped);
        DisplayDataSaver store(path);
        QVERIFY(Load(store));
        // Another writer of the config lock holds up the first write.
        QSemaphore held, release;
        std::unique_ptr<QThread> other(QThread::create([&] {
            QWriteLocker locker(NativeHelper::_configLocker);
            held.release();
            release.acquire();
        }));
        other->start();
        held.acquire();
        quint64 first = 0;
        {
            QWriteLockerExt2 token(&store.lock);
            first = store.QueueSave(token);
        }
        QTRY_COMPARE(store.foldersWriter.WritesStarted(), quint64(1));
        quint64 last = first;
        for (int i = 0; i < queuedBehind; ++i) {
            QWriteLockerExt2 token(&store.lock);
            QVERIFY(store.AddFolder(NewFolder(FilterFolder, QString::number(i)), token));
            last = store.QueueSave(token);
            QVERIFY(last > first);
        }
        release.release();
        if (stopped)
            store.foldersWriter.Stop();
        other->wait();
        QVERIFY(store.WaitForSave(first, 10000) && store.WaitForSave(last, 10000));
        QCOMPARE(store.foldersWriter.WritesStarted(), quint64(queuedBehind > 0 ? 2 : 1));
        QCOMPARE(Reloaded(path), Captions(store));
    }

    void failedWriteKeepsOldFile()
    {
        // Where there is no file a store may write one, and then keep writing it.
        DisplayDataSaver first(path);
        QVERIFY(Save(first) && Save(first));
        const QByteArray old = ReadBytes(path);
        // Never over a file the store has not read.
        DisplayDataSaver store(path);
        QVERIFY(!Save(store));
        QCOMPARE(ReadBytes(path), old);
        QVERIFY(Load(store));
        for (int i = 0; i < 400; ++i)
            QVERIFY(Add(store, NewFolder(FilterFolder, QUuid::createUuid().toString())));
        {
            // A file size limit makes every write beyond 2 KB fail, even for root.
            TestSandbox::FileSizeLimit limit(2048);
            QVERIFY(!Save(store));
        }
        QCOMPARE(ReadBytes(path), old);
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList({"user-folders.file"}));
        // Once writing works again the same store saves.
        QVERIFY(Save(store));
        QCOMPARE(Reloaded(path).size(), 404);
    }
};

QTEST_GUILESS_MAIN(TestFoldersFile)
#include "test_foldersfile.moc"
