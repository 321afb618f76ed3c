#include "test_dataloader_support.h"

#include "folders/DisplayPageState.h"
#include "catalogue/ItemBook.h"
#include "threads/QWriteLockerExt2.h"

#include <QtTest>

#include <atomic>
#include <chrono>
#include <thread>

using namespace LoaderTest;

namespace {

const int Cycles = 200;
const int Books = 80;
const qint64 TimeBudgetMs = 60000;

enum Kind { NewCatalogue, Unchanged, BadMd5, TruncatedBody, ErrorPage, ServerError, HangingAnswer, HangingDownload,
            CutDownload, WrongGuidInside };

// Faults between the good cycles; every fourth cycle brings a new catalogue.
const Kind Plan[] = {NewCatalogue, BadMd5,       Unchanged,     TruncatedBody, NewCatalogue, ServerError,
                     HangingAnswer, ErrorPage,   NewCatalogue,  CutDownload,   WrongGuidInside, Unchanged,
                     NewCatalogue, HangingDownload, BadMd5,     ServerError};

// Pages through every book of the "all books" folder from a thread of its own, as a second
// reader next to the GUI thread, counting books that should exist but are not found.
void ReadBooks(DisplayDataSaver *store, const std::atomic<bool> &stop, std::atomic<int> &pages, std::atomic<int> &missing)
{
    int offset = 0;
    while (!stop) {
        QList<qint64> ids;
        {
            QReadLockerExt2 token(0, &store->lock);
            if (DisplayFolder *folder = store->FindFolder(store->FindFirstFolderOfType(AllBooks, token), token))
                ids = folder->bookIds;
        }
        if (ids.isEmpty()) {
            std::this_thread::yield();
            continue;
        }
        offset = (offset + 20) % ids.size();
        QWriteLockerExt2 token(&store->items->lock);
        for (int i = offset; i < qMin(offset + 20, ids.size()); ++i) {
            if (!store->items->GetBook(ids.at(i), token))
                ++missing;
        }
        ++pages;
        std::this_thread::sleep_for(std::chrono::microseconds(50)); // leaves the cores to the workers
    }
}

} // namespace

// Many refreshes against a service that mixes good catalogues with every kind of fault, while
// books are read all along: the open catalogue and the slot pointer must always stay good.
class TestSoakRefresh : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir home;
    TestHttpServer server;
    QStringList goodGuids;
    QList<QByteArray> goodBytes;

    // Serves the answer and file of one cycle; returns the guid a good cycle must end with.
    QString Script(Kind kind, const QString &openGuid, int cycle)
    {
        server.ClearScript();
        const QString next = goodGuids.at((goodGuids.indexOf(openGuid) + 1) % goodGuids.size());
        const QByteArray bytes = CatalogueBytes(next, Books);
        const QByteArray location = "/files/c" + QByteArray::number(cycle) + ".rfile";
        const QByteArray noMd5;
        const QByteArray badMd5 = FileDownloader::Md5Hex(bytes + "x").toLatin1();
        Publish(server, kind == WrongGuidInside ? next + QStringLiteral("-announced") : next, bytes, location);
        switch (kind) {
        case NewCatalogue:
            return next;
        case Unchanged:
            Publish(server, openGuid, CatalogueBytes(openGuid, Books), location);
            return openGuid;
        case BadMd5: Publish(server, next, bytes, location, &badMd5); break;
        case TruncatedBody: Publish(server, next, bytes.left(bytes.size() / 2 + cycle), location, &noMd5); break;
        case ErrorPage: Publish(server, next, "<html><h1>502 Bad Gateway</h1></html>", location, &noMd5); break;
        case ServerError: server.SetResponse(ServicePath, TestHttpResponse::Status(500, "error")); break;
        case HangingAnswer: server.SetResponse(ServicePath, TestHttpResponse::Hang()); break;
        case HangingDownload: server.SetResponse(location, TestHttpResponse::Hang()); break;
        case CutDownload: server.SetResponse(location, TestHttpResponse::CloseMidBody(bytes, bytes.size() / 3)); break;
        case WrongGuidInside: break;
        }
        return QString();
    }

    // The slot the pointer names holds the open catalogue.
    static bool PointerNamesOpenFile(Workers &w)
    {
        bool ok = false;
        const int slot = PointerText().toInt(&ok);
        return ok && SlotPath(slot) == w.OpenFile() && QFile::exists(SlotPath(slot));
    }

    // Pages the "all books" folder on the test thread, which stands for the GUI thread.
    static void PageOnGuiThread(DisplayDataSaver &store, DisplayPageState &state, int &pages)
    {
        QWriteLockerExt2 token(&store.lock);
        DisplayFolder *folder = store.FindFolder(store.FindFirstFolderOfType(AllBooks, token), token);
        if (!folder)
            return;
        QList<ItemBook> books;
        state.SetCurrentPage(1 + pages % 4);
        store.LoadFolderPage(folder, &state, pages % 7 == 0, 20, &books, token);
        ++pages;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(TestSandbox::UseLocalService(home, server));
        for (int i = 0; i < 4; ++i) {
            goodGuids << QStringLiteral("soak-guid-%1").arg(i);
            goodBytes << CatalogueBytes(goodGuids.last(), Books);
            QVERIFY(!goodBytes.last().isEmpty());
        }
    }

    void refreshCyclesKeepAGoodCatalogue()
    {
        QElapsedTimer clock;
        clock.start();
        Workers w;
        Publish(server, goodGuids.first(), goodBytes.first());
        QCOMPARE(w.Run(w.loader), QStringLiteral("changed; error 0, answer 1"));

        std::atomic<bool> stop{false};
        std::atomic<int> readerPages{0}, missing{0};
        std::thread reader(ReadBooks, &w.store, std::cref(stop), std::ref(readerPages), std::ref(missing));
        DisplayPageState pageState;
        int guiPages = 0, cycle = 0;
        for (; cycle < Cycles && clock.elapsed() < TimeBudgetMs - 5000; ++cycle) {
            const Kind kind = Plan[cycle % (sizeof(Plan) / sizeof(Plan[0]))];
            const QString openGuid = w.OpenGuid();
            const QString openFile = w.OpenFile();
            const QString pointer = PointerText();
            const QString expected = Script(kind, openGuid, cycle);
            // Hangs end by a short time-out; answers that come get all the time they need.
            const bool hang = kind == HangingAnswer || kind == HangingDownload;
            w.refresher.requestTimeoutMs = w.refresher.downloadTimeoutMs = hang ? 300 : 20000;
            w.Run(w.refresher, [&] { PageOnGuiThread(w.store, pageState, guiPages); });

            const QString where = QStringLiteral("cycle %1").arg(cycle);
            QVERIFY2(w.completions.size() == 1, qPrintable(where));
            const bool succeeded = !w.completions.first().startsWith(QLatin1String("failed"));
            if (expected.isEmpty()) {
                QVERIFY2(!succeeded, qPrintable("fault accepted in " + where));
                QCOMPARE(w.OpenGuid(), openGuid);
                QCOMPARE(w.OpenFile(), openFile);
                QCOMPARE(PointerText(), pointer);
            } else {
                QVERIFY2(succeeded, qPrintable("good " + where + " failed"));
                QCOMPARE(w.OpenGuid(), expected);
            }
            QVERIFY2(PointerNamesOpenFile(w), qPrintable(where));
        }
        stop = true;
        reader.join();

        QCOMPARE(cycle, Cycles);
        QCOMPARE(ReadBytes(w.OpenFile()), CatalogueBytes(w.OpenGuid(), Books));
        QCOMPARE(ReadFoldersFile().first, w.OpenGuid());
        QCOMPARE(missing.load(), 0);
        QVERIFY(readerPages.load() > 0);
        QVERIFY(guiPages > 0);
        // Every slot file left behind is a whole good catalogue.
        for (const QString &name : CatalogueFileNames())
            QVERIFY2(goodBytes.contains(ReadBytes(DatabaseFolder().filePath(name))), qPrintable(name));
        qInfo("soak: %d cycles, %d pages read by the reader thread, %d by the GUI thread, %lld ms", cycle,
              readerPages.load(), guiPages, static_cast<long long>(clock.elapsed()));
        QVERIFY(clock.elapsed() < TimeBudgetMs);
    }
};

QTEST_GUILESS_MAIN(TestSoakRefresh)
#include "test_soak_refresh.moc"
