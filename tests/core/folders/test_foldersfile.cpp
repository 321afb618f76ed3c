#include "folders/DisplayDataSaver.h"
#include "envelope/DisplayFolderEncrypterClass.h"
#include "folders/DamagedFileKeeper.h"

#include <QDir>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <new>
#include <sys/resource.h>

namespace {

// An envelope made with a key the program does not use.
class OtherKeyEncrypter : public DefaultEncryptHelper
{
public:
    quint64 GetKeySeed() const override { return 0x0123456789ABCDEFULL; }
};

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray Envelope(const QByteArray &document)
{
    QByteArray out;
    DisplayFolderEncrypterClass().EncryptBytes(document, out);
    return out;
}

QByteArray FolderXml(const QString &uid, int type, const QString &caption)
{
    return QStringLiteral("<DisplayFolder><UID>%1</UID><Type>%2</Type><Caption>%3</Caption></DisplayFolder>")
        .arg(uid, QString::number(type), caption)
        .toUtf8();
}

// A reader that fails after the real read, as a read running out of memory would.
class ThrowingStore : public DisplayDataSaver
{
public:
    ThrowingStore(const QString &path, bool standard) : DisplayDataSaver(path), standard(standard) {}
    bool ReadFoldersFile(const QWriteLockerExt2 &token) override
    {
        DisplayDataSaver::ReadFoldersFile(token);
        if (standard)
            throw std::bad_alloc();
        throw 42;
    }
    const bool standard;
};

} // namespace

// The encrypted folders file: format, round trip and recovery from damaged files.
class TestFoldersFile : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void firstStartGivesBuiltins();
    void documentFormat();
    void roundTripKeepsAwkwardTexts();
    void damagedFileIsKeptAside_data();
    void damagedFileIsKeptAside();
    void everyFlippedByteIsDetected();
    void partlyMalformedKeepsEarlierFolders_data();
    void partlyMalformedKeepsEarlierFolders();
    void exceptionEndsTheRead_data();
    void exceptionEndsTheRead();
    void neverWritesOverAFileItHasNotRead();
    void readerDropsInvalidAndRepeatedFolders();
    void missingBuiltinGoesToFront();
    void failedWriteKeepsOldFile();

private:
    QStringList Captions(DisplayDataSaver &store);
    void Save(DisplayDataSaver &store);

    QTemporaryDir dir;
    QString path;
};

void TestFoldersFile::init()
{
    path = dir.filePath(QStringLiteral("user-folders.file"));
    QFile::remove(path);
    for (const QString &copy : DisplayDataSaver(path).KeptDamagedCopies())
        QFile::remove(copy);
}

void TestFoldersFile::cleanup()
{
}

QStringList TestFoldersFile::Captions(DisplayDataSaver &store)
{
    QStringList captions;
    QReadLockerExt2 token(0, &store.lock);
    for (const DisplayFolder *folder : qAsConst(store.folders))
        captions.append(folder->caption);
    return captions;
}

void TestFoldersFile::Save(DisplayDataSaver &store)
{
    QWriteLockerExt2 token(&store.lock);
    QVERIFY(store.SaveLocked(token));
}

void TestFoldersFile::firstStartGivesBuiltins()
{
    DisplayDataSaver store(path);
    bool added = false;
    QVERIFY(store.LoadFolders(added));
    QVERIFY(added);
    QCOMPARE(Captions(store), QStringList({QStringLiteral("All Tessaly"), QStringLiteral("New Arrivals"),
                                           QStringLiteral("Best Tessaly"), QStringLiteral("Search Result")}));
    QVERIFY(!QFile::exists(path));
    QCOMPARE(store.folders.at(0)->calcCaption, QStringLiteral("All Tessaly (0 Books)"));
    // Loading again adds nothing.
    QVERIFY(store.LoadFolders(added));
    QVERIFY(!added);
    QCOMPARE(store.folders.size(), 4);
    Save(store);
    const QByteArray bytes = ReadAll(path);
    QVERIFY(bytes.size() > 2);
    QCOMPARE(quint8(bytes.at(0)), quint8(0x03));
    QCOMPARE(quint8(bytes.at(1)), quint8(0x05));
}

void TestFoldersFile::documentFormat()
{
    DisplayDataSaver store(path);
    auto *filter = new DisplayFolder();
    filter->uid = QUuid(QStringLiteral("{0b5e2f0a-1c2d-4e5f-8a9b-0c1d2e3f4a5b}"));
    filter->type = FilterFolder;
    filter->caption = QStringLiteral("Cheap <&>");
    filter->search.findName = QStringList{QStringLiteral("a"), QStringLiteral("b")};
    filter->search.findDescription = QStringList{QStringLiteral("never saved")};
    filter->search.findUserRating = {1002};
    filter->bookIds = {5, 7};
    filter->calcBookCount = 2;
    filter->calcUnreadCount = 1;
    DisplayFolder *search = DisplayFolder::CreateSearchFolder();
    search->uid = QUuid(QStringLiteral("{11111111-2222-3333-4444-555555555555}"));
    search->search.findName = QStringList{QStringLiteral("lost")};
    search->bookIds = {9};
    search->calcBookCount = 1;
    QWriteLockerExt2 token(&store.lock);
    QVERIFY(store.AddFolder(filter, token));
    QVERIFY(store.AddFolder(search, token));
    const QByteArray withoutGuid = store.BuildFoldersDocument(token);
    QVERIFY(withoutGuid.contains("<DisplayMeta></DisplayMeta>") || withoutGuid.contains("<DisplayMeta/>"));
    QVERIFY(!withoutGuid.contains("CurrentGUID"));
    store.currentGuid = QStringLiteral("g-1");
    const QByteArray document = store.BuildFoldersDocument(token);
    QCOMPARE(document.trimmed(),
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
}

void TestFoldersFile::roundTripKeepsAwkwardTexts()
{
    const QString control = QStringLiteral("ctl") + QChar(0x01) + QStringLiteral("x") + QChar(0xFFFF);
    QUuid filterId;
    QUuid searchId;
    {
        DisplayDataSaver store(path);
        auto *filter = new DisplayFolder();
        filter->type = FilterFolder;
        filter->caption = QStringLiteral("Tést <&>'\" 漢字 ") + control;
        filter->search.findName = QStringList{QString(), QStringLiteral("a|b"), QStringLiteral("@fix;"), QString(),
                                   QStringLiteral("<&>'\""), QStringLiteral("Ünïcødé 漢字 😀"), control,
                                   QStringLiteral("tab\there")};
        filter->search.findAuthor = QStringList{QStringLiteral("O'Brien")};
        filter->search.findCategoryName = QStringList{QStringLiteral("Sci|Fi")};
        filter->search.findUserRating = {1000, 1005};
        filter->search.findOrgPrice = {2002};
        filter->search.findBookPages = {3001, 3006};
        filter->search.findBookSize = {4003};
        filter->search.findCategoryList = {12, 40};
        filter->bookIds = {3, 1, 2};
        filter->calcBookCount = 3;
        filter->calcUnreadCount = 7;
        auto *category = new DisplayFolder();
        category->type = CategoryFolder;
        category->caption = QStringLiteral("Science");
        category->categoryUid = 12;
        category->search.findName = QStringList{QStringLiteral("not kept")};
        auto *odd = new DisplayFolder();
        odd->type = 77;
        odd->caption = QStringLiteral("Odd");
        DisplayFolder *search = DisplayFolder::CreateSearchFolder();
        search->search.findName = QStringList{QStringLiteral("lost")};
        search->bookIds = {4};
        search->calcBookCount = 1;
        QWriteLockerExt2 token(&store.lock);
        store.currentGuid = QStringLiteral("guid-42");
        QVERIFY(store.AddFolder(filter, token));
        QVERIFY(store.AddFolder(category, token));
        QVERIFY(store.AddFolder(odd, token));
        QVERIFY(store.AddFolder(search, token));
        filterId = filter->uid;
        searchId = search->uid;
        QVERIFY(store.SaveLocked(token));
    }
    DisplayDataSaver store(path);
    bool added = false;
    QVERIFY(store.LoadFolders(added));
    QVERIFY(added);
    QVERIFY(store.KeptDamagedCopies().isEmpty());
    QReadLockerExt2 token(0, &store.lock);
    QCOMPARE(store.currentGuid, QStringLiteral("guid-42"));
    QCOMPARE(store.folders.size(), 7);
    const DisplayFolder *filter = store.FindFolder(filterId, token);
    QVERIFY(filter);
    QCOMPARE(filter->caption, QStringLiteral("Tést <&>'\" 漢字 ctlx"));
    QCOMPARE(filter->search.findName,
             QStringList({QStringLiteral("a|b"), QStringLiteral("|"), QStringLiteral("<&>'\""),
                          QStringLiteral("Ünïcødé 漢字 😀"), QStringLiteral("ctlx"), QStringLiteral("tab\there")}));
    QCOMPARE(filter->search.findAuthor, QStringList({QStringLiteral("O'Brien")}));
    QCOMPARE(filter->search.findCategoryName, QStringList({QStringLiteral("Sci|Fi")}));
    QCOMPARE(filter->search.findUserRating, QList<qint64>({1000, 1005}));
    QCOMPARE(filter->search.findOrgPrice, QList<qint64>({2002}));
    QCOMPARE(filter->search.findBookPages, QList<qint64>({3001, 3006}));
    QCOMPARE(filter->search.findBookSize, QList<qint64>({4003}));
    QCOMPARE(filter->search.findCategoryList, QList<qint64>({12, 40}));
    QCOMPARE(filter->bookIds, QList<qint64>({3, 1, 2}));
    QCOMPARE(filter->calcBookCount, qint64(3));
    QCOMPARE(filter->calcUnreadCount, qint64(7));
    QVERIFY(filter->sortedBookIds.isEmpty());
    const DisplayFolder *category = store.folders.at(4);
    QCOMPARE(category->categoryUid, qint64(12));
    QVERIFY(category->search.IsEmpty());
    QCOMPARE(store.folders.at(5)->type, 77);
    const DisplayFolder *search = store.FindFolder(searchId, token);
    QVERIFY(search);
    QVERIFY(search->search.IsEmpty());
    QVERIFY(search->bookIds.isEmpty());
    QCOMPARE(search->calcBookCount, qint64(0));
    QCOMPARE(search->calcCaption, QStringLiteral("Search Result (0 Books)"));
    // The three missing built-ins went to the front.
    QCOMPARE(store.folders.at(0)->type, int(AllBooks));
}

void TestFoldersFile::damagedFileIsKeptAside_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QByteArray random(300, '\0');
    QRandomGenerator generator(7);
    for (char &byte : random)
        byte = char(generator.bounded(256));
    QByteArray otherKey;
    OtherKeyEncrypter().EncryptBytes(QByteArray("<DocumentElement>") + FolderXml(QUuid::createUuid().toString(), 2, QStringLiteral("X"))
                                         + "</DocumentElement>",
                                     otherKey);
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("two bytes") << QByteArray("\x03\x05", 2);
    QTest::newRow("random") << random;
    QTest::newRow("other key") << otherKey;
    QTest::newRow("not xml") << Envelope("this is not xml at all");
    QTest::newRow("unclosed") << Envelope("<?xml version=\"1.0\"?><DocumentElement><DisplayFolder><UID>");
    QTest::newRow("bad markup") << Envelope("<DocumentElement><<>></DocumentElement>");
}

void TestFoldersFile::damagedFileIsKeptAside()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(WriteAll(path, bytes));
    DisplayDataSaver store(path);
    bool added = false;
    QVERIFY(store.LoadFolders(added));
    QVERIFY(added);
    QCOMPARE(Captions(store), QStringList({QStringLiteral("All Tessaly"), QStringLiteral("New Arrivals"),
                                           QStringLiteral("Best Tessaly"), QStringLiteral("Search Result")}));
    QCOMPARE(store.KeptDamagedCopies().size(), 1);
    QCOMPARE(ReadAll(store.KeptDamagedCopies().value(0)), bytes);
    // The next save writes a new file and leaves the kept copy alone.
    Save(store);
    QCOMPARE(ReadAll(store.KeptDamagedCopies().value(0)), bytes);
    DisplayDataSaver reloaded(path);
    QVERIFY(reloaded.LoadFolders(added));
    QVERIFY(!added);

    // Later damaged files keep copies of their own; only the oldest beyond a few go.
    QList<QByteArray> written{bytes};
    for (int i = 0; i < DamagedFileKeeper::MaxKeptCopies + 1; ++i) {
        written.append(bytes + QByteArray::number(i));
        QVERIFY(WriteAll(path, written.last()));
        DisplayDataSaver again(path);
        QVERIFY(again.LoadFolders(added));
    }
    QList<QByteArray> kept;
    for (const QString &copy : store.KeptDamagedCopies())
        kept.append(ReadAll(copy));
    QCOMPARE(kept, written.mid(written.size() - DamagedFileKeeper::MaxKeptCopies));
}

void TestFoldersFile::everyFlippedByteIsDetected()
{
    const QUuid id = QUuid::createUuid();
    const QByteArray good = Envelope("<DocumentElement>" + FolderXml(id.toString(), 2, QStringLiteral("Mine"))
                                     + "</DocumentElement>");
    for (int i = 0; i < good.size(); ++i) {
        for (quint8 mask : {quint8(0x01), quint8(0x80)}) {
            QByteArray bad = good;
            bad[i] = char(quint8(bad.at(i)) ^ mask);
            QVERIFY(WriteAll(path, bad));
            DisplayDataSaver store(path);
            bool added = false;
            QVERIFY(store.LoadFolders(added));
            QVERIFY2(store.GetFolderType(id) == 0, qPrintable(QStringLiteral("byte %1").arg(i)));
            QCOMPARE(store.folders.size(), 4);
            QCOMPARE(ReadAll(store.KeptDamagedCopies().value(store.KeptDamagedCopies().size() - 1)), bad);
        }
    }
}

void TestFoldersFile::partlyMalformedKeepsEarlierFolders_data()
{
    QTest::addColumn<QByteArray>("tail");
    QTest::addColumn<QStringList>("captions");
    const QByteArray next = "<DisplayFolder><UID>" + QUuid::createUuid().toString().toUtf8() + "</UID><Type>2</Type>";
    QTest::newRow("cut folder") << next + "<Caption>Cut</Caption><Oops></DisplayFolder>" << QStringList{"Kept"};
    QTest::newRow("unclosed document") << next + "<Caption>Last</Caption></DisplayFolder>"
                                       << QStringList{"Kept", "Last"};
    QTest::newRow("invalid UTF-8 byte")
        << next + "<Caption>Caf\xE9</Caption></DisplayFolder></DocumentElement>"
        << QStringList{"Kept", QStringLiteral("Caf") + QChar(QChar::ReplacementCharacter)};
}

void TestFoldersFile::partlyMalformedKeepsEarlierFolders()
{
    QFETCH(QByteArray, tail);
    QFETCH(QStringList, captions);
    const QByteArray bytes = Envelope("<DocumentElement><DisplayMeta><CurrentGUID>g</CurrentGUID></DisplayMeta>"
                                      + FolderXml(QUuid::createUuid().toString(), 2, QStringLiteral("Kept")) + tail);
    QVERIFY(WriteAll(path, bytes));
    {
        DisplayDataSaver store(path);
        bool added = false;
        QVERIFY(store.LoadFolders(added));
        QCOMPARE(Captions(store).mid(4), captions);
        QCOMPARE(store.currentGuid, QStringLiteral("g"));
        QCOMPARE(store.KeptDamagedCopies().size(), 1);
        QCOMPARE(ReadAll(store.KeptDamagedCopies().value(0)), bytes);
    }
    // What was read replaced the damaged file: the next start finds the same folders.
    DisplayDataSaver next(path);
    bool added = false;
    QVERIFY(next.LoadFolders(added));
    QVERIFY(!added);
    QCOMPARE(Captions(next).mid(4), captions);
    QCOMPARE(next.KeptDamagedCopies().size(), 1);
}

void TestFoldersFile::neverWritesOverAFileItHasNotRead()
{
    DisplayDataSaver first(path);
    bool added = false;
    QVERIFY(first.LoadFolders(added));
    Save(first);
    const QByteArray saved = ReadAll(path);
    DisplayDataSaver unread(path);
    {
        QWriteLockerExt2 token(&unread.lock);
        QVERIFY(!unread.SaveLocked(token));
    }
    QCOMPARE(ReadAll(path), saved);
    QVERIFY(unread.LoadFolders(added));
    Save(unread);
}

void TestFoldersFile::exceptionEndsTheRead_data()
{
    QTest::addColumn<bool>("standard");
    QTest::newRow("std::exception") << true;
    QTest::newRow("anything else") << false;
}

void TestFoldersFile::exceptionEndsTheRead()
{
    QFETCH(bool, standard);
    const QUuid kept = QUuid::createUuid();
    QVERIFY(WriteAll(path, Envelope("<DocumentElement>" + FolderXml(kept.toString(), 2, QStringLiteral("Kept"))
                                    + "</DocumentElement>")));
    ThrowingStore store(path, standard);
    bool added = false;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Reading the folders file failed")));
    QVERIFY(store.LoadFolders(added));
    QVERIFY(added);
    QCOMPARE(store.GetFolderType(kept), int(FilterFolder));
    QCOMPARE(store.folders.size(), 5);
}

void TestFoldersFile::readerDropsInvalidAndRepeatedFolders()
{
    const QString twin = QUuid::createUuid().toString();
    const QByteArray document =
        "<Anything><DisplayMeta><Other>x</Other></DisplayMeta>" + FolderXml(twin, 2, QStringLiteral("First"))
        + FolderXml(twin, 2, QStringLiteral("Second")) + FolderXml(QUuid::createUuid().toString(), 0, QStringLiteral("NoType"))
        + FolderXml(QStringLiteral("not-a-uuid"), 2, QStringLiteral("NoId"))
        + FolderXml(QUuid::createUuid().toString(), 2, QString())
        + "<DisplayFolder><uid>" + QUuid::createUuid().toString().toUtf8()
        + "</uid><Type>2</Type><Caption>WrongCase</Caption></DisplayFolder>"
        + "<DisplayFolder><Extra><Deep>1</Deep></Extra><UID>" + QUuid::createUuid().toString().toUtf8()
        + "</UID><Type>1</Type><Caption>Last</Caption><Category_UID>x</Category_UID></DisplayFolder></Anything>";
    QVERIFY(WriteAll(path, Envelope(document)));
    DisplayDataSaver store(path);
    {
        QWriteLockerExt2 token(&store.lock);
        store.currentGuid = QStringLiteral("old");
        QVERIFY(store.ReadFoldersFile(token));
    }
    QCOMPARE(Captions(store), QStringList({QStringLiteral("First"), QStringLiteral("Last")}));
    QCOMPARE(store.folders.at(1)->categoryUid, qint64(0));
    QVERIFY(store.currentGuid.isEmpty());
    QVERIFY(store.KeptDamagedCopies().isEmpty());
    // Reading again replaces the list instead of adding to it.
    {
        QWriteLockerExt2 token(&store.lock);
        QVERIFY(store.ReadFoldersFile(token));
    }
    QCOMPARE(store.folders.size(), 2);
}

void TestFoldersFile::missingBuiltinGoesToFront()
{
    {
        DisplayDataSaver store(path);
        bool added = false;
        QVERIFY(store.LoadFolders(added));
        QVERIFY(store.RemoveFolder(store.folders.at(1)->uid));
        auto *mine = new DisplayFolder();
        mine->type = FilterFolder;
        mine->caption = QStringLiteral("Mine");
        QWriteLockerExt2 token(&store.lock);
        QVERIFY(store.AddFolder(mine, token));
        QVERIFY(store.SaveLocked(token));
    }
    DisplayDataSaver store(path);
    bool added = false;
    QVERIFY(store.LoadFolders(added));
    QVERIFY(added);
    QCOMPARE(Captions(store), QStringList({QStringLiteral("New Arrivals"), QStringLiteral("All Tessaly"),
                                           QStringLiteral("Best Tessaly"), QStringLiteral("Search Result"),
                                           QStringLiteral("Mine")}));
}

void TestFoldersFile::failedWriteKeepsOldFile()
{
    DisplayDataSaver store(path);
    bool added = false;
    QVERIFY(store.LoadFolders(added));
    Save(store);
    const QByteArray old = ReadAll(path);
    {
        QWriteLockerExt2 token(&store.lock);
        for (int i = 0; i < 400; ++i) {
            auto *folder = new DisplayFolder();
            folder->type = FilterFolder;
            folder->caption = QUuid::createUuid().toString();
            QVERIFY(store.AddFolder(folder, token));
        }
    }
    // A file size limit makes every write beyond 2 KB fail, even for root.
    struct rlimit saved;
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 2048;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool saved_ok;
    {
        QWriteLockerExt2 token(&store.lock);
        saved_ok = store.SaveLocked(token);
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    QVERIFY(!saved_ok);
    QCOMPARE(ReadAll(path), old);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList({QStringLiteral("user-folders.file")}));
    // Once writing works again the same store saves.
    Save(store);
    DisplayDataSaver reloaded(path);
    QVERIFY(reloaded.LoadFolders(added));
    QCOMPARE(reloaded.folders.size(), 404);
}

QTEST_GUILESS_MAIN(TestFoldersFile)
#include "test_foldersfile.moc"
