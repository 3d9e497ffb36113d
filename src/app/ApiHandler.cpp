#include "app/ApiHandler.h"

#include "api_server/ApiError.h"
#include "app/ProjectController.h"
#include "app/TransportController.h"
#include "core/BuildInfo.h"
#include "devices/BuiltinInstruments.h"
#include "devices/InstrumentConfig.h"

#include <QMetaType>
#include <QStringList>
#include <QVariantList>

#include <algorithm>
#include <array>

namespace ostrel::app {
namespace {

using nlohmann::json;

const json kOk = {{"ok", true}};

QString qText(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

bool isAudio(const QVariantMap& track) {
    return track.value(QStringLiteral("kind")).toString() == QStringLiteral("audio");
}

}  // namespace

const std::vector<ApiHandler::Entry>& ApiHandler::methods() {
    // The clip and device families join this table with the editing members they call.
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
    // The whole result is built before any of it is written.
    return (this->*found->run)(parsed).dump();
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

ApiHandler::Json ApiHandler::valueOr(const Json& params, const char* name, Json fallback) {
    if (params.is_object()) {
        if (const auto it = params.find(name); it != params.end() && !it->is_null()) {
            return *it;
        }
    }
    return fallback;
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
    if (std::string error; !ProjectController::checkFinite(bpm, "bpm", &error)) {
        invalidParams(error);
    }
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
        int noteCount = 0;
        for (const QVariant& clip : track.value(QStringLiteral("clipList")).toList()) {
            noteCount += static_cast<int>(clip.toMap().value(QStringLiteral("notes")).toList().size());
        }
        tracks.push_back({{"id", stringField(track, "id")},
                          {"name", stringField(track, "name")},
                          {"kind", stringField(track, "kind")},
                          {"instrument", stringField(track, "instrument")},
                          {"muted", track.value(QStringLiteral("muted")).toBool()},
                          {"solo", track.value(QStringLiteral("solo")).toBool()},
                          {"volume", track.value(QStringLiteral("volume")).toDouble()},
                          {"clipCount", track.value(QStringLiteral("clips")).toInt()},
                          {"noteCount", noteCount},
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
            .arg(qText(stringField(track, "name")))
            .arg(clips)
            .arg(effects),
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
    if (std::string error; !ProjectController::checkFinite(volume, "volume", &error)) {
        invalidParams(error);
    }
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
    const double startBeats = valueOr(params, "startBeats", 0.0).get<double>();
    if (std::string error; !ProjectController::checkBeats(startBeats, "startBeats", &error)) {
        invalidParams(error);
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
    if (std::string error; !ProjectController::checkFinite(bpm, "bpm", &error)) {
        invalidParams(error);
    }
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
    // A '0' anywhere makes the text an id: "10" is not the tenth track.
    const auto nonZeroDigit = [](char c) { return c >= '1' && c <= '9'; };
    if (text.empty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), nonZeroDigit)) {
        return params;
    }
    const std::size_t number = std::stoul(text);
    const json list = json::parse(handle("tracks.list", "{}"), nullptr, false);
    if (!list.is_object() || !list.contains("tracks") || !list["tracks"].is_array()) {
        return params;
    }
    const json& tracks = list["tracks"];
    if (tracks.size() < number || !tracks[number - 1].is_object() || !tracks[number - 1].contains("id") ||
        !tracks[number - 1]["id"].is_string()) {
        return params;
    }
    parsed[key] = tracks[number - 1]["id"];
    return parsed.dump();
}

}  // namespace ostrel::app
