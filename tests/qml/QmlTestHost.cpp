#include "QmlTestHost.h"

#include "support/FakeMidiBackend.h"

#include "app/demo/DemoProject.h"
#include "app/live/InstrumentController.h"
#include "app/live/MidiController.h"
#include "app/project/ProjectController.h"
#include "app/settings/LiveSettings.h"
#include "app/settings/SettingsBridge.h"
#include "app/sound/AudioController.h"
#include "app/sound/TransportController.h"
#include "app/startup/AppController.h"
#include "app/themes/ThemeManager.h"
#include "audiofile/WavWriter.h"
#include "core/log/Logger.h"
#include "core/settings/SettingsRegistry.h"
#include "core/settings/SettingsStore.h"
#include "engine/AudioBackend.h"
#include "engine/MidiBackend.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace ostrel::test {

// The sound card of the suites: it plays only when a test renders a period by hand, on the
// GUI thread, and keeps the peak of what it rendered, where a silent output would throw its
// samples away.
struct HandCardState {
    engine::BackendState state = engine::BackendState::Closed;
    engine::AudioConfig config;
    engine::RenderCallback callback = nullptr;
    void* user = nullptr;
    std::vector<float> block;
    std::string refusal;  // when set, every open fails with it
};

namespace {

// The keyboard playMidiMessage plugs in when no input is open.
constexpr const char* kTestKeys = "Test keys";

class HandCard final : public engine::IAudioBackend {
public:
    explicit HandCard(std::shared_ptr<HandCardState> state) : s_(std::move(state)) {}
    ~HandCard() override { close(); }
    std::string backendName() override { return "Hand"; }
    std::vector<engine::AudioDeviceInfo> listDevices() override { return {{"aa01", "Test output", true}}; }
    bool open(const engine::AudioConfig& config, engine::RenderCallback callback, void* user,
              std::string* error) override {
        close();
        if (!s_->refusal.empty()) {
            s_->state = engine::BackendState::Failed;
            if (error != nullptr) *error = s_->refusal;
            return false;
        }
        s_->config = config;
        s_->callback = callback;
        s_->user = user;
        s_->block.assign(std::size_t{config.bufferFrames} * config.channels, 0.0f);
        s_->state = engine::BackendState::Running;
        return true;
    }
    void close() override {
        s_->callback = nullptr;
        s_->state = engine::BackendState::Closed;
    }
    engine::BackendState state() const override { return s_->state; }
    engine::LoadStats loadStats() const override {
        engine::LoadStats stats;
        stats.bufferFrames = s_->config.bufferFrames;
        stats.sampleRate = s_->config.sampleRate;
        return stats;
    }

private:
    std::shared_ptr<HandCardState> s_;
};

}  // namespace

void ProjectStandIn::setRecording(bool on) {
    if (on != recording_) {
        recording_ = on;
        emit recordingChanged();
    }
}

QmlTestHost::QmlTestHost()
    : logger_(std::make_unique<core::Logger>()),
      registry_(std::make_unique<core::SettingsRegistry>(core::buildSettingsRegistry())),
      store_(std::make_unique<core::SettingsStore>(*registry_)) {
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    wallClock_.start();
    // In the build folder, not under a fixed name in the shared temporary folder, which the
    // first user to run the suites would own.
    const QString gallery = qEnvironmentVariable("OSTREL_GALLERY_DIR");
    galleryFolder_ = gallery.isEmpty() ? QStringLiteral(OSTREL_GALLERY_FOLDER) : gallery;
    QDir().mkpath(galleryFolder_);

    themes_ = std::make_unique<app::ThemeManager>();
    themes_->loadThemeFolder(QStringLiteral(":/themes"));
    themes_->setCurrentId(QStringLiteral("graphite"));
    app_ = std::make_unique<app::AppController>(*logger_, folder_.filePath(QStringLiteral("ostrel.log")));
    settings_ = std::make_unique<app::SettingsBridge>(*store_, *registry_,
                                                      folder_.filePath(QStringLiteral("settings.json")), *logger_);
    card_ = std::make_shared<HandCardState>();
    audio_ = std::make_unique<app::AudioController>(std::make_unique<HandCard>(card_), *settings_, *logger_,
                                                    nullptr, [this] { return wallClock_.elapsed() + clockAheadMs_; });
    instrument_ = std::make_unique<app::InstrumentController>(*audio_, *logger_, settings_.get());
    instrument_->setPatchesDirectory(folder_.filePath(QStringLiteral("patches")));
    startChords_ = instrument_->chords();
    startEffects_ = instrument_->effects();
    startLevel_ = instrument_->level();
    transport_ = std::make_unique<app::TransportController>(*audio_, *logger_, settings_.get());
    app::ProjectControllerHooks hooks;
    hooks.clock = [this] { return wallClock_.elapsed() + clockAheadMs_; };
    project_ = std::make_unique<app::ProjectController>(
        *transport_, *logger_, folder_.filePath(QStringLiteral("projects")), exportFolder(),
        folder_.filePath(QStringLiteral("samples")), std::move(hooks));
    projectStandIn_ = std::make_unique<ProjectStandIn>();
    midiPorts_ = std::make_shared<FakeMidiPorts>();
    midiPorts_->driverName = "Test MIDI";
    midi_ = std::make_unique<app::MidiController>(std::make_unique<FakeMidiBackend>(midiPorts_), *settings_,
                                                  *instrument_, *logger_);
    themes_->setDirectories(themesFolder(), exportFolder());
}

// The MIDI controller closes its input before the instrument it feeds goes; the instrument
// and the transport go before the audio controller they play through.
QmlTestHost::~QmlTestHost() {
    midi_.reset();
    project_.reset();
    transport_.reset();
    instrument_.reset();
}

QString QmlTestHost::themesFolder() const { return folder_.filePath(QStringLiteral("themes")); }

QString QmlTestHost::exportFolder() const { return folder_.filePath(QStringLiteral("exports")); }

QObject* QmlTestHost::projectStandIn() const { return projectStandIn_.get(); }

void QmlTestHost::attach(QQmlEngine& engine) {
    engine_ = &engine;
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    QQmlContext* context = engine.rootContext();
    for (const QString& name : {QStringLiteral("theme"), QStringLiteral("app"), QStringLiteral("settings"),
                                QStringLiteral("audio"), QStringLiteral("instrument"), QStringLiteral("midi"),
                                QStringLiteral("transport"), QStringLiteral("project")}) {
        context->setContextProperty(name, realObject(name));
    }
    context->setContextProperty(QStringLiteral("testHost"), this);
}

QObject* QmlTestHost::realObject(const QString& name) const {
    if (name == QLatin1String("theme")) return themes_.get();
    if (name == QLatin1String("app")) return app_.get();
    if (name == QLatin1String("settings")) return settings_.get();
    if (name == QLatin1String("audio")) return audio_.get();
    if (name == QLatin1String("transport")) return transport_.get();
    if (name == QLatin1String("instrument")) return instrument_.get();
    if (name == QLatin1String("midi")) return midi_.get();
    if (name == QLatin1String("project")) return project_.get();
    return nullptr;
}

void QmlTestHost::replaceContextObject(const QString& name, QObject* standIn) {
    if (engine_ != nullptr) {
        engine_->rootContext()->setContextProperty(name, standIn != nullptr ? standIn : realObject(name));
    }
}

void QmlTestHost::resetControllers() {
    for (const QString& name : {QStringLiteral("audio"), QStringLiteral("instrument"), QStringLiteral("midi"),
                                QStringLiteral("transport"), QStringLiteral("project")}) {
        replaceContextObject(name, nullptr);
    }
    card_->refusal.clear();
    app_->setInterfaceScale(1.0);
    instrument_->releaseAll();
    instrument_->releaseMidiNotes();
    instrument_->resetControllers();
    if (!instrument_->patchNames().isEmpty()) instrument_->selectPatch(instrument_->patchNames().constFirst());
    while (instrument_->octave() != app::InstrumentController::kStartOctave) {
        instrument_->shiftOctave(instrument_->octave() < app::InstrumentController::kStartOctave ? 1 : -1);
    }
    instrument_->setChords(startChords_);
    instrument_->setEffects(startEffects_);
    instrument_->setLevel(startLevel_);
    if (testKeysPlugged_) {
        testKeysPlugged_ = false;
        std::erase(midiPorts_->inputs, std::string(kTestKeys));
        midi_->selectDevice(QString());
        midi_->refreshDevices();
    }
    transport_->stop();
    // Past the idle minute of a played note and the close after the tone: the next tick
    // closes the card.
    audio_->setTestTone(false);
    clockAheadMs_ += 2 * app::AudioController::kIdleTimeoutMs;
    audio_->onTick();
    transport_->setMetronome(false);
    transport_->setStartBeat(0.0);
    transport_->setLoopRange(0.0, 16.0);
    transport_->setLoopEnabled(false);
    transport_->setTempo(120.0);
    projectStandIn_->setRecording(false);
    if (project_->recording()) {
        project_->stopRecording();
    }
    // The second call discards unsaved changes: the host's clock stands still between them.
    project_->newProject();
    project_->newProject();
}

void QmlTestHost::moveMouse(QQuickItem* item, qreal x, qreal y, int buttons, int modifiers) {
    QQuickWindow* window = item != nullptr ? item->window() : nullptr;
    if (window == nullptr) {
        return;
    }
    const QPointF scene = item->mapToScene(QPointF(x, y));
    QMouseEvent event(QEvent::MouseMove, scene, scene, window->mapToGlobal(scene), Qt::NoButton,
                      Qt::MouseButtons(buttons), Qt::KeyboardModifiers(modifiers));
    QGuiApplication::sendEvent(window, &event);
}

void QmlTestHost::pressRepeatedKey(QQuickItem* item, int key) {
    QQuickWindow* window = item != nullptr ? item->window() : nullptr;
    if (window == nullptr) {
        return;
    }
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, QString(), true);
    QGuiApplication::sendEvent(window, &event);
}

void QmlTestHost::setMidiInputs(const QStringList& names) {
    midiPorts_->inputs.clear();
    for (const QString& name : names) midiPorts_->inputs.push_back(name.toStdString());
}

void QmlTestHost::setMidiRefusal(const QString& reason) { midiPorts_->refusal = reason.toStdString(); }

void QmlTestHost::playMidi(const QVariantList& bytes) {
    if (midiPorts_->callback == nullptr) {
        return;
    }
    std::vector<std::uint8_t> message;
    for (const QVariant& byte : bytes) message.push_back(static_cast<std::uint8_t>(byte.toInt()));
    midiPorts_->callback(midiPorts_->user, message.data(), static_cast<std::uint32_t>(message.size()));
    midi_->pollMessages();
}

void QmlTestHost::playMidiMessage(int status, int data1, int data2) {
    if (midiPorts_->callback == nullptr) {
        if (std::find(midiPorts_->inputs.begin(), midiPorts_->inputs.end(), kTestKeys) == midiPorts_->inputs.end()) {
            midiPorts_->inputs.emplace_back(kTestKeys);
        }
        testKeysPlugged_ = true;
        midi_->refreshDevices();
        midi_->selectDevice(QString::fromLatin1(kTestKeys));
    }
    playMidi({status, data1, data2});
}

bool QmlTestHost::writeFile(const QString& path, const QString& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    return file.write(text.toUtf8()) >= 0;
}

QString QmlTestHost::readFile(const QString& path) const {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool QmlTestHost::fileExists(const QString& path) const { return QFileInfo::exists(path); }

void QmlTestHost::emptyFolder(const QString& path) {
    // An empty path would name the working folder.
    if (path.isEmpty()) {
        return;
    }
    QDir dir(path);
    for (const QString& name : dir.entryList(QDir::Files)) dir.remove(name);
}

bool QmlTestHost::removeFile(const QString& path) { return !path.isEmpty() && QFile::remove(path); }
bool QmlTestHost::writeSample(const QString& fileName) {
    const QString folder = project_->samplesDirectory();
    QDir().mkpath(folder);
    // A tenth of a second at 48 kHz, loud enough to measure.
    const std::vector<float> data(4800, 0.5f);
    return engine::writeWavFile(QDir(folder).filePath(fileName).toStdString(), data, 1, 48000,
                                engine::WavFormat::Float32, nullptr);
}

bool QmlTestHost::writeSound(const QString& path, double seconds) {
    constexpr std::uint32_t kRate = 44100;
    QDir().mkpath(QFileInfo(path).absolutePath());
    const std::vector<float> samples(static_cast<std::size_t>(seconds * kRate), 0.25f);
    return engine::writeWavFile(QFile::encodeName(path).toStdString(), samples, 1, kRate, engine::WavFormat::Pcm16,
                                nullptr);
}

void QmlTestHost::applyLiveSettings(bool on) {
    QObject::disconnect(liveSettings_);
    if (on) {
        liveSettings_ = connect(settings_.get(), &app::SettingsBridge::valueChanged, this, [this](const QString& id) {
            app::applySettingChange(id, *settings_, *themes_, *logger_);
        });
    }
}

void QmlTestHost::buildDemoSong() {
    app::DemoViews views;
    views.fm = true;
    views.sampler = true;
    views.audio = true;
    app::buildDemoProject(*project_, views, nullptr);
}

void QmlTestHost::setInterfaceScale(double factor) { app_->setInterfaceScale(factor); }

void QmlTestHost::refuseSoundCard(const QString& reason) { card_->refusal = reason.toStdString(); }

bool QmlTestHost::writeTone(const QString& path, double seconds) {
    constexpr std::uint32_t kRate = 44100;
    std::vector<float> samples(static_cast<std::size_t>(std::max(0.0, seconds) * kRate));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = 0.5f * static_cast<float>(std::sin(2.0 * 3.141592653589793 * 440.0 * static_cast<double>(i) / kRate));
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    return engine::writeWavFile(path.toStdString(), samples, 1, kRate, engine::WavFormat::Pcm16, nullptr);
}

void QmlTestHost::tickTransport() { transport_->tick(); }

double QmlTestHost::renderPeak(int periods) {
    float peak = 0.0f;
    for (int i = 0; i < periods && card_->callback != nullptr; ++i) {
        std::fill(card_->block.begin(), card_->block.end(), 0.0f);
        card_->callback(card_->user, card_->block.data(), card_->config.bufferFrames);
        for (float sample : card_->block) peak = std::max(peak, std::abs(sample));
    }
    return peak;
}

}  // namespace ostrel::test
