// Sets the one-way closing flag, so it runs as an executable of its own.
#include "FileDownloader.h"
#include "threads/NativeHelper.h"
#include "TestHttpServer.h"

#include <QtTest>

class TestFileDownloaderClosing : public QObject
{
    Q_OBJECT
private slots:
    void replyWhileClosingFails()
    {
        QStandardPaths::setTestModeEnabled(true);
        QTemporaryDir dir;
        TestHttpServer server;
        QVERIFY(server.Start());
        server.SetDefault(TestHttpResponse::Ok("body"));
        FileDownloader before(ItemComparePart(), server.Url("/a"), nullptr, 5000, QString());
        QCOMPARE(before.RunAndWait(), QStringLiteral("body"));

        NativeHelper::SetClosing();
        const QString target = dir.filePath("t.bin");
        FileDownloader after(ItemComparePart(), server.Url("/a"), nullptr, 5000, target);
        QVERIFY(after.RunAndWait().isEmpty());
        QVERIFY(after.finished && !after.succeeded && after.data.isEmpty());
        QVERIFY(!QFile::exists(target));
    }
};

QTEST_GUILESS_MAIN(TestFileDownloaderClosing)
#include "test_filedownloader_closing.moc"
