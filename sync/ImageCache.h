#pragma once

#include <QDateTime>
#include <QString>

class QMutex;

// Housekeeping of the image cache: the weekly size check and its marker file in the base folder.
class ImageCache
{
public:
    ImageCache() = delete;

    // Marker of the last cache check; only its modification time matters.
    static const QString MarkerFileName; // "active-check-cache.file"
    // A check is due when the last one lies more than a week back.
    static constexpr double CheckIntervalMinutes = 10080.0;
    // The cache is emptied when its listing (with "." and "..") counts at least this many entries.
    static constexpr int ClearThresholdEntries = 40001;

    // Time of the last check kept by the marker fileName in the base data folder. A missing marker
    // or one dated in the future counts as one year old and is written anew; with reset an
    // existing marker is touched so the next period starts now.
    static QDateTime GetMarkerTime(const QString &fileName, bool reset);

    // Whole minutes since the last check (about a year without a marker). Takes
    // Const::FileAccessMutex, since it may write the marker; never call it while holding that.
    static double MinutesSinceCheck(bool reset);

    // Starts the next week and empties the image cache folder when it has grown too large.
    // Holds mutex (null: Const::FileAccessMutex) for the whole operation. True when emptied.
    static bool ClearIfLarge(QMutex *mutex);

private:
    static double MinutesSinceCheckLocked(bool reset);
};
