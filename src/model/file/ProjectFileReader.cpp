#include "model/file/ProjectFileReader.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include <nlohmann/json.hpp>
#include <simdjson.h>

#include "core/Failure.h"
#include "core/files/JsonText.h"
#include "model/file/FileReading.h"
#include "model/file/ProjectMigrations.h"

namespace ostrel::model {

namespace {

using nlohmann::json;
using Element = simdjson::dom::element;
using ElementType = simdjson::dom::element_type;

// Far beyond any real project (records nest seven deep), and shallow enough that the
// library's recursive copy, compare and dump stay well inside a thread's stack.
constexpr int kMaxNesting = 512;

// The text is parsed with simdjson, which is several times faster than building the
// library's tree, and the records are read straight from its document. The values and
// refusals are those of the library's parser: the few forms simdjson refuses but the
// library reads (a byte order mark, integers beyond 64 bits) go through the library's
// tree and come back as text simdjson reads; so does an older file, which is upgraded on
// that tree. Where a key appears twice in one object the last one counts, as in the tree.

// The array or object an element holds, which the caller has checked it to be.
simdjson::dom::array arrayOf(Element value) {
    auto array = value.get_array();
    return array.value_unsafe();
}

simdjson::dom::object objectOf(Element value) {
    auto object = value.get_object();
    return object.value_unsafe();
}

bool isNumber(Element value) {
    const ElementType type = value.type();
    return type == ElementType::INT64 || type == ElementType::UINT64 || type == ElementType::DOUBLE;
}

double toDouble(Element value) {
    switch (value.type()) {
    case ElementType::INT64:
        return static_cast<double>(value.get_int64().value_unsafe());
    case ElementType::UINT64:
        return static_cast<double>(value.get_uint64().value_unsafe());
    default:
        return value.get_double().value_unsafe();
    }
}

// The library's value for an element, kinds included: the library reads a whole number
// without a sign as unsigned.
json toJson(Element value) {
    switch (value.type()) {
    case ElementType::ARRAY: {
        json array = json::array();
        for (const Element element : arrayOf(value)) array.push_back(toJson(element));
        return array;
    }
    case ElementType::OBJECT: {
        json object = json::object();
        for (const auto& member : objectOf(value)) object[std::string(member.key)] = toJson(member.value);
        return object;
    }
    case ElementType::INT64: {
        const std::int64_t number = value.get_int64().value_unsafe();
        return number >= 0 ? json(static_cast<std::uint64_t>(number)) : json(number);
    }
    case ElementType::UINT64:
        return json(value.get_uint64().value_unsafe());
    case ElementType::DOUBLE:
        return json(value.get_double().value_unsafe());
    case ElementType::STRING:
        return json(std::string(value.get_string().value_unsafe()));
    case ElementType::BOOL:
        return json(value.get_bool().value_unsafe());
    case ElementType::NULL_VALUE:
        break;
    }
    return json(nullptr);
}

// readInt32 of FileReading, for an element.
WholeNumber readInt32(Element value, std::int32_t& out) {
    constexpr auto kLowest = std::numeric_limits<std::int32_t>::min();
    constexpr auto kHighest = std::numeric_limits<std::int32_t>::max();
    switch (value.type()) {
    case ElementType::UINT64: {
        const std::uint64_t number = value.get_uint64().value_unsafe();
        if (number > static_cast<std::uint64_t>(kHighest)) return WholeNumber::OutOfRange;
        out = static_cast<std::int32_t>(number);
        return WholeNumber::Read;
    }
    case ElementType::INT64: {
        const std::int64_t number = value.get_int64().value_unsafe();
        if (number < kLowest || number > kHighest) return WholeNumber::OutOfRange;
        out = static_cast<std::int32_t>(number);
        return WholeNumber::Read;
    }
    case ElementType::DOUBLE: {
        const double number = std::trunc(value.get_double().value_unsafe());
        if (!(number >= kLowest && number <= kHighest)) return WholeNumber::OutOfRange;
        out = static_cast<std::int32_t>(number);
        return WholeNumber::Read;
    }
    default:
        return WholeNumber::NotANumber;
    }
}

// The members of one record's object: the known keys, each in its slot, and the rest as
// the record's extra, all in one pass.
template <std::size_t N>
struct Members {
    std::array<std::optional<Element>, N> slots;
    json extra;  // null until an unknown key is met

    std::optional<Element> operator[](std::size_t index) const { return slots[index]; }
    JsonValue takeExtra() { return extra.is_null() ? JsonValue() : JsonValue(std::move(extra)); }
};

template <std::size_t N>
Members<N> collectMembers(simdjson::dom::object object, const std::array<std::string_view, N>& known) {
    Members<N> members;
    for (const auto& member : object) {
        std::size_t index = 0;
        while (index < N && known[index] != member.key) ++index;
        if (index < N) {
            members.slots[index] = member.value;
        } else {
            if (members.extra.is_null()) members.extra = json::object();
            members.extra[std::string(member.key)] = toJson(member.value);
        }
    }
    return members;
}

Uuid readIdOrGenerate(std::optional<Element> value) {
    Uuid id;
    if (value && value->is_string() && Uuid::parse(value->get_string().value_unsafe(), id)) return id;
    return Uuid::generate();
}

// Typed reads of known keys. A value of the wrong kind fails the load with a message
// naming the record and the key.
struct Reader {
    const char* record;  // "the project", "a track", ...
    std::string* error;

    bool fail(std::string_view key, const char* problem) const {
        core::fail(error, std::string(record) + "'s \"" + std::string(key) + "\" " + problem);
        return false;
    }

    bool text(std::optional<Element> value, std::string_view key, std::string_view fallback, std::string& out) const {
        if (!value) {
            out = fallback;
            return true;
        }
        if (!value->is_string()) return fail(key, "must be text");
        out = value->get_string().value_unsafe();
        return true;
    }

    bool number(std::optional<Element> value, std::string_view key, double fallback, double& out) const {
        if (!value) {
            out = fallback;
            return true;
        }
        if (!isNumber(*value)) return fail(key, "must be a number");
        out = toDouble(*value);
        return true;
    }

    bool flag(std::optional<Element> value, std::string_view key, bool fallback, bool& out) const {
        if (!value) {
            out = fallback;
            return true;
        }
        if (!value->is_bool()) return fail(key, "must be true or false");
        out = value->get_bool().value_unsafe();
        return true;
    }

    // A whole number for a 32-bit field, refused rather than wrapped when out of range.
    bool whole(std::optional<Element> value, std::string_view key, std::int32_t fallback, std::int32_t& out) const {
        if (!value) {
            out = fallback;
            return true;
        }
        switch (readInt32(*value, out)) {
        case WholeNumber::Read:
            return true;
        case WholeNumber::OutOfRange:
            return fail(key, "is out of range");
        case WholeNumber::NotANumber:
            break;
        }
        return fail(key, "must be a number");
    }
};

constexpr std::array<std::string_view, 6> kProjectKeys = {"format", "format_version", "id",
                                                          "name",   "tempo_bpm",      "tracks"};
enum ProjectKey { ProjectFormat, ProjectFormatVersion, ProjectId, ProjectName, ProjectTempo, ProjectTracks };

constexpr std::array<std::string_view, 10> kTrackKeys = {
    "id", "name", "clips", "devices", "instrument_patch", "instrument_config", "muted", "solo", "volume", "kind"};
enum TrackKey {
    TrackId, TrackName, TrackClips, TrackDevices, TrackPatch, TrackConfig, TrackMuted, TrackSolo, TrackVolume, TrackKind
};

constexpr std::array<std::string_view, 7> kClipKeys = {
    "id", "name", "start_beats", "length_beats", "audio_source", "audio_offset_seconds", "notes"};
enum ClipKey { ClipId, ClipName, ClipStart, ClipLength, ClipSource, ClipOffset, ClipNotes };

constexpr std::array<std::string_view, 5> kNoteKeys = {"id", "pitch", "velocity", "start_beats", "length_beats"};
enum NoteKey { NoteId, NotePitch, NoteVelocity, NoteStart, NoteLength };

constexpr std::array<std::string_view, 5> kDeviceKeys = {"id", "device_id", "name", "enabled", "parameters"};
enum DeviceKey { DeviceId, DeviceTypeId, DeviceName, DeviceEnabled, DeviceParameters };

// Reads each element of array into out, refusing a second record with an id already seen.
template <typename T>
bool readRecords(simdjson::dom::array array, bool (*fromJson)(Element, T&, std::string*),
                 const char* duplicateMessage, std::vector<T>& out, std::string* error) {
    std::set<Uuid> seen;
    out.reserve(array.size());
    for (const Element element : array) {
        T record;
        if (!fromJson(element, record, error)) return false;
        if (!seen.insert(record.id).second) {
            core::fail(error, duplicateMessage);
            return false;
        }
        out.push_back(std::move(record));
    }
    return true;
}

// The same for an optional list: a missing key or a value that is not an array reads as none.
template <typename T>
bool readOptionalRecords(std::optional<Element> list, bool (*fromJson)(Element, T&, std::string*),
                         const char* duplicateMessage, std::vector<T>& out, std::string* error) {
    out.clear();
    if (!list || !list->is_array()) return true;
    return readRecords(arrayOf(*list), fromJson, duplicateMessage, out, error);
}

bool noteFromJson(Element value, Note& note, std::string* error) {
    if (!value.is_object()) {
        core::fail(error, "a note must be an object");
        return false;
    }
    auto members = collectMembers(objectOf(value), kNoteKeys);
    note.extra = members.takeExtra();
    note.id = readIdOrGenerate(members[NoteId]);
    const Reader read{"a note", error};
    return read.whole(members[NotePitch], "pitch", 60, note.pitch) &&
           read.whole(members[NoteVelocity], "velocity", 100, note.velocity) &&
           read.number(members[NoteStart], "start_beats", 0.0, note.startBeats) &&
           read.number(members[NoteLength], "length_beats", 1.0, note.lengthBeats);
}

bool clipFromJson(Element value, Clip& clip, std::string* error) {
    if (!value.is_object()) {
        core::fail(error, "a clip must be an object");
        return false;
    }
    auto members = collectMembers(objectOf(value), kClipKeys);
    clip.extra = members.takeExtra();
    clip.id = readIdOrGenerate(members[ClipId]);
    const Reader read{"a clip", error};
    if (!read.text(members[ClipName], "name", "", clip.name) ||
        !read.number(members[ClipStart], "start_beats", 0.0, clip.startBeats) ||
        !read.number(members[ClipLength], "length_beats", 4.0, clip.lengthBeats) ||
        !read.number(members[ClipOffset], "audio_offset_seconds", 0.0, clip.audioOffsetSeconds)) {
        return false;
    }
    const auto source = members[ClipSource];
    clip.audioSource = source && source->is_string() ? std::string(source->get_string().value_unsafe()) : std::string();
    return readOptionalRecords(members[ClipNotes], noteFromJson, "two notes in the same clip share an id",
                               clip.notes, error);
}

bool deviceFromJson(Element value, Device& device, std::string* error) {
    if (!value.is_object()) {
        core::fail(error, "a device needs a \"device_id\"");
        return false;
    }
    auto members = collectMembers(objectOf(value), kDeviceKeys);
    if (!members[DeviceTypeId] || !members[DeviceTypeId]->is_string()) {
        core::fail(error, "a device needs a \"device_id\"");
        return false;
    }
    device.extra = members.takeExtra();
    device.id = readIdOrGenerate(members[DeviceId]);
    device.typeId = members[DeviceTypeId]->get_string().value_unsafe();
    const Reader read{"a device", error};
    if (!read.text(members[DeviceName], "name", "", device.name)) return false;
    const auto enabled = members[DeviceEnabled];
    device.enabled = enabled && enabled->is_bool() ? enabled->get_bool().value_unsafe() : true;

    device.parameters.clear();
    const auto parameters = members[DeviceParameters];
    if (parameters && parameters->is_object()) {
        // Knobs are judged in key order, the last of equal keys counting.
        std::map<std::string_view, Element> knobs;
        for (const auto& member : objectOf(*parameters)) knobs.insert_or_assign(member.key, member.value);
        for (const auto& [knob, knobValue] : knobs) {
            if (!isNumber(knobValue)) {
                core::fail(error, "knob \"" + std::string(knob) + "\" of device " + device.typeId + " must be a number");
                return false;
            }
            device.parameters.emplace(knob, toDouble(knobValue));
        }
    }
    return true;
}

bool trackFromJson(Element value, Track& track, std::string* error) {
    if (!value.is_object()) {
        core::fail(error, "a track must be an object");
        return false;
    }
    auto members = collectMembers(objectOf(value), kTrackKeys);
    track.extra = members.takeExtra();
    track.id = readIdOrGenerate(members[TrackId]);
    const Reader read{"a track", error};
    if (!read.text(members[TrackName], "name", "", track.name) ||
        !read.text(members[TrackPatch], "instrument_patch", "", track.instrumentPatch) ||
        !read.flag(members[TrackMuted], "muted", false, track.muted) ||
        !read.flag(members[TrackSolo], "solo", false, track.solo) ||
        !read.number(members[TrackVolume], "volume", 1.0, track.volume)) {
        return false;
    }
    const auto config = members[TrackConfig];
    track.instrumentConfig = config && config->is_object() ? JsonValue(toJson(*config)) : JsonValue();
    const auto kind = members[TrackKind];
    track.kind = kind && kind->is_string() ? std::string(kind->get_string().value_unsafe()) : std::string(kMidiTrackKind);
    return readOptionalRecords(members[TrackClips], clipFromJson, "two clips on the same track share an id",
                               track.clips, error) &&
           readOptionalRecords(members[TrackDevices], deviceFromJson, "two devices on the same track share an id",
                               track.devices, error);
}

// A parser that refuses what nests deeper than kMaxNesting. simdjson counts a scalar
// inside the innermost bracket as one more level, so such a document at exactly the limit
// is refused too and goes the slower way, which counts brackets.
bool parseShallow(std::string_view text, simdjson::dom::parser& parser, Element& root) {
    return parser.allocate(text.size(), kMaxNesting) == simdjson::SUCCESS &&
           parser.parse(text.data(), text.size()).get(root) == simdjson::SUCCESS;
}

// The document as compact text that simdjson reads, parsed into parser. A tree the
// library built or changed always gives such text, and it nests no deeper than the
// text it came from, which was checked.
bool reparse(const json& document, simdjson::dom::parser& parser, std::string& text, Element& root) {
    text = document.dump();
    return parser.allocate(text.size(), kMaxNesting + 2) == simdjson::SUCCESS &&
           parser.parse(text.data(), text.size()).get(root) == simdjson::SUCCESS;
}

// The text parsed into parser, through the library's tree when simdjson alone refuses it;
// fails when it is not JSON, nests too deeply or is not an object.
bool parseRoot(std::string_view text, simdjson::dom::parser& parser, std::string& rewritten, Element& root,
               std::string* error) {
    if (!parseShallow(text, parser, root)) {
        if (!core::nestingWithin(text, kMaxNesting)) {
            return core::fail(error, "the file nests too deeply to be read");
        }
        const json document = json::parse(text, nullptr, /*allow_exceptions=*/false, /*ignore_comments=*/false);
        if (document.is_discarded() || !document.is_object() || !reparse(document, parser, rewritten, root)) {
            return core::fail(error, "the file is not valid JSON");
        }
    }
    if (!root.is_object()) {
        return core::fail(error, "the file is not valid JSON");
    }
    return true;
}

// The file's "format_version", 0 when it has none.
bool readFormatVersion(std::optional<Element> value, std::int32_t& version, std::string* error) {
    if (!value) {
        return true;
    }
    switch (readInt32(*value, version)) {
    case WholeNumber::Read:
        break;
    case WholeNumber::OutOfRange:
        return core::fail(error, "the format version of the file is out of range");
    case WholeNumber::NotANumber:
        return core::fail(error, "the format version of the file is not a number");
    }
    return true;
}

// An older file upgraded on the library's tree and parsed again, its members collected anew.
bool upgrade(std::int32_t version, simdjson::dom::parser& parser, std::string& rewritten, Element& root,
             Members<kProjectKeys.size()>& members, std::string* error, std::vector<std::string>* warnings) {
    json document = toJson(root);
    std::string reason;
    if (!migrateProject(document, &reason)) {
        return core::fail(error, "could not read this project file: " + reason);
    }
    if (!reparse(document, parser, rewritten, root)) {
        return core::fail(error, "the file is not valid JSON");
    }
    members = collectMembers(objectOf(root), kProjectKeys);
    if (warnings) {
        warnings->push_back("this project was upgraded from an older file format (was version " +
                            std::to_string(version) + ")");
    }
    return true;
}

}  // namespace

bool readProjectText(std::string_view text, Project& out, std::string* error, std::vector<std::string>* warnings) {
    simdjson::dom::parser parser;
    std::string rewritten;  // what parser reads when it is not the file's own text
    Element root;
    if (!parseRoot(text, parser, rewritten, root, error)) {
        return false;
    }

    auto members = collectMembers(objectOf(root), kProjectKeys);
    const auto format = members[ProjectFormat];
    if (!format || !format->is_string() || format->get_string().value_unsafe() != kProjectFormatName) {
        core::fail(error, "this is not a Ostrel project file");
        return false;
    }

    std::int32_t version = 0;
    if (!readFormatVersion(members[ProjectFormatVersion], version, error)) {
        return false;
    }
    if (version > kProjectFormatVersion) {
        if (warnings) {
            warnings->push_back("this project was saved by a newer version of Ostrel; unknown parts are kept as they are");
        }
    } else if (version < kProjectFormatVersion &&
               !upgrade(version, parser, rewritten, root, members, error, warnings)) {
        return false;
    }

    const auto tracksValue = members[ProjectTracks];
    if (!tracksValue || !tracksValue->is_array()) {
        core::fail(error, "the project has no list of tracks");
        return false;
    }

    std::vector<Track> tracks;
    if (!readRecords(arrayOf(*tracksValue), trackFromJson, "two tracks in the project share an id",
                     tracks, error)) {
        return false;
    }

    const Uuid id = readIdOrGenerate(members[ProjectId]);
    const Reader read{"the project", error};
    std::string name;
    double tempoBpm = 120.0;
    if (!read.text(members[ProjectName], "name", "Untitled", name) ||
        !read.number(members[ProjectTempo], "tempo_bpm", 120.0, tempoBpm)) {
        return false;
    }

    out = makeProject(id, std::move(name), tempoBpm, std::move(tracks), members.takeExtra());
    return true;
}

}  // namespace ostrel::model
