#include "CatalogueFiles.h"
#include "CatalogueSlots.h"
#include "Helper.h"
#include "TestSandbox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

using TestSandbox::ReadBytes;
using TestSandbox::WriteBytes;

class TestSlotFiles : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir home;
    QString folder;

private slots:
    void initTestCase()
    {
        // Data folders live in a home of our own.
        QVERIFY(TestSandbox::UsePrivateHome(home));
        folder = Helper::GetLocalFolder(Helper::FolderDatabase);
        QVERIFY(!folder.isEmpty());
        QVERIFY(folder.startsWith(home.path()));
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
        if (slot == 10 || content.isEmpty()) {
            QCOMPARE(picked, 0);
            QVERIFY(needDownload);
        } else {
            QCOMPARE(picked, slot);
            QVERIFY(!needDownload);
            QCOMPARE(ReadBytes(path), QByteArray("catalogue"));
        }
        QCOMPARE(path, CatalogueSlots::MakeCatalogueFileName(picked));
    }

    void writePointer()
    {
        QVERIFY(CatalogueSlots::WritePreFile(7));
        QCOMPARE(ReadBytes(CatalogueSlots::MakePreFilePath()), QByteArray("7"));
        QVERIFY(CatalogueSlots::WritePreFile(3));
        QCOMPARE(ReadBytes(CatalogueSlots::MakePreFilePath()), QByteArray("3"));
        // A pointer that cannot be replaced is reported.
        QVERIFY(QFile::remove(CatalogueSlots::MakePreFilePath()));
        QVERIFY(QDir().mkpath(CatalogueSlots::MakePreFilePath()));
        QVERIFY(!CatalogueSlots::WritePreFile(4));
    }

    void textFiles()
    {
        const QString path = folder + "/text.txt";
        QCOMPARE(ReadTextFile(path), QString());
        QVERIFY(!IsFileUsable(path));
        QVERIFY(WriteTextFile(path, QStringLiteral("Grüße")));
        QCOMPARE(ReadTextFile(path), QStringLiteral("Grüße"));
        QVERIFY(IsFileUsable(path));
        QVERIFY(WriteTextFile(path, QStringLiteral("x")));
        QCOMPARE(ReadBytes(path), QByteArray("x"));
        QVERIFY(!IsFileUsable(folder));
        QVERIFY(!WriteTextFile(folder + "/missing/dir/f.txt", "x"));
        QVERIFY(IsSameFilePath(path, path.toUpper()));
        QVERIFY(IsSameFilePath(path, folder + "/./text.txt"));
        QVERIFY(!IsSameFilePath(path, QString()));
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
};

QTEST_GUILESS_MAIN(TestSlotFiles)
#include "test_slotfiles.moc"
