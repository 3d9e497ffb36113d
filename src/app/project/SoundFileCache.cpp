#include "app/project/SoundFileCache.h"

#include "audiofile/Peaks.h"
#include "audiofile/WavReader.h"
#include "engine/AudioData.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <filesystem>
#include <string>
#include <vector>

namespace ostrel::app {
namespace {

// The texts belong to the project controller, whose members show them.
QString tr(const char* text) { return QCoreApplication::translate("ostrel::app::ProjectController", text); }

}  // namespace

bool SoundFileCache::isPlainName(const QString& fileName) {
    return !fileName.isEmpty() && !fileName.contains(QLatin1Char('\\')) && !fileName.contains(QLatin1Char('/')) &&
           !fileName.contains(QStringLiteral("..")) && !fileName.contains(QLatin1Char(':'));
}

std::optional<SoundFileInfo> SoundFileCache::read(const QString& samplesDirectory, const QString& fileName,
                                                  QString* error) {
    if (const auto known = files_.constFind(fileName); known != files_.constEnd()) {
        return *known;
    }
    if (const auto refused = unreadable_.constFind(fileName); refused != unreadable_.constEnd()) {
        if (error != nullptr) {
            *error = *refused;
        }
        return std::nullopt;
    }
    const auto refuse = [&](const QString& why) -> std::optional<SoundFileInfo> {
        unreadable_.insert(fileName, why);
        if (error != nullptr) {
            *error = why;
        }
        return std::nullopt;
    };
    if (!isPlainName(fileName)) {
        return refuse(tr("%1 is not a plain file name.").arg(fileName));
    }

    const QString path = QDir(samplesDirectory).filePath(fileName);
    engine::AudioData audio;
    std::string reason;
    if (!engine::loadWavFile(std::filesystem::path(QFile::encodeName(path).toStdString()), audio, &reason)) {
        return refuse(tr("The sound file %1 could not be read: %2").arg(fileName, QString::fromStdString(reason)));
    }

    SoundFileInfo info;
    info.seconds = audio.sampleRate > 0.0 ? static_cast<double>(audio.frames) / audio.sampleRate : 0.0;
    const std::vector<float> peaks = engine::computePeaks(audio, kPeakBins);
    info.peaks.reserve(static_cast<qsizetype>(peaks.size()));
    for (float peak : peaks) {
        info.peaks.append(static_cast<double>(peak));
    }
    files_.insert(fileName, info);
    return info;
}

void SoundFileCache::clear() {
    files_.clear();
    unreadable_.clear();
}

}  // namespace ostrel::app
