#include "threads/NativeHelper.h"

#include <QReadWriteLock>

bool NativeHelper::_isCloseApplication = false;
// Created during static initialisation and never destroyed: workers may still test them at exit.
QReadWriteLock *NativeHelper::_mainLocker = new QReadWriteLock(QReadWriteLock::NonRecursive);
QReadWriteLock *NativeHelper::_configLocker = new QReadWriteLock(QReadWriteLock::NonRecursive);

bool NativeHelper::IsClosing()
{
    _mainLocker->lockForRead();
    const bool closing = _isCloseApplication;
    _mainLocker->unlock();
    return closing;
}

void NativeHelper::SetClosing()
{
    _mainLocker->lockForWrite();
    _isCloseApplication = true;
    _mainLocker->unlock();
}
