#pragma once

#include <QMap>
#include <QString>
#include <QVariantList>

#include <optional>

namespace ostrel::app {

// What the views need of a sound file; the samples themselves are not kept.
struct SoundFileInfo {
    double seconds = 0.0;  // 0 when the file names no sample rate
    QVariantList peaks;    // kPeakBins doubles, the largest absolute sample of each stretch
};

// Sound files of the samples folder, each read from disk once: a readable file's length and
// peaks, and why the others could not be read (or are not plain names), so the disk is not
// asked again and the reason is still given. Only clear() forgets. GUI thread only.
class SoundFileCache {
public:
    static constexpr int kPeakBins = 400;

    // The file's information, or none with the reason in error (may be null). A name with a
    // folder part, a drive or a parent step is refused without touching the disk.
    std::optional<SoundFileInfo> read(const QString& samplesDirectory, const QString& fileName, QString* error);
    void clear();

    // Not empty, and without "/", "\\", ".." or ":".
    static bool isPlainName(const QString& fileName);

private:
    QMap<QString, SoundFileInfo> files_;
    QMap<QString, QString> unreadable_;  // the reason each was refused with
};

}  // namespace ostrel::app
