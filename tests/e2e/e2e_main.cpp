// The program as the end-to-end test runs it: the same entry, with the service roots taken
// from TESSALY_E2E_SERVICE_URL (for example http://127.0.0.1:PORT). Only this test build
// reads that variable; the shipped program's addresses are fixed when it is built.
#include "Const.h"

#include <QString>

int TessalyMain(int argc, char *argv[]);

int main(int argc, char *argv[])
{
    const QString serviceUrl = qEnvironmentVariable("TESSALY_E2E_SERVICE_URL");
    if (!serviceUrl.isEmpty())
        Const::SetServiceRootsForTesting(serviceUrl, serviceUrl, QString());
    return TessalyMain(argc, argv);
}
