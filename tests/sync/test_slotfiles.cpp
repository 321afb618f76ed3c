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
