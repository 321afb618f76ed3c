#include "Diagnostics.h"

Q_LOGGING_CATEGORY(lcDiagnostics, "tessaly.diagnostics", QtWarningMsg)
