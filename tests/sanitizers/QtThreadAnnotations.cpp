// Linked into test executables of ThreadSanitizer builds only.
//
// Qt hands work between threads through its own futex-based locks, which the sanitizer cannot
// see: a posted event or queued call, and the end of a thread that QThread::wait() or
// isFinished() reports. The calls our code makes into Qt are replaced here (see RealFunction.h)
// to release a sync object on the sending side; every event delivery acquires it.
//   postEvent / invokeMethod: released on the receiver, acquired when an event reaches it.
//   signal emission: released on the sender, acquired when a queued call from it is delivered.
//   blocking queued call of a function: released when it has run, acquired when the call returns.
//   thread end: released on the QThread by its finished signal, which runs on the thread before
//   QThread marks it finished; acquired when wait(), isFinished() or isRunning() sees the end.
// Coarser than Qt in one way: any event an object gets (a timer's too) acquires what was posted
// to it so far. Signals that Qt's own classes emit inside Qt are not seen; they carry Qt's data.
#include "RealFunction.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QThread>
#include <QVariant>
#include <private/qobject_p.h>

namespace {

// The sync object of a QObject lives in this table, not in the object: a queued call may still
// name a sender that another thread has deleted, and the sanitizer must never touch freed memory.
// Two objects that share a slot only order a little more than Qt does.
void *Sync(const void *object)
{
    alignas(8) static quint64 table[4096];
    return &table[(reinterpret_cast<quintptr>(object) >> 4) % 4096];
}

// Runs on the delivering thread for every event, before any event filter or handler.
bool AcquireOnDelivery(void **data)
{
    const auto *receiver = static_cast<QObject *>(data[0]);
    const auto *event = static_cast<QEvent *>(data[1]);
    __tsan_acquire(Sync(receiver));
    if (event->type() == QEvent::MetaCall) {
        if (const QObject *sender = static_cast<const QAbstractMetaCallEvent *>(event)->sender())
            __tsan_acquire(Sync(sender));
    }
    return false;
}

[[maybe_unused]] const bool deliveryHooked = QInternal::registerCallback(QInternal::EventNotifyCallback, AcquireOnDelivery);

void ReleaseOnFinish(QThread *thread)
{
    const char *const watched = "tsanReleaseOnFinish";
    if (thread->property(watched).toBool())
        return;
    thread->setProperty(watched, true);
    QObject::connect(thread, &QThread::finished, thread, [thread] { __tsan_release(Sync(thread)); }, Qt::DirectConnection);
}

// A blocking queued call returns once the receiver has run it: the slot releases when done.
class ReleasingSlot : public QtPrivate::QSlotObjectBase
{
public:
    ReleasingSlot(QtPrivate::QSlotObjectBase *slot, void *sync) : QSlotObjectBase(&Impl), slot(slot), sync(sync) {}

private:
    static void Impl(int which, QSlotObjectBase *self, QObject *receiver, void **args, bool *ret)
    {
        auto *that = static_cast<ReleasingSlot *>(self);
        if (which == Call) {
            that->slot->call(receiver, args);
            __tsan_release(that->sync);
        } else if (which == Destroy) {
            // The last reference goes on the calling thread, inside Qt, once the call has run.
            __tsan_acquire(that->sync);
            that->slot->destroyIfLastRef();
            delete that;
        } else if (which == Compare) {
            *ret = false;
        }
    }

    QtPrivate::QSlotObjectBase *slot;
    void *sync;
};

} // namespace

void QCoreApplication::postEvent(QObject *receiver, QEvent *event, int priority)
{
    static const auto real = RealFunction<void (*)(QObject *, QEvent *, int)>("_ZN16QCoreApplication9postEventEP7QObjectP6QEventi");
    __tsan_release(Sync(receiver));
    real(receiver, event, priority);
}

bool QMetaObject::invokeMethodImpl(QObject *object, QtPrivate::QSlotObjectBase *slot, Qt::ConnectionType type, void *ret)
{
    static const auto real = RealFunction<bool (*)(QObject *, QtPrivate::QSlotObjectBase *, Qt::ConnectionType, void *)>(
        "_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv");
    __tsan_release(Sync(object));
    if (type != Qt::BlockingQueuedConnection)
        return real(object, slot, type, ret);
    int done = 0;
    const bool invoked = real(object, new ReleasingSlot(slot, &done), type, ret);
    __tsan_acquire(&done);
    return invoked;
}

bool QMetaObject::invokeMethod(QObject *object, const char *member, Qt::ConnectionType type, QGenericReturnArgument ret,
                               QGenericArgument a0, QGenericArgument a1, QGenericArgument a2, QGenericArgument a3,
                               QGenericArgument a4, QGenericArgument a5, QGenericArgument a6, QGenericArgument a7,
                               QGenericArgument a8, QGenericArgument a9)
{
    using Invoke = bool (*)(QObject *, const char *, Qt::ConnectionType, QGenericReturnArgument, QGenericArgument,
                            QGenericArgument, QGenericArgument, QGenericArgument, QGenericArgument, QGenericArgument,
                            QGenericArgument, QGenericArgument, QGenericArgument, QGenericArgument);
    static const auto real = RealFunction<Invoke>(
        "_ZN11QMetaObject12invokeMethodEP7QObjectPKcN2Qt14ConnectionTypeE22QGenericReturnArgument16QGenericArgumentS7_S7_S7_S7_S7_S7_S7_S7_S7_");
    __tsan_release(Sync(object));
    return real(object, member, type, ret, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9);
}

// Every signal our classes declare is emitted through this one (moc's generated code calls it).
void QMetaObject::activate(QObject *sender, const QMetaObject *metaObject, int localSignalIndex, void **argv)
{
    static const auto real = RealFunction<void (*)(QObject *, const QMetaObject *, int, void **)>("_ZN11QMetaObject8activateEP7QObjectPKS_iPPv");
    __tsan_release(Sync(sender));
    real(sender, metaObject, localSignalIndex, argv);
}

void QThread::start(Priority priority)
{
    static const auto real = RealFunction<void (*)(QThread *, Priority)>("_ZN7QThread5startENS_8PriorityE");
    ReleaseOnFinish(this);
    real(this, priority);
}

bool QThread::wait(QDeadlineTimer deadline)
{
    static const auto real = RealFunction<bool (*)(QThread *, QDeadlineTimer)>("_ZN7QThread4waitE14QDeadlineTimer");
    return AcquireIf(real(this, deadline), Sync(this));
}

bool QThread::wait(unsigned long time)
{
    static const auto real = RealFunction<bool (*)(QThread *, unsigned long)>("_ZN7QThread4waitEm");
    return AcquireIf(real(this, time), Sync(this));
}

bool QThread::isFinished() const
{
    static const auto real = RealFunction<bool (*)(const QThread *)>("_ZNK7QThread10isFinishedEv");
    return AcquireIf(real(this), Sync(this));
}

bool QThread::isRunning() const
{
    static const auto real = RealFunction<bool (*)(const QThread *)>("_ZNK7QThread9isRunningEv");
    // Not running: ended, or never started (nothing to acquire then, and no harm).
    return !AcquireIf(!real(this), Sync(this));
}
