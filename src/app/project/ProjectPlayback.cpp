// Playback and rendering: the song rendered into the engine's backing track in the background
// when play starts and again after edits while playing (the engine plays it as it renders and
// moves to the newest), WAV exports, and the sound-file reader the views and the editing
// members share.

#include "app/files/FileNames.h"
#include "app/project/ProjectController.h"
#include "app/project/SongFileName.h"
#include "app/sound/AudioController.h"
#include "app/sound/TransportController.h"
#include "audiofile/WavWriter.h"
#include "core/log/Logger.h"
#include "devices/instruments/InstrumentConfig.h"
#include "playback/AudioEngine.h"
#include "playback/render/SongRenderer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <system_error>
#include <utility>

namespace ostrel::app {
namespace {

// The start of a render the worker has not begun yet: larger than any frame.
constexpr std::int64_t kUnknownStart = std::numeric_limits<std::int64_t>::max();

// Below this peak an export would be a file of silence.
constexpr float kAudiblePeak = 1e-6f;
constexpr const char* kNothingToHear = "nothing to hear yet";

QString fromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

std::filesystem::path localPath(const QString& path) {
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

std::filesystem::path utf8Path(const std::string& text) { return std::filesystem::path(std::u8string(text.begin(), text.end())); }

bool headless() { return QCoreApplication::instance() == nullptr; }

// A song whose render depends on the document alone: nothing is read from the samples folder.
bool readsNoSoundFile(const model::Project& song) {
    for (const model::Track& track : song.tracks()) {
        if (engine::isSampleInstrument(track.instrumentPatch)) {
            return false;
        }
        for (const model::Clip& clip : track.clips) {
            if (!clip.audioSource.empty()) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

engine::RenderSettings ProjectController::playbackSettings() const {
    const engine::AudioConfig& config = transport_.audio().engine().config();
    engine::RenderSettings settings;
    settings.sampleRate = config.sampleRate;
    settings.blockSize = kRenderBlockSize;
    settings.channels = config.channels == 1 ? 1 : 2;
    settings.frames = 0;
    settings.samplesFolder = localPath(samplesDirectory_);
    return settings;
}

engine::RenderSettings ProjectController::exportSettings() const {
    engine::RenderSettings settings;
    settings.sampleRate = kExportSampleRate;
    settings.blockSize = kRenderBlockSize;
    settings.channels = kExportChannels;
    settings.frames = 0;
    settings.samplesFolder = localPath(samplesDirectory_);
    return settings;
}

std::int64_t ProjectController::playbackFrom(double beats) const {
    const engine::AudioEngine& engine = transport_.audio().engine();
    const double framesPerBeat = engine.config().sampleRate * 60.0 / engine.tempo();
    const engine::Transport::LoopRange& loop = engine.transport().loop();
    const double first = loop.enabled && beats < loop.endBeats ? std::min(beats, loop.startBeats) : beats;
    return engine::AudioEngine::beatsToFrames(first, framesPerBeat);
}

void ProjectController::preparePlayback() {
    // Every render still in flight was made for another play than this one.
    ++renderGeneration_;
    playGeneration_ = renderGeneration_;

    const engine::RenderSettings settings = playbackSettings();
    const std::int64_t from = playbackFrom(transport_.startBeat());
    // Playing again an unchanged song gives the samples a new render would give.
    if (renderedSong_ && servesPlayFrom(*renderedSong_, from, settings)) {
        if (!renderedSong_->warning.isEmpty()) {
            setMessage(tr("Some audio could not be played: %1").arg(renderedSong_->warning), true);
        }
        installedGeneration_ = renderGeneration_;
        installBackingTrack(renderedSong_->track, renderedSong_->from);
        return;
    }
    renderAndPlay(from);
}

bool ProjectController::servesPlayFrom(const RenderedSong& song, std::int64_t from,
                                       const engine::RenderSettings& settings) const {
    if (song.sampleRate != settings.sampleRate || song.channels != settings.channels || song.from > from) {
        return false;
    }
    // Final at the start already, or it gets there within the pre-roll a new render would
    // make before it: never later than a new render.
    const engine::BackingTrack::View view = song.track->view();
    const auto preRoll = static_cast<std::int64_t>(
        std::ceil(std::min(engine::preRollSeconds(*document_), engine::kMaxPreRollSeconds) * settings.sampleRate));
    return view.begun && !view.abandoned && view.end >= from - preRoll;
}

void ProjectController::renderAndPlay(std::int64_t from) {
    if (headless()) {
        renderPlaybackNow(from);
    } else if (!startPlaybackRender(from, engine::TakeOver::AtOnce)) {
        installBackingTrack(nullptr);
    }
}

bool ProjectController::startPlaybackRender(std::int64_t from, engine::TakeOver takeOver) {
    const engine::RenderSettings settings = playbackSettings();
    auto track = std::make_shared<engine::BackingTrack>();
    engine::RenderJob job;
    job.kind = engine::RenderJobKind::PlaybackRebuild;
    job.snapshot = std::make_shared<const model::Project>(*document_);
    job.settings = settings;
    job.generation = renderGeneration_;
    job.track = track;
    job.playFrom = from;
    job.takeOver = takeOver;
    if (takeOver == engine::TakeOver::Covered) {
        const engine::AudioEngine& engine = transport_.audio().engine();
        // Atomics of the audio thread's, so the render thread may read them too.
        job.playhead = [&engine] {
            return engine::PlayheadReading{engine.shownBeats(), engine.shownTempo(), engine.heardTrack(),
                                           engine.waitingForSong()};
        };
        job.loop = engine.transport().loop();
    }
    try {
        playbackRenderer_.submit(std::move(job));
    } catch (const std::system_error& e) {
        logger_.log(core::LogLevel::WARN, "project",
                    std::string("the project could not be prepared for playback: ") + e.what());
        setMessage(tr("The project could not be played: %1").arg(QString::fromLocal8Bit(e.what())), true);
        return false;
    }
    if (takeOver == engine::TakeOver::AtOnce) {
        playNewTrack(std::move(track), from, settings, {});
    } else if (readsNoSoundFile(*document_)) {
        // Kept for the next play once its start is known (onRenderFinished).
        renderedSong_ = RenderedSong{settings.sampleRate, settings.channels, kUnknownStart, track, {}};
    }
    return true;
}

void ProjectController::renderPlaybackNow(std::int64_t from) {
    const engine::RenderSettings settings = playbackSettings();
    auto track = std::make_shared<engine::BackingTrack>();
    engine::PlaybackRender render;
    render.from = from;
    std::vector<std::string> warnings;
    std::string error;
    if (!engine::renderForPlayback(*document_, settings, render, *track, &warnings, &error)) {
        logger_.log(core::LogLevel::WARN, "project", "the project could not be prepared for playback: " + error);
        setMessage(tr("The project could not be played: %1").arg(fromUtf8(error)), true);
        installBackingTrack(nullptr);
        return;
    }
    QString warning;
    if (!warnings.empty()) {
        warning = fromUtf8(warnings.front());
        setMessage(tr("Some audio could not be played: %1").arg(warning), true);
    }
    playNewTrack(std::move(track), from, settings, warning);
}

void ProjectController::playNewTrack(std::shared_ptr<engine::BackingTrack> track, std::int64_t from,
                                     const engine::RenderSettings& settings, const QString& warning) {
    renderedSong_.reset();
    if (readsNoSoundFile(*document_)) {
        renderedSong_ = RenderedSong{settings.sampleRate, settings.channels, from, track, warning};
    }
    installedGeneration_ = renderGeneration_;
    installBackingTrack(std::move(track), from);
}

void ProjectController::schedulePlaybackRebuild() {
    if (!transport_.playing()) {
        // Nobody will play what renders now, unless it is the song kept for the next play.
        if (!renderedSong_) {
            playbackRenderer_.cancelPlayback();
        }
        return;
    }
    if (rebuildPending_) {
        return;
    }
    if (headless()) {
        rebuildPlayback();
        return;
    }
    // Every edit made before the event loop turns again ends in this one rebuild.
    rebuildPending_ = true;
    QTimer::singleShot(0, this, [this] {
        rebuildPending_ = false;
        if (transport_.playing()) {
            rebuildPlayback();
        }
    });
}

void ProjectController::rebuildPlayback() {
    // What renders from the song before this edit is heard until this render can take over.
    ++renderGeneration_;
    // From the playhead: the transport's last reading, never past where the audio thread is.
    const std::int64_t from = playbackFrom(transport_.positionBeats());
    if (headless()) {
        renderPlaybackNow(from);
        return;
    }
    // Without a worker, the engine keeps what it plays and the message says why.
    (void)startPlaybackRender(from, engine::TakeOver::Covered);
}

void ProjectController::onStreamStarted() {
    const engine::RenderSettings settings = playbackSettings();
    if (!transport_.playing() || installedRate_ == settings.sampleRate) {
        return;  // a new buffer size or device: the engine goes on with the track it has
    }
    // The track cannot play at this rate: the song again at it, from the beat the transport
    // holds at; nothing in flight is of use now.
    ++renderGeneration_;
    playGeneration_ = renderGeneration_;
    const std::int64_t from = playbackFrom(transport_.audio().engine().shownBeats());
    renderAndPlay(from);
}

void ProjectController::onLoopChanged() {
    // A loop that now brings the playhead back before where the song was rendered from
    // needs those frames too.
    if (transport_.playing() && installedFrom_ > playbackFrom(transport_.positionBeats())) {
        schedulePlaybackRebuild();
    }
}

std::vector<engine::RenderResult> ProjectController::onRenderFinished() {
    std::vector<engine::RenderResult> results = renderer_.takeResults();
    std::vector<engine::RenderResult> played = playbackRenderer_.takeResults();
    for (engine::RenderResult& result : results) {
        if (result.kind == engine::RenderJobKind::WavExport) {
            if (result.ok) {
                setMessage(tr("Rendered %1 seconds to %2")
                               .arg(result.seconds, 0, 'f', 1)
                               .arg(QDir::toNativeSeparators(fromUtf8(result.path))),
                           false);
            } else {
                // The render thread has logged the outcome.
                setMessage(result.error == kNothingToHear
                               ? tr("Nothing to hear yet: give a track an instrument (the button on the track) and "
                                    "add a pattern.")
                               : tr("Could not render: %1").arg(fromUtf8(result.error)),
                           true);
            }
        }
    }
    for (const engine::RenderResult& result : played) {
        if (result.generation < playGeneration_) {
            continue;  // made for another play, song or sound card
        }
        if (!result.ok) {
            if (result.generation != renderGeneration_) {
                continue;  // a newer render comes; the render thread has logged this one
            }
            setMessage(tr("The project could not be played: %1").arg(fromUtf8(result.error)), true);
            renderedSong_.reset();
            installBackingTrack(nullptr);
            continue;
        }
        if (result.generation > installedGeneration_ && result.track != nullptr) {
            // An edit's render has started: the engine moves to it once it is final at the
            // transport's beat, and plays the older track until then.
            installedGeneration_ = result.generation;
            installBackingTrack(result.track, result.playFrom);
        }
        if (renderedSong_ && renderedSong_->track == result.track && renderedSong_->from == kUnknownStart) {
            renderedSong_->from = result.playFrom;
        }
        if (!result.warnings.empty() && result.generation == installedGeneration_) {
            const QString warning = fromUtf8(result.warnings.front());
            setMessage(tr("Some audio could not be played: %1").arg(warning), true);
            if (renderedSong_ && renderedSong_->track == result.track) {
                renderedSong_->warning = warning;
            }
        }
    }
    results.insert(results.end(), std::make_move_iterator(played.begin()), std::make_move_iterator(played.end()));
    return results;
}

void ProjectController::installBackingTrack(std::shared_ptr<engine::BackingTrack> track, std::int64_t from) {
    installedFrom_ = track != nullptr ? from : -1;
    installedRate_ = track != nullptr ? playbackSettings().sampleRate : 0.0;
    transport_.audio().engine().setBackingTrack(std::move(track));
}

QString ProjectController::renderToWav() {
    const WavExport result = exportWav();
    return result.outcome == WavExport::Outcome::Written ? result.path : QString();
}

WavExport ProjectController::exportWav() {
    const auto refused = [this] { return WavExport{WavExport::Outcome::Refused, {}, message_}; };
    if (headless()) {
        const QString path = renderJob();
        return path.isEmpty() ? refused() : WavExport{WavExport::Outcome::Written, path, {}};
    }
    const core::ActionScope action("Project > render to WAV", logger_);
    const QString base = songFileBase(name());
    if (std::string why; !makeFolderToWrite(exportsDirectory_, &why)) {
        logger_.log(core::LogLevel::ERROR, "project", "the export was not written: " + why);
        setMessage(tr("Ostrel could not create the export folder (%1).").arg(fromUtf8(why)), true);
        return refused();
    }
    const QString path = QDir(exportsDirectory_).filePath(base.left(kFileBaseLength) + QStringLiteral(".wav"));
    engine::RenderJob job;
    job.kind = engine::RenderJobKind::WavExport;
    job.snapshot = std::make_shared<const model::Project>(*document_);
    job.settings = exportSettings();
    job.outputPath = path.toUtf8().toStdString();
    job.generation = 0;
    try {
        renderer_.submit(std::move(job));
    } catch (const std::system_error& e) {
        logger_.log(core::LogLevel::ERROR, "project", e.what());
        setMessage(tr("Could not render: %1").arg(QString::fromLocal8Bit(e.what())), true);
        return refused();
    }
    setMessage(tr("Rendering in the background; a message will say where it saved."), false);
    return {WavExport::Outcome::Queued, path, {}};
}

QString ProjectController::renderJob() {
    const core::ActionScope action("Project > render to WAV", logger_);
    engine::RenderOutput output;
    std::string error;
    if (!engine::renderProject(*document_, exportSettings(), &output, &error)) {
        logger_.log(core::LogLevel::ERROR, "project", error);
        setMessage(tr("Could not render: %1").arg(fromUtf8(error)), true);
        return {};
    }
    float peak = 0.0f;
    for (float sample : output.audio.samples) {
        peak = std::max(peak, std::abs(sample));
    }
    if (output.audio.frames == 0 || peak < kAudiblePeak) {
        setMessage(tr("Nothing to hear yet: give a track an instrument (the button on the track) and add a pattern."),
                   true);
        return {};
    }
    const QString base = songFileBase(name());
    if (std::string why; !makeFolderToWrite(exportsDirectory_, &why)) {
        logger_.log(core::LogLevel::ERROR, "project", "the export was not written: " + why);
        setMessage(tr("Ostrel could not create the export folder (%1).").arg(fromUtf8(why)), true);
        return {};
    }
    const QString path = QDir(exportsDirectory_).filePath(base.left(kFileBaseLength) + QStringLiteral(".wav"));
    if (!engine::saveWav(output.audio, utf8Path(path.toUtf8().toStdString()), engine::WavFormat::Pcm16, &error)) {
        logger_.log(core::LogLevel::ERROR, "project", error);
        setMessage(tr("Could not write the WAV file: %1").arg(fromUtf8(error)), true);
        return {};
    }
    const double seconds =
        output.audio.sampleRate > 0.0 ? static_cast<double>(output.audio.frames) / output.audio.sampleRate : 0.0;
    setMessage(tr("Rendered %1 seconds to %2").arg(seconds, 0, 'f', 1).arg(QDir::toNativeSeparators(path)), false);
    return path;
}

std::optional<SoundFileInfo> ProjectController::readSoundFile(const QString& fileName, QString* error) {
    return soundFiles_.read(samplesDirectory_, fileName, error);
}

}  // namespace ostrel::app
