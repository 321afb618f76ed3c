#pragma once

#include <QString>
#include <QVersionNumber>

// The version service answers with plain text; these helpers turn it into something comparable
// and into something safe to show.

// "a.b.c" or "a.b.c.d" gives a.b.c (a part that is not a number counts as 0); any other shape
// gives an empty version, which is smaller than every real one and so never counts as newer.
QVersionNumber ParseVersionNumber(const QString &text);

// Longest version text kept from an answer; real versions are a dozen characters at most.
constexpr int MaxVersionTextLength = 32;

// The answer as plain text fit for display: control characters dropped, blanks trimmed,
// at most MaxVersionTextLength characters.
QString BoundedVersionText(const QString &answer);

// BoundedVersionText escaped for rich-text labels and message boxes, so that markup in an
// answer is shown as text and never interpreted.
QString EscapedVersionText(const QString &answer);
