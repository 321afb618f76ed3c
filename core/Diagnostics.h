#pragma once

#include <QLoggingCategory>

// Developer diagnostics (links opened, catalogue addresses, window requests). Only warnings
// show by default; QT_LOGGING_RULES="tessaly.diagnostics.debug=true" shows the rest.
Q_DECLARE_LOGGING_CATEGORY(lcDiagnostics)
