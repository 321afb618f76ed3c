#pragma once

#include <QString>
#include <QStringList>

// Keeps copies of a damaged file beside it, each under its own time-stamped name, so a
// second damaged file never replaces the first one's copy; only the oldest beyond a few go.
class DamagedFileKeeper
{
public:
    static constexpr int MaxKeptCopies = 5;

    explicit DamagedFileKeeper(const QString &path) : path(path) {}

    // Copies the file aside; with move, the file itself leaves its place. True when a copy
    // of it now exists (the original is then no longer needed).
    bool Keep(bool move) const;
    // The kept copies, oldest first.
    QStringList KeptCopies() const;

private:
    QString NewCopyPath() const;
    void PruneOldest() const;

    QString path;
};
