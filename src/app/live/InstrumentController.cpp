#include "app/live/InstrumentController.h"

#include "app/files/FileNames.h"
#include "app/settings/SettingsBridge.h"
#include "app/sound/AudioController.h"
#include "core/log/Logger.h"
#include "devices/instruments/BuiltinInstruments.h"
#include "devices/instruments/InstrumentConfig.h"
#include "devices/patches/PatchFile.h"
#include "devices/patches/PatchGraph.h"
#include "devices/patches/PolyphonicPatch.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <utility>

namespace ostrel::app {
namespace {

const QString kSampler = QStringLiteral("Sampler");
const QString kDrumRack = QStringLiteral("Drum Rack");
constexpr float kTrialLevel = 0.7f;
constexpr double kTrialRate = 48000.0;
constexpr std::uint32_t kTrialBlock = 512;
constexpr std::uint32_t kTrialChannels = 2;

// Looked up often and never changed: one copy for the whole run.
const std::vector<engine::Patch>& builtins() {
    static const std::vector<engine::Patch> patches = engine::builtinPatches();
    return patches;
}

bool isBuiltinName(const QString& name, Qt::CaseSensitivity sensitivity) {
    return std::any_of(builtins().begin(), builtins().end(), [&](const engine::Patch& patch) {
        return QString::fromStdString(patch.name).compare(name, sensitivity) == 0;
    });
}

// The sample instruments are offered beside the built-in patches; a user patch of either
// name would hide the real one.
bool isSampleInstrumentName(const QString& name) {
    return name.compare(kSampler, Qt::CaseInsensitive) == 0 || name.compare(kDrumRack, Qt::CaseInsensitive) == 0;
}

std::filesystem::path localPath(const QString& path) { return std::filesystem::path(QFile::encodeName(path).toStdString()); }

const QStringList& soundTargets() {
    static const QStringList targets{QStringLiteral("volume"), QStringLiteral("brightness"),
                                     QStringLiteral("resonance"), QStringLiteral("attack"),
                                     QStringLiteral("release")};
    return targets;
}

}  // namespace

InstrumentController::InstrumentController(AudioController& audio, core::Logger& logger, SettingsBridge* settings,
                                           QObject* parent)
    : QObject(parent), audio_(audio), logger_(logger), live_(&audio.engine()), settings_(settings) {
    rebuildPatchNames();
    if (settings_ != nullptr) {
        live_.setPolyphony(settings_->value(QStringLiteral("instrument.chords")).toBool() ? kChordVoices : 1);
        live_.setEffects(settings_->value(QStringLiteral("instrument.effects")).toBool());
        live_.setLevel(static_cast<float>(settings_->value(QStringLiteral("instrument.level")).toDouble()));
        // A user patch is not known yet; setPatchesDirectory tries the name again.
        applyPatch(settings_->value(QStringLiteral("instrument.patch")).toString(), LogStep::Without);
    }
    controllerMap_ = defaultControllerMap();
    loadControllerMap();
    connect(&audio_, &AudioController::streamStarted, this, &InstrumentController::onStreamStarted);
    message_ = QStringLiteral("Press a key to start. The sound card opens when you play.");
    if (QCoreApplication::instance() != nullptr) {
        keepAliveTimer_.setInterval(kKeepAliveMs);
        connect(&keepAliveTimer_, &QTimer::timeout, this, &InstrumentController::keepAliveTick);
        keepAliveTimer_.start();
    }
}

// The live instrument goes with the object; the engine drops its graph when the card closes.
InstrumentController::~InstrumentController() { keepAliveTimer_.stop(); }

// ---- Playing ----

void InstrumentController::keyDown(int semitone) {
    if (semitone < 0 || semitone > kHighestSemitone) return;
    playNote(semitone, semitone + (octave_ + 1) * 12);
}

void InstrumentController::keyUp(int semitone) { releaseKey(semitone); }

void InstrumentController::padDown(int note) {
    if (note < 0 || note > 127) return;
    playNote(note + kPadKeyOffset, note);
}

void InstrumentController::padUp(int note) { releaseKey(note + kPadKeyOffset); }

void InstrumentController::playNote(int key, int pitch) {
    if (heldKeys_.contains(key)) return;  // an auto-repeated press starts no second note
    if (pitch < 0 || pitch > 127) return;
    const core::ActionScope action("Instrument > play note " + std::to_string(pitch) + " on " + live_.patch().name,
                                   logger_);
    if (!ensureAudioStarted()) return;
    live_.noteOn(pitch, kVelocity);
    heldKeys_.insert(key, pitch);
    audio_.noteActivity();
    setMessage(QStringLiteral("Playing %1").arg(patchName()), false);
    emit pressedChanged();
    emit noteOn(pitch, kVelocity);
}

void InstrumentController::releaseKey(int key) {
    const auto held = heldKeys_.constFind(key);
    if (held == heldKeys_.constEnd()) return;
    const int pitch = held.value();
    live_.noteOff(pitch);
    heldKeys_.erase(held);
    audio_.noteActivity();
    emit pressedChanged();
    emit noteOff(pitch);
}

void InstrumentController::releaseAll() {
    if (heldKeys_.isEmpty()) return;
    const QList<int> pitches = heldKeys_.values();  // ascending key id
    for (const int pitch : pitches) live_.noteOff(pitch);
    heldKeys_.clear();
    emit pressedChanged();
    // A take being recorded closes these notes too.
    for (const int pitch : pitches) emit noteOff(pitch);
}

void InstrumentController::shiftOctave(int direction) {
    const int next = std::clamp(direction < 0 ? octave_ - 1 : octave_ + 1, kLowestOctave, kHighestOctave);
    if (next == octave_) return;
    octave_ = next;
    emit octaveChanged();
}

bool InstrumentController::ensureAudioStarted() {
    if (audio_.testToneOn()) audio_.setTestTone(false);
    if (!audio_.ensureRunning()) {
        setMessage(audio_.status(), true);
        return false;
    }
    std::string error;
    if (!live_.rebuild(&error)) {
        logger_.log(core::LogLevel::ERROR, "instrument", error);
        setMessage(QString::fromStdString(error), true);
        return false;
    }
    liveStarted_ = true;
    return true;
}

void InstrumentController::setMessage(const QString& text, bool problem) {
    if (text == message_ && problem == problem_) return;
    message_ = text;
    problem_ = problem;
    emit messageChanged();
}

void InstrumentController::keepAliveTick() {
    if (!heldKeys_.isEmpty() || !midiNotes_.isEmpty()) audio_.noteActivity();
}

void InstrumentController::onStreamStarted() {
    // The new stream plays a new graph, so no note offs go out; whoever listens for
    // noteOff (a take being recorded) still hears that the notes ended.
    QList<int> ended = heldKeys_.values();
    QList<int> midi = midiNotes_.values();
    std::sort(midi.begin(), midi.end());
    ended.append(midi);
    heldKeys_.clear();
    midiNotes_.clear();
    if (!ended.isEmpty()) {
        emit pressedChanged();
        for (const int pitch : ended) emit noteOff(pitch);
    }
    if (liveStarted_ && !audio_.testToneOn()) {
        std::string error;
        if (!live_.rebuild(&error)) setMessage(QString::fromStdString(error), true);
    }
}

QVariantList InstrumentController::pressedKeys() const {
    QVariantList keys;
    for (auto it = heldKeys_.cbegin(); it != heldKeys_.cend(); ++it) keys.append(it.key());
    return keys;
}

QVariantList InstrumentController::activeNotes() const {
    QVariantList notes;
    for (const int pitch : heldKeys_) notes.append(pitch);
    for (const int pitch : midiNotes_) notes.append(pitch);
    return notes;
}

// ---- Patches and sound ----

QString InstrumentController::patchName() const { return QString::fromStdString(live_.patch().name); }

QString InstrumentController::patchCategory() const { return QString::fromStdString(live_.patch().category); }

QStringList InstrumentController::userPatchNames() const {
    QStringList names;
    for (const UserPatch& user : userPatches_) names.append(user.name);
    return names;
}

QVariantMap InstrumentController::patchCategories() const {
    QVariantMap categories;
    for (const engine::Patch& patch : builtins()) {
        categories.insert(QString::fromStdString(patch.name), QString::fromStdString(patch.category));
    }
    categories.insert(kSampler, QStringLiteral("sampler"));
    categories.insert(kDrumRack, QStringLiteral("drums"));
    for (const UserPatch& user : userPatches_) {
        categories.insert(user.name, QString::fromStdString(user.patch.category));
    }
    return categories;
}

void InstrumentController::rebuildPatchNames() {
    patchNames_.clear();
    for (const engine::Patch& patch : builtins()) patchNames_.append(QString::fromStdString(patch.name));
    patchNames_.append(kSampler);
    patchNames_.append(kDrumRack);
    for (const UserPatch& user : userPatches_) patchNames_.append(user.name);
}

bool InstrumentController::cardRunning() const {
    return audio_.engine().backend().state() == engine::BackendState::Running;
}

void InstrumentController::rebuildIfRunning() {
    if (!cardRunning() || audio_.testToneOn()) return;
    std::string error;
    if (!live_.rebuild(&error)) setMessage(QString::fromStdString(error), true);
}

bool InstrumentController::applyPatch(const QString& name, LogStep logStep) {
    const std::string wanted = name.toStdString();
    const engine::Patch* found = nullptr;
    for (const engine::Patch& patch : builtins()) {
        if (patch.name == wanted) {
            found = &patch;
            break;
        }
    }
    if (found == nullptr) {
        for (const UserPatch& user : userPatches_) {
            if (user.name == name) {
                found = &user.patch;
                break;
            }
        }
    }
    engine::Patch made;
    if (found == nullptr) {
        if (!engine::isSampleInstrument(wanted)) return false;
        if (!engine::makeInstrumentPatch(wanted, engine::defaultInstrumentConfig(wanted), {}, made, nullptr, nullptr)) {
            return false;
        }
        found = &made;
    }
    if (logStep == LogStep::With) logger_.recordStep("instrument", "selected patch " + found->name);
    trackConfigured_ = false;
    installPatch(*found, nlohmann::json::object());
    return true;
}

void InstrumentController::installPatch(const engine::Patch& patch, const nlohmann::json& configuration) {
    releaseAll();
    live_.setPatch(engine::Patch(patch));
    padLabelsFor(live_.patch(), configuration);
    emit patchChanged();
    emit soundChanged();
    rebuildIfRunning();
}

void InstrumentController::padLabelsFor(const engine::Patch& patch, const nlohmann::json& configuration) {
    padLabels_.clear();
    if (patch.name == "Modular Drums") {
        static const std::pair<int, const char*> kKit[] = {{36, "Kick"},       {38, "Snare"},    {39, "Clap"},
                                                          {41, "Low tom"},    {42, "Closed hat"}, {45, "High tom"},
                                                          {46, "Open hat"},   {49, "Crash"}};
        for (const auto& [note, label] : kKit) padLabels_.insert(QString::number(note), QString::fromUtf8(label));
        return;
    }
    if (patch.name != "Drum Rack") return;
    for (int note = 36; note <= 51; ++note) padLabels_.insert(QString::number(note), QString());
    if (!configuration.is_object()) return;
    const auto pads = configuration.find("pads");
    if (pads == configuration.end() || !pads->is_array()) return;
    for (const nlohmann::json& pad : *pads) {
        if (!pad.is_object()) continue;
        const auto note = pad.find("note");
        const auto sample = pad.find("sample");
        if (note == pad.end() || !note->is_number() || sample == pad.end() || !sample->is_string()) continue;
        // Cut to a whole note only once it is known to be one a pad can play.
        const double value = std::trunc(note->get<double>());
        if (!std::isfinite(value) || value < 0.0 || value > 127.0) continue;
        padLabels_.insert(QString::number(static_cast<int>(value)),
                          QFileInfo(QString::fromStdString(sample->get<std::string>())).completeBaseName());
    }
}

void InstrumentController::selectPatch(const QString& name) {
    if (applyPatch(name, LogStep::With)) writeSetting("instrument.patch", name);
}

void InstrumentController::useTrackInstrument(const QString& name, const QString& configJson,
                                              const QString& samplesDir) {
    const std::string instrument = name.toStdString();
    nlohmann::json configuration = nlohmann::json::parse(configJson.toStdString(), nullptr, false);
    if (!configuration.is_object()) configuration = engine::defaultInstrumentConfig(instrument);
    const auto params = configuration.is_object() ? configuration.find("params") : configuration.end();
    const bool hasParams = configuration.is_object() && params != configuration.end() && params->is_object() &&
                           !params->empty();

    if (!engine::isSampleInstrument(instrument) && !hasParams) {
        // The same name is not enough: the playing patch may carry another track's tweaks.
        if (!name.isEmpty() && (name != patchName() || trackConfigured_)) selectPatch(name);
        return;
    }
    engine::Patch patch;
    std::vector<std::string> warnings;
    if (!engine::makeInstrumentPatch(instrument, configuration, localPath(samplesDir), patch, &warnings, nullptr)) {
        return;
    }
    for (const std::string& warning : warnings) logger_.log(core::LogLevel::WARN, "instrument", warning);
    logger_.recordStep("instrument", "playing the track instrument " + instrument);
    installPatch(patch, configuration);
    trackConfigured_ = true;
}

void InstrumentController::setPatchFilesMessage(const QString& text, bool problem) {
    // Signalled on every report, also when the text is unchanged.
    patchFilesMessage_ = text;
    patchFilesProblem_ = problem;
    emit patchFilesMessageChanged();
}

void InstrumentController::refreshPatches() {
    userPatches_.clear();
    QStringList problems;
    const QDir folder(patchesDirectory_);
    if (!patchesDirectory_.isEmpty() && folder.exists()) {
        const QStringList files =
            folder.entryList(QStringList{QStringLiteral("*.ostpatch")}, QDir::Files, QDir::Name);
        warnNamesNotUtf8(patchesDirectory_, {".ostpatch"}, "the patch file", "instrument", logger_, patchesNamedBadly_);
        for (const QString& file : files) {
            const QString path = patchesDirectory_ + QLatin1Char('/') + file;
            engine::Patch patch;
            std::string error;
            if (!engine::loadPatchFile(localPath(path), patch, &error, nullptr)) {
                problems.append(QStringLiteral("%1: %2").arg(file, QString::fromStdString(error)));
                continue;
            }
            if (patch.name.empty()) patch.name = QFileInfo(file).completeBaseName().toStdString();
            const QString name = QString::fromStdString(patch.name);
            const bool taken =
                isBuiltinName(name, Qt::CaseSensitive) || isSampleInstrumentName(name) ||
                std::any_of(userPatches_.begin(), userPatches_.end(), [&](const UserPatch& u) { return u.name == name; });
            if (taken) {
                problems.append(QStringLiteral("%1: the name \"%2\" is already used").arg(file, name));
                continue;
            }
            // Checked before the voices are built around it, where a missing output reads
            // as a cable to nowhere.
            const bool hasOutput = std::any_of(patch.nodes.begin(), patch.nodes.end(),
                                               [&](const engine::PatchNode& node) { return node.id == patch.output; });
            if (!hasOutput) {
                problems.append(QStringLiteral("%1: the patch has no output (\"output\" must be the id of the module "
                                               "that sounds)")
                                    .arg(file));
                continue;
            }
            const engine::Patch trial = engine::makePolyphonicPatch(patch, kTrialLevel, engine::VoiceEffects::None, 1, nullptr);
            std::string buildError;
            if (engine::buildPatchGraph(trial, kTrialRate, kTrialBlock, kTrialChannels, &buildError).graph == nullptr) {
                problems.append(QStringLiteral("%1: %2").arg(file, QString::fromStdString(buildError)));
                continue;
            }
            userPatches_.push_back({name, path, std::move(patch)});
        }
        std::stable_sort(userPatches_.begin(), userPatches_.end(),
                         [](const UserPatch& a, const UserPatch& b) { return a.name.toLower() < b.name.toLower(); });
    }
    rebuildPatchNames();
    emit patchListChanged();
    if (!problems.isEmpty()) {
        for (const QString& problem : problems) {
            logger_.log(core::LogLevel::WARN, "instrument", "patch file skipped: " + problem.toStdString());
        }
        setPatchFilesMessage(QStringLiteral("Some patch files could not be used: %1").arg(problems.join(QStringLiteral("; "))),
                             true);
    } else if (userPatches_.empty()) {
        setPatchFilesMessage(QString(), false);
    } else {
        setPatchFilesMessage(QStringLiteral("%1 of your own patch(es) loaded.").arg(userPatches_.size()), false);
    }
}

bool InstrumentController::saveCurrentPatchAs(const QString& name) {
    const QString trimmed = name.trimmed();
    static const QRegularExpression kNamePattern(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9 _-]{0,39}$"));
    if (!kNamePattern.match(trimmed).hasMatch()) {
        setPatchFilesMessage(QStringLiteral("Use 1 to 40 letters, digits, spaces, - or _ for the name."), true);
        return false;
    }
    if (isBuiltinName(trimmed, Qt::CaseInsensitive) || isSampleInstrumentName(trimmed)) {
        setPatchFilesMessage(QStringLiteral("\"%1\" is the name of a built-in patch. Choose another name.").arg(trimmed),
                             true);
        return false;
    }
    if (std::string why; !makeFolderToWrite(patchesDirectory_, &why)) {
        setPatchFilesMessage(
            QStringLiteral("Ostrel could not create the patches folder (%1).").arg(QString::fromStdString(why)), true);
        return false;
    }
    engine::Patch copy = live_.patch();
    copy.name = trimmed.toStdString();
    const QString path = patchesDirectory_ + QLatin1Char('/') + trimmed + QStringLiteral(".ostpatch");
    std::string error;
    if (!engine::savePatchFile(localPath(path), copy, &error)) {
        setPatchFilesMessage(QStringLiteral("Ostrel could not save the patch: %1").arg(QString::fromStdString(error)),
                             true);
        return false;
    }
    refreshPatches();
    selectPatch(trimmed);
    setPatchFilesMessage(QStringLiteral("Saved ") + QDir::toNativeSeparators(path), false);
    return true;
}

bool InstrumentController::removeUserPatch(const QString& name) {
    const auto user = std::find_if(userPatches_.begin(), userPatches_.end(),
                                   [&](const UserPatch& u) { return u.name == name; });
    if (user == userPatches_.end()) {
        setPatchFilesMessage(QStringLiteral("Only your own patches can be removed."), true);
        return false;
    }
    const bool playing = patchName() == name;
    // A file that stays would come back with the next listing: say so rather than "Removed".
    if (QFile file(user->filePath); !file.remove() && QFileInfo::exists(user->filePath)) {
        setPatchFilesMessage(
            QStringLiteral("Ostrel could not remove the patch \u201C%1\u201D (%2).").arg(name, file.errorString()),
            true);
        return false;
    }
    refreshPatches();
    if (playing) selectPatch(patchNames_.isEmpty() ? QString() : patchNames_.constFirst());
    setPatchFilesMessage(QStringLiteral("Removed the patch \u201C%1\u201D.").arg(name), false);
    return true;
}

void InstrumentController::openPatchesFolder() {
    if (patchesDirectory_.isEmpty()) return;
    makeFolderToWrite(patchesDirectory_);
    QDesktopServices::openUrl(QUrl::fromLocalFile(patchesDirectory_));
}

void InstrumentController::setPatchesDirectory(const QString& folder) {
    patchesDirectory_ = folder;
    refreshPatches();
    if (settings_ == nullptr) return;
    const QString saved = settings_->value(QStringLiteral("instrument.patch")).toString();
    if (saved != patchName()) applyPatch(saved, LogStep::Without);
}

void InstrumentController::setLevel(double level) {
    live_.setLevel(static_cast<float>(level));
    emit levelChanged();
}

void InstrumentController::commitLevel() { writeSetting("instrument.level", static_cast<double>(live_.level())); }

void InstrumentController::setSoundKnob(int knob, double value) {
    live_.setSoundKnob(knob, static_cast<float>(value));
    emit soundChanged();
}

void InstrumentController::resetSound() {
    for (int knob = 0; knob < engine::LiveInstrument::kSoundKnobs; ++knob) live_.setSoundKnob(knob, 0.5f);
    emit soundChanged();
}

void InstrumentController::setEffects(bool on) {
    if (on == live_.effects()) return;
    logger_.recordStep("instrument", on ? "echo and room on" : "echo and room off");
    live_.setEffects(on);
    writeSetting("instrument.effects", on);
    emit effectsChanged();
    rebuildIfRunning();
}

void InstrumentController::setChords(bool on) {
    if (on == chords()) return;
    logger_.recordStep("instrument", on ? "chords on (8 voices)" : "chords off (1 voice)");
    releaseAll();
    releaseMidiNotes();
    live_.setPolyphony(on ? kChordVoices : 1);
    writeSetting("instrument.chords", on);
    emit chordsChanged();
    rebuildIfRunning();
}

void InstrumentController::writeSetting(const char* id, const QVariant& value) {
    if (settings_ != nullptr) settings_->setValue(QString::fromLatin1(id), value);
}

// ---- MIDI controller map ----

QMap<int, QString> InstrumentController::defaultControllerMap() {
    return {{7, QStringLiteral("volume")},    {1, QStringLiteral("brightness")}, {74, QStringLiteral("brightness")},
            {71, QStringLiteral("resonance")}, {73, QStringLiteral("attack")},     {72, QStringLiteral("release")}};
}

QVariantMap InstrumentController::controllerMap() const {
    QVariantMap byTarget;
    // Ascending controller numbers: the first seen for a target is its lowest.
    for (auto it = controllerMap_.cbegin(); it != controllerMap_.cend(); ++it) {
        if (!byTarget.contains(it.value())) byTarget.insert(it.value(), it.key());
    }
    return byTarget;
}

void InstrumentController::loadControllerMap() {
    if (settings_ == nullptr) return;
    const QJsonDocument document =
        QJsonDocument::fromJson(settings_->value(QStringLiteral("instrument.midi_map")).toString().toUtf8());
    if (!document.isObject() || document.object().isEmpty()) return;
    controllerMap_.clear();
    const QJsonObject saved = document.object();
    for (auto it = saved.begin(); it != saved.end(); ++it) controllerMap_.insert(it.key().toInt(), it.value().toString());
}

void InstrumentController::saveControllerMap() {
    QJsonObject saved;
    for (auto it = controllerMap_.cbegin(); it != controllerMap_.cend(); ++it) saved.insert(QString::number(it.key()), it.value());
    writeSetting("instrument.midi_map", QString::fromUtf8(QJsonDocument(saved).toJson(QJsonDocument::Compact)));
}

void InstrumentController::learnControl(const QString& target) {
    if (!soundTargets().contains(target)) return;
    learning_ = learning_ == target ? QString() : target;  // a second click cancels
    emit learningChanged();
    if (!learning_.isEmpty()) {
        setMessage(QStringLiteral("Move a knob or wheel on your MIDI keyboard to assign it to %1.").arg(learning_), false);
    }
}

void InstrumentController::cancelLearn() {
    if (learning_.isEmpty()) return;
    learning_.clear();
    emit learningChanged();
}

void InstrumentController::clearControl(const QString& target) {
    bool removed = false;
    for (auto it = controllerMap_.begin(); it != controllerMap_.end();) {
        if (it.value() == target) {
            it = controllerMap_.erase(it);
            removed = true;
        } else {
            ++it;
        }
    }
    if (!removed) return;
    saveControllerMap();
    emit controllerMapChanged();
}

void InstrumentController::resetControllers() {
    controllerMap_ = defaultControllerMap();
    learning_.clear();
    writeSetting("instrument.midi_map", QString());
    emit learningChanged();
    emit controllerMapChanged();
}

void InstrumentController::applyControllerValue(const QString& target, double value) {
    if (target == QLatin1String("volume")) {
        live_.setLevel(static_cast<float>(value));
        emit levelChanged();
        return;
    }
    const int knob = soundTargets().indexOf(target) - 1;  // brightness is knob 0
    if (knob >= 0) setSoundKnob(knob, value);
}

void InstrumentController::handleMidiMessage(const engine::Event& event) {
    const int number = event.note;
    switch (event.type) {
        case engine::EventType::NoteOn: {
            const core::ActionScope action(
                "Instrument > MIDI note " + std::to_string(number) + " on " + live_.patch().name, logger_);
            if (!ensureAudioStarted()) return;
            live_.noteOn(number, event.velocity);
            midiNotes_.insert(number);
            audio_.noteActivity();
            setMessage(QStringLiteral("Playing %1").arg(patchName()), false);
            emit pressedChanged();
            emit noteOn(number, event.velocity);
            return;
        }
        case engine::EventType::NoteOff:
            if (cardRunning()) live_.noteOff(number);
            midiNotes_.remove(number);
            audio_.noteActivity();
            emit pressedChanged();
            emit noteOff(number);
            return;
        case engine::EventType::ControlChange:
            if (number == kSustainController) {
                live_.setSustain(event.velocity >= 64);
                audio_.noteActivity();
                return;
            }
            if (!learning_.isEmpty()) {
                const QString target = std::exchange(learning_, QString());
                for (auto it = controllerMap_.begin(); it != controllerMap_.end();) {
                    if (it.value() == target || it.key() == number) {
                        it = controllerMap_.erase(it);
                    } else {
                        ++it;
                    }
                }
                controllerMap_.insert(number, target);
                saveControllerMap();
                logger_.recordStep("instrument",
                                   "MIDI controller " + std::to_string(number) + " assigned to " + target.toStdString());
                emit learningChanged();
                emit controllerMapChanged();
                setMessage(QStringLiteral("Controller %1 now moves %2.").arg(number).arg(target), false);
                return;
            }
            if (const auto mapped = controllerMap_.constFind(number); mapped != controllerMap_.constEnd()) {
                applyControllerValue(mapped.value(), event.velocity / 127.0);
                return;
            }
            if (live_.isReady()) live_.sendEvent(event);
            return;
        default:
            if (live_.isReady()) live_.sendEvent(event);
            return;
    }
}

void InstrumentController::releaseMidiNotes() {
    if (midiNotes_.isEmpty()) return;
    QList<int> pitches = midiNotes_.values();
    std::sort(pitches.begin(), pitches.end());
    if (cardRunning()) {
        for (const int pitch : pitches) live_.noteOff(pitch);
    }
    midiNotes_.clear();
    emit pressedChanged();
    // A take being recorded closes these notes too.
    for (const int pitch : pitches) emit noteOff(pitch);
}

}  // namespace ostrel::app
