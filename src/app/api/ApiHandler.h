#pragma once

#include <nlohmann/json.hpp>

#include <QVariant>
#include <QVariantMap>

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ostrel::app {

class ProjectController;
class TransportController;

// The Control API's method table: one call, given as a method name and the JSON text of its
// parameters, becomes calls on the project and transport controllers, the same members the
// QML calls, so every change is one undo step and the views follow by themselves. The song
// is read only through the controller's plain maps, afresh for every lookup.
// Refusals are thrown as api_server::ApiError (-32601 for an unknown method, -32602 for the
// rest); whatever a library throws passes through, and the door turns it into an error reply.
// GUI thread only, one request at a time; it keeps no state between calls.
class ApiHandler {
public:
    // Neither is owned; both outlive the handler.
    ApiHandler(ProjectController* project, TransportController* transport) : project_(project), transport_(transport) {}

    // Runs one method and answers its result object as compact JSON text. Parameter text
    // that is not JSON counts as {}.
    std::string handle(const std::string& method, const std::string& params);

    // The member that names a track in the method's parameters at the OSC door, or none.
    static std::optional<std::string_view> trackParamFor(std::string_view method);

    // For the OSC door: the parameters with a track given by its position in the song
    // ("2", "10": decimal, no leading zero) replaced by that track's id; anything else unchanged.
    std::string resolveTrackNumbers(const std::string& method, const std::string& params);

private:
    using Json = nlohmann::json;
    using Method = Json (ApiHandler::*)(const Json& params);
    struct Entry {
        std::string_view name;
        Method run;
    };
    static const std::vector<Entry>& methods();

    // Parameter readers; the required ones refuse a missing member or one of another type.
    static std::string requireText(const Json& params, const char* name);
    static double requireNumber(const Json& params, const char* name);
    static bool requireBool(const Json& params, const char* name);
    // The optional ones answer nothing (an empty text) when the member is absent or null,
    // and refuse one of another type.
    static std::optional<double> optionalNumber(const Json& params, const char* name);
    static std::string optionalText(const Json& params, const char* name);
    [[noreturn]] static void invalidParams(const std::string& message);

    // Lookups; each refuses what it cannot find.
    QVariantMap findTrack(const std::string& id);
    QVariantMap requireTrack(const Json& params, const char* name);
    QVariantMap requireTrackByEitherKey(const Json& params);
    static QVariantMap findById(const QVariantMap& map, const char* list, const std::string& id);
    static QVariantMap findClip(const QVariantMap& track, const std::string& clipId);
    static QVariantMap requireMidiClip(const QVariantMap& track, const std::string& clipId);
    static QVariantMap findDevice(const QVariantMap& track, const std::string& deviceId);

    // The song's limits, refused with the controller's own words.
    static void requireSongBeats(double beats, const char* name);
    // Where a clip from startBeats lasting lengthBeats ends, named `name` in the refusal.
    static void requireClipEnd(double startBeats, double lengthBeats, const char* name);
    static void requireFinite(double value, const char* name);

    static std::string stringField(const QVariantMap& map, const char* name);
    static Json variantToJson(const QVariant& value);
    static Json devicesToJson(const QVariantMap& track);
    static std::set<std::string> clipIdSet(const QVariantMap& track);
    static const std::vector<std::pair<std::string, std::string>>& instrumentCatalogue();

    Json appPing(const Json& params);
    Json projectGet(const Json& params);
    Json projectSetName(const Json& params);
    Json projectSetTempo(const Json& params);
    Json projectRenderToWav(const Json& params);
    Json tracksList(const Json& params);
    Json instrumentsList(const Json& params);
    Json tracksAdd(const Json& params);
    Json tracksRename(const Json& params);
    Json tracksRemove(const Json& params);
    Json tracksSetInstrument(const Json& params);
    Json tracksSetMuted(const Json& params);
    Json tracksSetSolo(const Json& params);
    Json tracksSetVolume(const Json& params);
    Json tracksAddPattern(const Json& params);
    Json tracksSamples(const Json& params);
    Json tracksAddAudioClip(const Json& params);
    Json transportPlay(const Json& params);
    Json transportStop(const Json& params);
    Json transportSetTempo(const Json& params);
    Json transportPosition(const Json& params);
    Json historyUndo(const Json& params);
    Json historyRedo(const Json& params);
    Json historyInfo(const Json& params);
    Json clipsList(const Json& params);
    Json clipsAdd(const Json& params);
    Json clipsMove(const Json& params);
    Json clipsResize(const Json& params);
    Json clipsSplit(const Json& params);
    Json clipsRemove(const Json& params);
    Json clipsDuplicate(const Json& params);
    Json clipsNotes(const Json& params);
    Json clipsAddNote(const Json& params);
    Json clipsEditNote(const Json& params);
    enum class NoteCall { Add, Edit };
    Json addOrEditNote(const Json& params, NoteCall call);
    Json clipsRemoveNote(const Json& params);
    Json clipsQuantize(const Json& params);
    Json devicesCatalogue(const Json& params);
    Json devicesKnobs(const Json& params);
    Json devicesList(const Json& params);
    Json devicesAdd(const Json& params);
    Json devicesRemove(const Json& params);
    Json devicesSetEnabled(const Json& params);
    Json devicesMove(const Json& params);
    Json devicesSetParameter(const Json& params);

    ProjectController* project_;
    TransportController* transport_;
};

}  // namespace ostrel::app
