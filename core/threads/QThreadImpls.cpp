#include "threads/QThreadImpls.h"

#include "threads/IRunThread.h"

void QThreadImpls::run()
{
    if (runTarget)
        runTarget->Run();
}
