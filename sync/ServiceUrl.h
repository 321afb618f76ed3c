#pragma once

#include <QString>

// The address of a path on the catalogue service host (Const::ServiceBaseUrl). The path is
// resolved as a path of that host, never joined as text: "@evil.example/x", ".evil.example/x",
// "//evil.example/x" or "ftp://evil.example/x" all stay on our host. Empty when no address results.
QString MakeServiceUrl(const QString &path);

// True for an absolute http or https address with a host (what an answer may name directly).
bool IsWebUrl(const QString &address);
