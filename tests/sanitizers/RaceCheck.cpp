// Checks the ThreadSanitizer set-up of the tests (suppressions and the Qt annotations) itself.
//   race:     two QThreads increment one counter with no synchronisation; it must be reported.
//   handoffs: data handed between threads through Qt (the end of a thread, a queued signal, calls
//             and events posted into a thread's event loop, a blocking queued call, a QMutex);
//             nothing may be reported.
#include <QCoreApplication>
#include <QEvent>
#include <QMutex>
#include <QThread>

#include <cstring>
#include <functional>

namespace {

class Worker : public QThread
{
    Q_OBJECT
public:
    explicit Worker(std::function<void()> body) : body(std::move(body)) {}

signals:
    void done();

protected:
    void run() override
    {
        body();
        emit done();
    }

private:
    std::function<void()> body;
};

class Counter : public QObject
{
public:
    int value = 0;

protected:
    bool event(QEvent *) override
    {
        ++value;
        return true;
    }
};

int counter = 0;
QMutex counterMutex;

void Increment()
{
    for (int i = 0; i < 1000; ++i)
        ++counter;
}

void IncrementLocked()
{
    for (int i = 0; i < 1000; ++i) {
        QMutexLocker locker(&counterMutex);
        ++counter;
    }
}

void RunTwo(void (*body)())
{
    Worker first(body), second(body);
    first.start();
    second.start();
    first.wait();
    second.wait();
}

void HandOff(QCoreApplication &app)
{
    int value = 0;
    Worker waited([&] { value = 1; });
    waited.start();
    waited.wait();
    ++value;

    Worker polled([&] { value = 2; });
    polled.start();
    while (!polled.isFinished())
        QThread::yieldCurrentThread();
    ++value;

    Worker signalling([&] { value = 3; });
    QObject::connect(&signalling, &Worker::done, &app, [&] { ++value; app.quit(); }, Qt::QueuedConnection);
    signalling.start();
    app.exec();

    QThread loop;
    loop.start();
    Counter inLoop;
    inLoop.moveToThread(&loop);
    inLoop.value = 4;
    QCoreApplication::postEvent(&inLoop, new QEvent(QEvent::User));
    QMetaObject::invokeMethod(&inLoop, [&] { ++inLoop.value; }, Qt::QueuedConnection);
    QMetaObject::invokeMethod(&inLoop, [&] { ++value; }, Qt::BlockingQueuedConnection);
    ++value;
    loop.quit();
    loop.wait();
    ++inLoop.value;
    signalling.wait();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "race") == 0) {
        RunTwo(Increment);
    } else {
        RunTwo(IncrementLocked);
        HandOff(app);
    }
    return 0;
}

#include "RaceCheck.moc"
