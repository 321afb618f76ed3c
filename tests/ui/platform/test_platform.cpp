#include "platform/NativeApplication.h"
#include "platform/ObjectiveC.h"

#include <QDialog>
#include <QMainWindow>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <csignal>

class TestPlatform : public QObject
{
    Q_OBJECT

private slots:
    void terminationSignalsReachStopSignalOncePerBatch()
    {
        auto *app = qobject_cast<NativeApplication *>(QCoreApplication::instance());
        QVERIFY(app);
        QSignalSpy stop(app, &NativeApplication::OnCallStopWindow);

        // Delivered through the pipe: nothing happens inside the handler itself.
        for (int signo : {SIGTERM, SIGHUP, SIGINT}) {
            const int before = stop.count();
            ::raise(signo);
            QCOMPARE(stop.count(), before);
            QTRY_COMPARE(stop.count(), before + 1);
        }

        // Several signals before the loop runs collapse into one request.
        ::raise(SIGTERM);
        ::raise(SIGTERM);
        ::raise(SIGINT);
        QTRY_COMPARE(stop.count(), 4);
        QTest::qWait(50);
        QCOMPARE(stop.count(), 4);

        // The loop about to quit feeds the same signal.
        QVERIFY(QMetaObject::invokeMethod(app, "aboutToQuit"));
        QCOMPARE(stop.count(), 5);
        QCOMPARE(QSignalSpy(app, &NativeApplication::OnCallActivateWindow).count(), 0);
    }

    void hideKeepsOpenDialogAndShowRestores()
    {
        QMainWindow window;
        ObjectiveC::SetMainWindow(&window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(!ObjectiveC::IsHidden());

        QDialog dialog(&window);
        bool hiddenWhileOpen = false;
        bool dialogStayed = false;
        bool shownAgain = false;
        QTimer::singleShot(0, &dialog, [&]() {
            ObjectiveC::HideWindow();
            hiddenWhileOpen = ObjectiveC::IsHidden() && !window.isVisible();
            QTest::qWait(30);
            // Hiding must not end the dialog's event loop.
            dialogStayed = dialog.isVisible();
            ObjectiveC::ShowWindow();
            shownAgain = window.isVisible() && !ObjectiveC::IsHidden();
            dialog.done(7);
        });
        QCOMPARE(dialog.exec(), 7);
        QVERIFY(hiddenWhileOpen);
        QVERIFY(dialogStayed);
        QVERIFY(shownAgain);

        // A window shown by other means no longer counts as hidden.
        ObjectiveC::HideWindow();
        QVERIFY(ObjectiveC::IsHidden());
        window.show();
        QVERIFY(!ObjectiveC::IsHidden());
        window.hide();
        QVERIFY(!ObjectiveC::IsHidden());
        ObjectiveC::SetMainWindow(nullptr);
    }

    void activateBringsWindowForward()
    {
        QMainWindow window;
        ObjectiveC::SetMainWindow(&window);
        QMainWindow other;
        window.show();
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        ObjectiveC::ActivateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QVERIFY(ObjectiveC::IsActive());

        // Nothing of ours active: not active.
        window.hide();
        other.hide();
        QTRY_VERIFY(!ObjectiveC::IsActive());
        ObjectiveC::SetMainWindow(nullptr);
    }

    void withoutRegisteredWindowUsesTheMainWindow()
    {
        QMainWindow window;
        window.show();
        ObjectiveC::HideWindow();
        QVERIFY(!window.isVisible());
        QVERIFY(ObjectiveC::IsHidden());
        ObjectiveC::ShowWindow();
        QVERIFY(window.isVisible());
    }
};

int main(int argc, char *argv[])
{
    // A private data location, so the instance lock of this run is its own.
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    // Whatever the runner ignores, these signals reach the program in this test.
    for (int signo : {SIGTERM, SIGINT, SIGHUP})
        std::signal(signo, SIG_DFL);
    QCoreApplication::setOrganizationName(QStringLiteral("QuilloryTest"));
    QCoreApplication::setApplicationName(QStringLiteral("TessalyPlatformTest"));
    NativeApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    TestPlatform test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_platform.moc"
