#include "app/api/ApiHandler.h"

#include "api_server/jsonrpc/ApiError.h"
#include "app/project/NoteTexts.h"
#include "app/project/ProjectController.h"
#include "app/sound/TransportController.h"
#include "core/BuildInfo.h"
#include "devices/instruments/BuiltinInstruments.h"
#include "devices/instruments/InstrumentConfig.h"

#include <QMetaType>
#include <QStringList>
#include <QVariantList>

#include <algorithm>
#include <array>
#include <optional>
#include <string>

namespace ostrel::app {
namespace {

using nlohmann::json;

const json kOk = {{"ok", true}};

QString qText(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

bool isAudio(const QVariantMap& track) {
    return track.value(QStringLiteral("kind")).toString() == QStringLiteral("audio");
}

std::string utf8(const QString& text) { return text.toUtf8().toStdString(); }

std::string noNoteText(const std::string& clipId, const std::string& noteId) {
    return "clip \"" + clipId + "\" has no note with id \"" + noteId + "\" (clips.notes shows the ids)";
}

}  // namespace

const std::vector<ApiHandler::Entry>& ApiHandler::methods() {
    static const std::vector<Entry> table{
        {"app.ping", &ApiHandler::appPing},
        {"project.get", &ApiHandler::projectGet},
        {"project.setName", &ApiHandler::projectSetName},
        {"project.setTempo", &ApiHandler::projectSetTempo},
        {"project.renderToWav", &ApiHandler::projectRenderToWav},
        {"tracks.list", &ApiHandler::tracksList},
        {"instruments.list", &ApiHandler::instrumentsList},
        {"tracks.add", &ApiHandler::tracksAdd},
        {"tracks.rename", &ApiHandler::tracksRename},
        {"tracks.remove", &ApiHandler::tracksRemove},
        {"tracks.setInstrument", &ApiHandler::tracksSetInstrument},
        {"tracks.setMuted", &ApiHandler::tracksSetMuted},
        {"tracks.setSolo", &ApiHandler::tracksSetSolo},
        {"tracks.setVolume", &ApiHandler::tracksSetVolume},
        {"tracks.addPattern", &ApiHandler::tracksAddPattern},
        {"tracks.samples", &ApiHandler::tracksSamples},
        {"tracks.addAudioClip", &ApiHandler::tracksAddAudioClip},
        {"transport.play", &ApiHandler::transportPlay},
        {"transport.stop", &ApiHandler::transportStop},
        {"transport.setTempo", &ApiHandler::transportSetTempo},
        {"transport.position", &ApiHandler::transportPosition},
        {"history.undo", &ApiHandler::historyUndo},
        {"history.redo", &ApiHandler::historyRedo},
        {"history.info", &ApiHandler::historyInfo},
        {"clips.list", &ApiHandler::clipsList},
        {"clips.add", &ApiHandler::clipsAdd},
        {"clips.move", &ApiHandler::clipsMove},
        {"clips.resize", &ApiHandler::clipsResize},
        {"clips.split", &ApiHandler::clipsSplit},
        {"clips.remove", &ApiHandler::clipsRemove},
        {"clips.duplicate", &ApiHandler::clipsDuplicate},
        {"clips.notes", &ApiHandler::clipsNotes},
        {"clips.addNote", &ApiHandler::clipsAddNote},
        {"clips.editNote", &ApiHandler::clipsEditNote},
        {"clips.removeNote", &ApiHandler::clipsRemoveNote},
        {"clips.quantize", &ApiHandler::clipsQuantize},
        {"devices.catalogue", &ApiHandler::devicesCatalogue},
        {"devices.knobs", &ApiHandler::devicesKnobs},
        {"devices.list", &ApiHandler::devicesList},
        {"devices.add", &ApiHandler::devicesAdd},
        {"devices.remove", &ApiHandler::devicesRemove},
        {"devices.setEnabled", &ApiHandler::devicesSetEnabled},
        {"devices.move", &ApiHandler::devicesMove},
        {"devices.setParameter", &ApiHandler::devicesSetParameter},
    };
    return table;
}

std::string ApiHandler::handle(const std::string& method, const std::string& params) {
    const auto& table = methods();
    const auto found = std::find_if(table.begin(), table.end(), [&](const Entry& e) { return e.name == method; });
    if (found == table.end()) {
        throw api_server::ApiError(api_server::kMethodNotFound, std::string(api_server::kUnknownMethodPrefix) + method);
    }
    json parsed = json::parse(params, nullptr, false);
    if (parsed.is_discarded()) {
        parsed = json::object();
    }
    // The whole result is built before any of it is written; text that is not UTF-8 is
    // written with replacement characters rather than failing the request.
    return (this->*found->run)(parsed).dump(-1, ' ', false, json::error_handler_t::replace);
}

// Parameter readers.

std::string ApiHandler::requireText(const Json& params, const char* name) {
    if (params.is_object()) {
        if (const auto it = params.find(name); it != params.end() && it->is_string()) {
            return it->get<std::string>();
        }
    }
    invalidParams("the parameter \"" + std::string(name) + "\" (a text) is missing or wrong");
}

double ApiHandler::requireNumber(const Json& params, const char* name) {
    if (params.is_object()) {
        if (const auto it = params.find(name); it != params.end() && it->is_number()) {
            return it->get<double>();
        }
    }
    invalidParams("the parameter \"" + std::string(name) + "\" (a number) is missing or wrong");
}

bool ApiHandler::requireBool(const Json& params, const char* name) {
    if (params.is_object()) {
        if (const auto it = params.find(name); it != params.end() && it->is_boolean()) {
            return it->get<bool>();
        }
    }
    invalidParams("the parameter \"" + std::string(name) + "\" (a yes/no) is missing or wrong");
}

// A member of the wrong type is refused here, in words, rather than by the JSON library,
// whose exception text would name its internals.
std::optional<double> ApiHandler::optionalNumber(const Json& params, const char* name) {
    if (!params.is_object() || !params.contains(name) || params[name].is_null()) {
        return std::nullopt;
    }
    if (!params[name].is_number()) {
        invalidParams("the parameter \"" + std::string(name) + "\" (a number) is wrong");
    }
    return params[name].get<double>();
}

std::string ApiHandler::optionalText(const Json& params, const char* name) {
    if (!params.is_object() || !params.contains(name) || params[name].is_null()) {
        return {};
    }
    if (!params[name].is_string()) {
        invalidParams("the parameter \"" + std::string(name) + "\" (a text) is wrong");
    }
    return params[name].get<std::string>();
}

void ApiHandler::invalidParams(const std::string& message) {
    throw api_server::ApiError(api_server::kInvalidParams, message);
}

// Lookups.

QVariantMap ApiHandler::findTrack(const std::string& id) {
    for (const QVariant& entry : project_->tracks()) {
        const QVariantMap track = entry.toMap();
        if (stringField(track, "id") == id) {
            return track;
        }
    }
    invalidParams("no track with id \"" + id + "\" (tracks.list shows the ids)");
}

QVariantMap ApiHandler::requireTrack(const Json& params, const char* name) {
    return findTrack(requireText(params, name));
}

QVariantMap ApiHandler::requireTrackByEitherKey(const Json& params) {
    return requireTrack(params, params.is_object() && params.contains("trackId") ? "trackId" : "id");
}

QVariantMap ApiHandler::findById(const QVariantMap& map, const char* list, const std::string& id) {
    for (const QVariant& entry : map.value(QString::fromLatin1(list)).toList()) {
        const QVariantMap element = entry.toMap();
        if (stringField(element, "id") == id) {
            return element;
        }
    }
    return {};
}

QVariantMap ApiHandler::findClip(const QVariantMap& track, const std::string& clipId) {
    QVariantMap clip = findById(track, "clipList", clipId);
    if (clip.isEmpty()) {
        invalidParams("track \"" + stringField(track, "name") + "\" has no clip with id \"" + clipId +
                      "\" (clips.list shows the ids)");
    }
    return clip;
}

QVariantMap ApiHandler::requireMidiClip(const QVariantMap& track, const std::string& clipId) {
    QVariantMap clip = findClip(track, clipId);
    if (clip.value(QStringLiteral("audio")).toBool()) {
        invalidParams("clip \"" + clipId + "\" is an audio clip: it has no notes");
    }
    return clip;
}

QVariantMap ApiHandler::findDevice(const QVariantMap& track, const std::string& deviceId) {
    QVariantMap device = findById(track, "deviceList", deviceId);
    if (device.isEmpty()) {
        invalidParams("track \"" + stringField(track, "name") + "\" has no effect with id \"" + deviceId +
                      "\" (devices.list shows the chain)");
    }
    return device;
}

void ApiHandler::requireSongBeats(double beats, const char* name) {
    if (std::string error; !ProjectController::checkBeats(beats, name, &error)) {
        invalidParams(error);
    }
}

void ApiHandler::requireClipEnd(double startBeats, double lengthBeats, const char* name) {
    // A negative start is taken as 0, as the controller takes it.
    requireSongBeats(std::max(0.0, startBeats) + lengthBeats, name);
}

void ApiHandler::requireFinite(double value, const char* name) {
    if (std::string error; !ProjectController::checkFinite(value, name, &error)) {
        invalidParams(error);
    }
}

// Converters.

std::string ApiHandler::stringField(const QVariantMap& map, const char* name) {
    return map.value(QString::fromLatin1(name)).toString().toUtf8().toStdString();
}

ApiHandler::Json ApiHandler::variantToJson(const QVariant& value) {
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::LongLong:
        return value.toLongLong();
    case QMetaType::Double:
    case QMetaType::Float:
        return value.toDouble();
    case QMetaType::QVariantMap: {
        json object = json::object();
        const QVariantMap map = value.toMap();
        for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
            object[it.key().toUtf8().toStdString()] = variantToJson(it.value());
        }
        return object;
    }
    case QMetaType::QVariantList: {
        json array = json::array();
        for (const QVariant& element : value.toList()) {
            array.push_back(variantToJson(element));
        }
        return array;
    }
    case QMetaType::QStringList: {
        json array = json::array();
        for (const QString& text : value.toStringList()) {
            array.push_back(text.toUtf8().toStdString());
        }
        return array;
    }
    default:
        return value.toString().toUtf8().toStdString();
    }
}

ApiHandler::Json ApiHandler::devicesToJson(const QVariantMap& track) {
    json devices = json::array();
    for (const QVariant& entry : track.value(QStringLiteral("deviceList")).toList()) {
        const QVariantMap device = entry.toMap();
        devices.push_back({{"refId", stringField(device, "id")},
                           {"deviceId", stringField(device, "deviceId")},
                           {"name", stringField(device, "name")},
                           {"enabled", device.value(QStringLiteral("enabled")).toBool()},
                           {"parameters", variantToJson(device.value(QStringLiteral("values")))}});
    }
    return devices;
}

std::set<std::string> ApiHandler::clipIdSet(const QVariantMap& track) {
    std::set<std::string> ids;
    for (const QVariant& clip : track.value(QStringLiteral("clipList")).toList()) {
        ids.insert(stringField(clip.toMap(), "id"));
    }
    return ids;
}

const std::vector<std::pair<std::string, std::string>>& ApiHandler::instrumentCatalogue() {
    static const std::vector<std::pair<std::string, std::string>> catalogue = [] {
        std::vector<std::pair<std::string, std::string>> entries;
        for (const engine::Patch& patch : engine::builtinPatches()) {
            entries.emplace_back(patch.name, patch.category);
        }
        entries.emplace_back("Sampler", "sampler");
        entries.emplace_back("Drum Rack", "drums");
        return entries;
    }();
    return catalogue;
}

// Application and project.

ApiHandler::Json ApiHandler::appPing(const Json&) {
    return {{"api", 1}, {"contract", "1.3"}, {"version", core::appVersion()}};
}

ApiHandler::Json ApiHandler::projectGet(const Json&) {
    return {{"name", project_->name().toUtf8().toStdString()},
            {"tempo", project_->tempo()},
            {"dirty", project_->dirty()},
            {"trackCount", project_->tracks().size()},
            {"lengthBeats", project_->lengthBeats()}};
}

ApiHandler::Json ApiHandler::projectSetName(const Json& params) {
    const std::string name = requireText(params, "name");
    if (name.empty()) {
        invalidParams("the project name must not be empty");
    }
    project_->renameProject(qText(name));
    return kOk;
}

ApiHandler::Json ApiHandler::projectSetTempo(const Json& params) {
    const double bpm = requireNumber(params, "bpm");
    requireFinite(bpm, "bpm");
    project_->setTempo(bpm);
    return kOk;
}

ApiHandler::Json ApiHandler::projectRenderToWav(const Json&) {
    const WavExport result = project_->exportWav();
    if (result.outcome == WavExport::Outcome::Refused) {
        invalidParams(result.reason.toUtf8().toStdString());
    }
    // Queued: the file appears under this path, announced by "ostrel/render.finished".
    return {{"started", true}, {"path", result.path.toUtf8().toStdString()}};
}

// Tracks and instruments.

ApiHandler::Json ApiHandler::tracksList(const Json&) {
    json tracks = json::array();
    for (const QVariant& entry : project_->tracks()) {
        const QVariantMap track = entry.toMap();
        tracks.push_back({{"id", stringField(track, "id")},
                          {"name", stringField(track, "name")},
                          {"kind", stringField(track, "kind")},
                          {"instrument", stringField(track, "instrument")},
                          {"muted", track.value(QStringLiteral("muted")).toBool()},
                          {"solo", track.value(QStringLiteral("solo")).toBool()},
                          {"volume", track.value(QStringLiteral("volume")).toDouble()},
                          {"clipCount", track.value(QStringLiteral("clips")).toInt()},
                          {"noteCount", track.value(QStringLiteral("notes")).toInt()},
                          {"effects", devicesToJson(track)}});
    }
    return {{"tracks", tracks}};
}

ApiHandler::Json ApiHandler::instrumentsList(const Json&) {
    json instruments = json::array();
    for (const auto& [name, category] : instrumentCatalogue()) {
        instruments.push_back({{"name", name}, {"category", category}});
    }
    return {{"instruments", instruments}};
}

ApiHandler::Json ApiHandler::tracksAdd(const Json&) {
    return {{"id", project_->addTrack().toUtf8().toStdString()}};
}

ApiHandler::Json ApiHandler::tracksRename(const Json& params) {
    const QVariantMap track = requireTrack(params, "id");
    const std::string name = requireText(params, "name");
    if (name.empty()) {
        invalidParams("the track name must not be empty");
    }
    project_->renameTrack(qText(stringField(track, "id")), qText(name));
    return kOk;
}

ApiHandler::Json ApiHandler::tracksRemove(const Json& params) {
    const QVariantMap track = requireTrack(params, "id");
    const auto clips = track.value(QStringLiteral("clipList")).toList().size();
    const auto effects = track.value(QStringLiteral("deviceList")).toList().size();
    project_->removeTrack(qText(stringField(track, "id")));
    project_->setMessage(
        ProjectController::tr("Removed track \"%1\" (%2 clips, %3 effects) via the API. Press Ctrl+Z to undo.")
            .arg(qText(stringField(track, "name")), QString::number(clips), QString::number(effects)),
        true);
    return kOk;
}

ApiHandler::Json ApiHandler::tracksSetInstrument(const Json& params) {
    const QVariantMap track = requireTrack(params, "id");
    const std::string patch = requireText(params, "patch");
    if (isAudio(track)) {
        invalidParams("audio tracks have no instrument (add a MIDI track with tracks.add)");
    }
    if (!patch.empty() && !engine::isKnownInstrumentType(patch)) {
        invalidParams("unknown instrument \"" + patch + "\" (instruments.list shows the names)");
    }
    project_->setTrackInstrument(qText(stringField(track, "id")), qText(patch));
    return kOk;
}

ApiHandler::Json ApiHandler::tracksSetMuted(const Json& params) {
    const bool muted = requireBool(params, "muted");
    const QVariantMap track = requireTrack(params, "id");
    project_->setTrackMuted(qText(stringField(track, "id")), muted);
    return kOk;
}

ApiHandler::Json ApiHandler::tracksSetSolo(const Json& params) {
    const bool solo = requireBool(params, "solo");
    const QVariantMap track = requireTrack(params, "id");
    project_->setTrackSolo(qText(stringField(track, "id")), solo);
    return kOk;
}

ApiHandler::Json ApiHandler::tracksSetVolume(const Json& params) {
    const double volume = requireNumber(params, "volume");
    const QVariantMap track = requireTrack(params, "id");
    requireFinite(volume, "volume");
    project_->setTrackVolume(qText(stringField(track, "id")), volume);
    return kOk;
}

ApiHandler::Json ApiHandler::tracksAddPattern(const Json& params) {
    const QVariantMap track = requireTrackByEitherKey(params);
    if (isAudio(track)) {
        invalidParams("patterns are MIDI: use a MIDI track (tracks.add)");
    }
    const std::string id = stringField(track, "id");
    const std::set<std::string> before = clipIdSet(track);
    project_->addPattern(qText(id));
    // Looked up anew: the map from before the call no longer says what the song holds.
    for (const std::string& clipId : clipIdSet(findTrack(id))) {
        if (!before.contains(clipId)) {
            return {{"ok", true}, {"clipId", clipId}};
        }
    }
    invalidParams("no pattern was added");
}

ApiHandler::Json ApiHandler::tracksSamples(const Json&) {
    json samples = json::array();
    for (const QString& file : project_->sampleFiles()) {
        samples.push_back(file.toUtf8().toStdString());
    }
    return {{"samples", samples}};
}

ApiHandler::Json ApiHandler::tracksAddAudioClip(const Json& params) {
    const QVariantMap track = requireTrackByEitherKey(params);
    if (!isAudio(track)) {
        invalidParams(
            "sound files go on an audio track (tracks.add makes a MIDI track; Edit > Add audio track makes an audio "
            "one)");
    }
    const std::string file = requireText(params, "file");
    if (!project_->sampleFiles().contains(qText(file), Qt::CaseSensitive)) {
        invalidParams("no sound file \"" + file + "\" in the samples folder (tracks.samples lists the files)");
    }
    const double startBeats = optionalNumber(params, "startBeats").value_or(0.0);
    requireSongBeats(startBeats, "startBeats");
    if (const std::optional<double> length = project_->audioClipBeats(qText(file))) {
        requireClipEnd(startBeats, *length, "the clip's end");
    }
    const QString clipId = project_->addAudioClip(qText(stringField(track, "id")), qText(file), startBeats);
    if (clipId.isEmpty()) {
        invalidParams("the sound file \"" + file + "\" could not be added (is it a valid WAV?)");
    }
    return {{"clipId", clipId.toUtf8().toStdString()}};
}

// Transport.

ApiHandler::Json ApiHandler::transportPlay(const Json&) {
    transport_->play();
    return {{"playing", transport_->playing()}};
}

ApiHandler::Json ApiHandler::transportStop(const Json&) {
    transport_->stop();
    return {{"playing", transport_->playing()}};
}

ApiHandler::Json ApiHandler::transportSetTempo(const Json& params) {
    const double bpm = requireNumber(params, "bpm");
    requireFinite(bpm, "bpm");
    transport_->setTempo(bpm);
    return {{"tempo", transport_->tempo()}};
}

ApiHandler::Json ApiHandler::transportPosition(const Json&) {
    return {{"playing", transport_->playing()},
            {"tempo", transport_->tempo()},
            {"positionText", transport_->positionText().toUtf8().toStdString()},
            {"positionBeats", transport_->positionBeats()}};
}

// History.

ApiHandler::Json ApiHandler::historyUndo(const Json&) {
    const bool had = project_->canUndo();
    if (had) {
        project_->undo();
    }
    return {{"ok", had}};
}

ApiHandler::Json ApiHandler::historyRedo(const Json&) {
    const bool had = project_->canRedo();
    if (had) {
        project_->redo();
    }
    return {{"ok", had}};
}

ApiHandler::Json ApiHandler::historyInfo(const Json&) {
    return {{"canUndo", project_->canUndo()},
            {"undoText", project_->undoText().toUtf8().toStdString()},
            {"canRedo", project_->canRedo()},
            {"redoText", project_->redoText().toUtf8().toStdString()}};
}

// Clips.

ApiHandler::Json ApiHandler::clipsList(const Json& params) {
    const QVariantMap track = requireTrack(params, "trackId");
    json clips = json::array();
    for (const QVariant& entry : track.value(QStringLiteral("clipList")).toList()) {
        const QVariantMap clip = entry.toMap();
        clips.push_back({{"id", stringField(clip, "id")},
                         {"name", stringField(clip, "name")},
                         {"start", clip.value(QStringLiteral("start")).toDouble()},
                         {"length", clip.value(QStringLiteral("length")).toDouble()},
                         {"audio", clip.value(QStringLiteral("audio")).toBool()}});
    }
    return {{"clips", clips}};
}

ApiHandler::Json ApiHandler::clipsAdd(const Json& params) {
    const QVariantMap track = requireTrack(params, "trackId");
    if (isAudio(track)) {
        invalidParams("empty clips are MIDI: use a MIDI track (audio clips come from tracks.addAudioClip)");
    }
    const double lengthBeats = requireNumber(params, "lengthBeats");
    if (lengthBeats <= 0.0) {
        invalidParams("lengthBeats must be greater than 0");
    }
    requireSongBeats(lengthBeats, "lengthBeats");
    const double startBeats = requireNumber(params, "startBeats");
    requireSongBeats(startBeats, "startBeats");
    requireClipEnd(startBeats, std::max(ProjectController::kMinEmptyClipBeats, lengthBeats), "the clip's end");
    const QString clipId = project_->addEmptyClip(qText(stringField(track, "id")), startBeats, lengthBeats);
    if (clipId.isEmpty()) {
        invalidParams("the clip could not be added");
    }
    return {{"clipId", utf8(clipId)}};
}

ApiHandler::Json ApiHandler::clipsMove(const Json& params) {
    const QVariantMap track = requireTrack(params, "trackId");
    const QVariantMap clip = findClip(track, requireText(params, "clipId"));
    const std::string toTrackId = optionalText(params, "toTrackId");
    const QVariantMap target = toTrackId.empty() ? track : findTrack(toTrackId);
    const double startBeats = requireNumber(params, "startBeats");
    requireSongBeats(startBeats, "startBeats");
    const char* refusal =
        "the clip could not be moved there (an audio clip needs an audio track, a MIDI clip a MIDI track)";
    const bool audioClip = clip.value(QStringLiteral("audio")).toBool();
    if (stringField(target, "kind") != (audioClip ? "audio" : "midi")) {
        invalidParams(refusal);
    }
    requireClipEnd(startBeats, clip.value(QStringLiteral("length")).toDouble(), "the clip's end");
    const std::string targetId = stringField(target, "id");
    const std::string clipId = stringField(clip, "id");
    project_->moveClip(qText(stringField(track, "id")), qText(clipId), qText(targetId), startBeats);
    if (!clipIdSet(findTrack(targetId)).contains(clipId)) {
        invalidParams(refusal);
    }
    return kOk;
}

ApiHandler::Json ApiHandler::clipsResize(const Json& params) {
    const QVariantMap track = requireTrack(params, "trackId");
    const QVariantMap clip = findClip(track, requireText(params, "clipId"));
    const double lengthBeats = requireNumber(params, "lengthBeats");
    if (lengthBeats <= 0.0) {
        invalidParams("lengthBeats must be greater than 0");
    }
    requireSongBeats(lengthBeats, "lengthBeats");
    requireClipEnd(clip.value(QStringLiteral("start")).toDouble(),
                   std::max(ProjectController::kMinClipBeats, lengthBeats), "the clip's end");
    project_->resizeClip(qText(stringField(track, "id")), qText(stringField(clip, "id")), lengthBeats);
    return kOk;
}

ApiHandler::Json ApiHandler::clipsSplit(const Json& params) {
    const QVariantMap track = requireTrack(params, "trackId");
    const QVariantMap clip = findClip(track, requireText(params, "clipId"));
    const double atBeats = requireNumber(params, "atBeats");
    const double start = clip.value(QStringLiteral("start")).toDouble();
    const double end = start + clip.value(QStringLiteral("length")).toDouble();
    // Written so that a value that is not a number fails too.
    if (!(atBeats > start && atBeats < end)) {
        invalidParams("atBeats must be inside the clip (between its start and its end, in song beats)");
    }
    const QString newId = project_->splitClip(qText(stringField(track, "id")), qText(stringField(clip, "id")), atBeats);
    if (newId.isEmpty()) {
        invalidParams("the clip could not be split there");
    }
    return {{"clipId", utf8(newId)}};
}

ApiHandler::Json ApiHandler::clipsRemove(const Json& params) {
    const QVariantMap track = requireTrack(params, "trackId");
    const QVariantMap clip = findClip(track, requireText(params, "clipId"));
    project_->removeClip(qText(stringField(track, "id")), qText(stringField(clip, "id")));
    project_->setMessage(
        ProjectController::tr("Removed the clip \"%1\" from track \"%2\" via the API. Press Ctrl+Z to undo.")
            .arg(qText(stringField(clip, "name")), qText(stringField(track, "name"))),
        true);
    return kOk;
}

ApiHandler::Json ApiHandler::clipsDuplicate(const Json& params) {
    const QVariantMap track = requireTrack(params, "trackId");
    const QVariantMap clip = findClip(track, requireText(params, "clipId"));
    // The copy starts where the clip ends and is as long.
    const double length = clip.value(QStringLiteral("length")).toDouble();
    requireClipEnd(clip.value(QStringLiteral("start")).toDouble() + length, length, "the copy's end");
    const QString copyId = project_->duplicateClip(qText(stringField(track, "id")), qText(stringField(clip, "id")));
    if (copyId.isEmpty()) {
        invalidParams("the clip could not be duplicated");
    }
    return {{"clipId", utf8(copyId)}};
}

ApiHandler::Json ApiHandler::clipsNotes(const Json& params) {
    const QVariantMap track = requireTrack(params, "trackId");
    const QVariantMap clip = requireMidiClip(track, requireText(params, "clipId"));
    const std::vector<NoteText> read =
        readNoteTexts(project_->clipNotes(qText(stringField(track, "id")), qText(stringField(clip, "id"))));
    json notes = json::array();
    for (const NoteText& note : read) {
        notes.push_back({{"id", utf8(note.id)},
                         {"pitch", note.pitch},
                         {"velocity", note.velocity},
                         {"start", note.startBeats},
                         {"length", note.lengthBeats}});
    }
    return {{"notes", notes}};
}

ApiHandler::Json ApiHandler::clipsAddNote(const Json& params) { return addOrEditNote(params, NoteCall::Add); }

ApiHandler::Json ApiHandler::clipsEditNote(const Json& params) { return addOrEditNote(params, NoteCall::Edit); }

ApiHandler::Json ApiHandler::addOrEditNote(const Json& params, NoteCall call) {
    constexpr double kDefaultVelocity = 100.0;
    const QVariantMap track = requireTrack(params, "trackId");
    const QVariantMap clip = requireMidiClip(track, requireText(params, "clipId"));
    const double pitch = requireNumber(params, "pitch");
    // An edit without a velocity keeps the note's own; it is read once the note is found.
    const std::optional<double> velocity = optionalNumber(params, "velocity");
    const double startBeats = requireNumber(params, "startBeats");
    const double lengthBeats = requireNumber(params, "lengthBeats");
    // Written so that a value that is not a number fails too.
    if (!(pitch >= 0.0 && pitch <= 127.0)) {
        invalidParams("pitch must be a MIDI note number from 0 to 127 (60 = middle C)");
    }
    if (velocity && !(*velocity >= 1.0 && *velocity <= 127.0)) {
        invalidParams("velocity must be from 1 to 127");
    }
    if (startBeats < 0.0) {
        invalidParams("startBeats must not be negative");
    }
    if (!(lengthBeats > 0.0)) {
        invalidParams("lengthBeats must be greater than 0");
    }
    requireSongBeats(startBeats, "startBeats");
    requireSongBeats(lengthBeats, "lengthBeats");
    // Notes count from their clip's start; where the note ends is a place in the song too.
    requireSongBeats(clip.value(QStringLiteral("start")).toDouble() + startBeats + lengthBeats, "the note's end");
    const QString trackId = qText(stringField(track, "id"));
    const QString clipId = qText(stringField(clip, "id"));
    if (call == NoteCall::Add) {
        const QString noteId = project_->addNote(trackId, clipId, static_cast<int>(pitch),
                                                 static_cast<int>(velocity.value_or(kDefaultVelocity)), startBeats,
                                                 lengthBeats);
        if (noteId.isEmpty()) {
            invalidParams("the note could not be added");
        }
        return {{"noteId", utf8(noteId)}};
    }
    const std::string noteId = requireText(params, "noteId");
    const std::vector<NoteText> notes = readNoteTexts(project_->clipNotes(trackId, clipId));
    const NoteText* note = findNoteText(notes, qText(noteId));
    if (note == nullptr) {
        invalidParams(noNoteText(stringField(clip, "id"), noteId));
    }
    project_->editNote(trackId, clipId, qText(noteId), static_cast<int>(pitch),
                       static_cast<int>(velocity.value_or(note->velocity)), startBeats, lengthBeats);
    return kOk;
}

ApiHandler::Json ApiHandler::clipsRemoveNote(const Json& params) {
    const QVariantMap track = requireTrack(params, "trackId");
    const QVariantMap clip = requireMidiClip(track, requireText(params, "clipId"));
    const std::string noteId = requireText(params, "noteId");
    const QString trackId = qText(stringField(track, "id"));
    const QString clipId = qText(stringField(clip, "id"));
    const std::vector<NoteText> notes = readNoteTexts(project_->clipNotes(trackId, clipId));
    const NoteText* note = findNoteText(notes, qText(noteId));
    if (note == nullptr) {
        invalidParams(noNoteText(stringField(clip, "id"), noteId));
    }
    const int pitch = note->pitch;
    project_->removeNote(trackId, clipId, qText(noteId));
    project_->setMessage(
        ProjectController::tr("Removed a note (pitch %1) from clip \"%2\" via the API. Press Ctrl+Z to undo.")
            .arg(QString::number(pitch), qText(stringField(clip, "name"))),
        true);
    return kOk;
}

ApiHandler::Json ApiHandler::clipsQuantize(const Json& params) {
    const QVariantMap track = requireTrack(params, "trackId");
    const QVariantMap clip = requireMidiClip(track, requireText(params, "clipId"));
    return {{"moved", project_->quantizeClip(qText(stringField(track, "id")), qText(stringField(clip, "id")))}};
}

// Devices.

ApiHandler::Json ApiHandler::devicesCatalogue(const Json&) {
    return {{"devices", variantToJson(project_->effectCatalogue())}};
}

ApiHandler::Json ApiHandler::devicesKnobs(const Json& params) {
    const std::string deviceId = requireText(params, "deviceId");
    const QVariantList knobs = project_->deviceKnobs(qText(deviceId));
    if (knobs.isEmpty()) {
        invalidParams("unknown device \"" + deviceId + "\" (devices.catalogue lists the effects)");
    }
    return {{"knobs", variantToJson(knobs)}};
}

ApiHandler::Json ApiHandler::devicesList(const Json& params) {
    return {{"devices", devicesToJson(requireTrack(params, "trackId"))}};
}

ApiHandler::Json ApiHandler::devicesAdd(const Json& params) {
    const QVariantMap track = requireTrack(params, "trackId");
    const std::string deviceId = requireText(params, "deviceId");
    const std::string preset = optionalText(params, "preset");
    bool typeKnown = false;
    bool presetKnown = preset.empty();
    for (const QVariant& entry : project_->effectCatalogue()) {
        const QVariantMap type = entry.toMap();
        if (stringField(type, "id") != deviceId) {
            continue;
        }
        typeKnown = true;
        for (const QVariant& each : type.value(QStringLiteral("presets")).toList()) {
            if (presetKnown) {
                break;
            }
            presetKnown = stringField(each.toMap(), "name") == preset;
        }
    }
    if (!typeKnown) {
        invalidParams("unknown effect \"" + deviceId + "\" (devices.catalogue lists the effects)");
    }
    if (!presetKnown) {
        invalidParams("the effect \"" + deviceId + "\" has no preset \"" + preset +
                      "\" (devices.catalogue lists them)");
    }
    const QString refId = project_->addDevice(qText(stringField(track, "id")), qText(deviceId), qText(preset));
    if (refId.isEmpty()) {
        invalidParams("the effect could not be added");
    }
    return {{"refId", utf8(refId)}};
}

ApiHandler::Json ApiHandler::devicesRemove(const Json& params) {
    const QVariantMap track = requireTrack(params, "trackId");
    const QVariantMap device = findDevice(track, requireText(params, "deviceId"));
    project_->removeDevice(qText(stringField(track, "id")), qText(stringField(device, "id")));
    project_->setMessage(
        ProjectController::tr("Removed the effect \"%1\" from track \"%2\" via the API. Press Ctrl+Z to undo.")
            .arg(qText(stringField(device, "name")), qText(stringField(track, "name"))),
        true);
    return kOk;
}

ApiHandler::Json ApiHandler::devicesSetEnabled(const Json& params) {
    const QVariantMap track = requireTrack(params, "trackId");
    const bool enabled = requireBool(params, "enabled");
    const QVariantMap device = findDevice(track, requireText(params, "deviceId"));
    project_->setDeviceEnabled(qText(stringField(track, "id")), qText(stringField(device, "id")), enabled);
    return kOk;
}

ApiHandler::Json ApiHandler::devicesMove(const Json& params) {
    const QVariantMap track = requireTrack(params, "trackId");
    const QVariantMap device = findDevice(track, requireText(params, "deviceId"));
    const double newIndex = requireNumber(params, "newIndex");
    const auto count = track.value(QStringLiteral("deviceList")).toList().size();
    // Written so that a value that is not a number fails too.
    if (!(newIndex >= 0.0 && newIndex < static_cast<double>(count))) {
        invalidParams("newIndex must be a position in the chain (0 to " + std::to_string(count - 1) + ")");
    }
    project_->moveDevice(qText(stringField(track, "id")), qText(stringField(device, "id")),
                         static_cast<int>(newIndex));
    return kOk;
}

ApiHandler::Json ApiHandler::devicesSetParameter(const Json& params) {
    const QVariantMap track = requireTrack(params, "trackId");
    const QVariantMap device = findDevice(track, requireText(params, "deviceId"));
    const std::string key = requireText(params, "key");
    if (!device.value(QStringLiteral("values")).toMap().contains(qText(key))) {
        invalidParams("the effect \"" + stringField(device, "deviceId") + "\" has no knob \"" + key +
                      "\" (devices.knobs lists them)");
    }
    const double value = requireNumber(params, "value");
    requireFinite(value, "value");
    project_->setDeviceParameter(qText(stringField(track, "id")), qText(stringField(device, "id")), qText(key), value);
    return kOk;
}

// The OSC door's track numbers.

std::optional<std::string_view> ApiHandler::trackParamFor(std::string_view method) {
    static constexpr std::array<std::string_view, 6> kById{"tracks.remove",   "tracks.rename", "tracks.setInstrument",
                                                           "tracks.setMuted", "tracks.setSolo", "tracks.setVolume"};
    static constexpr std::array<std::string_view, 6> kByTrackId{"clips.quantize",     "devices.add",
                                                                "devices.remove",     "devices.setEnabled",
                                                                "devices.move",       "devices.setParameter"};
    if (std::find(kById.begin(), kById.end(), method) != kById.end()) {
        return "id";
    }
    if (std::find(kByTrackId.begin(), kByTrackId.end(), method) != kByTrackId.end()) {
        return "trackId";
    }
    return std::nullopt;
}

std::string ApiHandler::resolveTrackNumbers(const std::string& method, const std::string& params) {
    const std::optional<std::string_view> member = trackParamFor(method);
    if (!member) {
        return params;
    }
    json parsed = json::parse(params, nullptr, false);
    const std::string key(*member);
    if (!parsed.is_object() || !parsed.contains(key) || !parsed[key].is_string()) {
        return params;
    }
    const std::string text = parsed[key].get<std::string>();
    // Track ids are never plain digits, so any number written without a leading zero names a
    // position, "10" the tenth track as well; "0" and "07" stay texts and name no track.
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (text.empty() || text.size() > 9 || text.front() == '0' || !std::all_of(text.begin(), text.end(), digit)) {
        return params;
    }
    const auto number = static_cast<qsizetype>(std::stoul(text));
    // The ids that tracks.list would answer, in its order, without writing the whole list:
    // a fader on a controller sends this many times a second.
    const QVariantList tracks = project_->tracks();
    if (tracks.size() < number) {
        return params;
    }
    parsed[key] = stringField(tracks[number - 1].toMap(), "id");
    return parsed.dump();
}

}  // namespace ostrel::app
