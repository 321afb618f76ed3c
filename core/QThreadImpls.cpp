#include "QThreadImpls.h"

#include "IRunThread.h"

void QThreadImpls::run()
{
    if (runTarget)
        runTarget->Run();
}
