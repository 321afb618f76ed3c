#include "settings/NativeConfigLoader.h"
#include "threads/NativeHelper.h"
#include "threads/QWriteLockerExt2.h"
#include "TestSandbox.h"

#include <QTemporaryDir>
#include <QtTest>

// Sets the one-way closing flag, so it runs in its own process.
class TestSettingsClosing : public QObject
{
    Q_OBJECT

private slots:
    void noSaveOnceClosing()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("native-config.file");
        const QByteArray before("[NativeConfig]\nCheck_NewVersion=true\n");
        QVERIFY(TestSandbox::WriteBytes(path, before));
        NativeConfigLoader loader(path);
        QVERIFY(loader.Load());
        QWriteLockerExt2 token(&loader.lock);
        loader.currentSettings.Check_NewVersion = false;
        NativeHelper::SetClosing();
        QVERIFY(!loader.SaveToFile(token));
        QCOMPARE(TestSandbox::ReadBytes(path), before);
        // The refusal released _configLocker.
        QVERIFY(NativeHelper::_configLocker->tryLockForWrite());
        NativeHelper::_configLocker->unlock();
    }
};

QTEST_GUILESS_MAIN(TestSettingsClosing)
#include "test_settings_closing.moc"
