#include "app/demo/DemoProject.h"

#include "app/demo/DemoSounds.h"
#include "app/files/FileNames.h"
#include "app/project/ProjectController.h"
#include "audiofile/WavWriter.h"

#include <QDir>
#include <QFile>
#include <QMetaObject>
#include <QObject>
#include <QStringList>

#include <vector>

namespace ostrel::app {
namespace {

constexpr int kStepsPerBar = 16;
constexpr double kStepBeats = 0.25;
constexpr int kKick = 36;
constexpr int kSnare = 38;
constexpr int kHat = 42;

void callWindow(QObject* window, const char* function) {
    if (window != nullptr) {
        QMetaObject::invokeMethod(window, function);
    }
}

void addSamplerTracks(ProjectController& project) {
    const QString samples = project.samplesDirectory();
    // No samples folder (or one not to write): the pads then name missing files.
    if (makeFolderToWrite(samples)) {
        writeDemoDrumSample(samples, QStringLiteral("Kick.wav"), 0);
        writeDemoDrumSample(samples, QStringLiteral("Snare.wav"), 1);
        writeDemoDrumSample(samples, QStringLiteral("Hat.wav"), 2);
    }
    project.refreshSamples();

    const QString beat = project.addTrack();
    project.renameTrack(beat, QStringLiteral("Beat"));
    project.setTrackVolume(beat, 0.3);
    project.setTrackInstrument(beat, QStringLiteral("Drum Rack"));
    project.setPad(beat, kKick, QStringLiteral("Kick.wav"));
    project.setPad(beat, kSnare, QStringLiteral("Snare.wav"));
    project.setPad(beat, kHat, QStringLiteral("Hat.wav"));
    // One bar of sixteenths: kicks on the beats, snares on two and four, hats on the eighths.
    const QString clip = project.addEmptyClip(beat, 0.0, 4.0);
    for (int step = 0; step < kStepsPerBar; ++step) {
        const double start = step * kStepBeats;
        if (step % 4 == 0) project.addNote(beat, clip, kKick, 110, start, kStepBeats);
        if (step % 8 == 4) project.addNote(beat, clip, kSnare, 110, start, kStepBeats);
        if (step % 2 == 0) project.addNote(beat, clip, kHat, 80, start, kStepBeats);
    }

    // A sample dropped on a plain MIDI track makes it a Sampler track.
    const QString chords = project.addTrack();
    project.renameTrack(chords, QStringLiteral("Chords"));
    project.setTrackVolume(chords, 0.3);
    project.dropSample(chords, QStringLiteral("Kick.wav"), 0.0);
}

void addAudioTrack(ProjectController& project) {
    const QString samples = project.samplesDirectory();
    if (makeFolderToWrite(samples)) {
        const std::vector<float> frames = demoChordFrames();
        (void)engine::writeWavFile(pathBytes(samples + QStringLiteral("/Demo chord.wav")), frames, 2, kDemoSampleRate,
                                   engine::WavFormat::Pcm16, nullptr);
    }
    project.refreshSamples();
    const QString take = project.addAudioTrack();
    project.renameTrack(take, QStringLiteral("Vocal take"));
    project.setTrackVolume(take, 0.3);
    project.addAudioClip(take, QStringLiteral("Demo chord.wav"), 0.0);
    project.addAudioClip(take, QStringLiteral("Demo chord.wav"), 6.0);
    project.addDevice(take, QStringLiteral("ostrel.reverb"), QStringLiteral("Big Hall"));
}

}  // namespace

void buildDemoProject(ProjectController& project, const DemoViews& views, QObject* window) {
    project.renameProject(QString::fromLatin1(kDemoProjectName));
    // Levels that leave the mix a decibel or more below full scale, the views' tracks too.
    struct Part {
        QString name;
        double volume;
    };
    QStringList ids;
    for (const Part& part : {Part{QStringLiteral("Drums"), 0.5}, Part{QStringLiteral("Bass line"), 0.7},
                             Part{QStringLiteral("Lead"), 0.5}, Part{QStringLiteral("Pad"), 0.6}}) {
        const QString id = project.addTrack();
        project.renameTrack(id, part.name);
        project.setTrackVolume(id, part.volume);
        ids.append(id);
    }
    const QString& lead = ids[2];
    const QString& pad = ids[3];
    project.setTempo(128.0);
    for (const QString& id : ids) {
        project.addPattern(id);
    }
    project.setTrackInstrument(pad, QStringLiteral("Modular Pad"));
    project.addDevice(lead, QStringLiteral("ostrel.delay"), QStringLiteral("Eighth Echo"));
    project.addDevice(lead, QStringLiteral("ostrel.eq"), QStringLiteral("Bright"));
    project.addDevice(pad, QStringLiteral("ostrel.reverb"), QStringLiteral("Big Hall"));

    if (views.devices) {
        callWindow(window, "showDevicesDemo");
    }
    if (views.step) {
        callWindow(window, "showStepDemo");
    }
    if (views.fm) {
        const QString keys = project.addTrack();
        project.renameTrack(keys, QStringLiteral("Keys"));
        project.setTrackVolume(keys, 0.6);
        project.setTrackInstrument(keys, QStringLiteral("FM E-Piano"));
        project.addPattern(keys);
        project.setInstrumentParameter(keys, QStringLiteral("op2_level"), 0.5);
        callWindow(window, "showFmDemo");
    }
    if (views.sampler) {
        addSamplerTracks(project);
        callWindow(window, "showRackDemo");
    }
    if (views.audio) {
        addAudioTrack(project);
        callWindow(window, "showSamplesDemo");
    }
    (void)project.renderToWav();
}

}  // namespace ostrel::app
