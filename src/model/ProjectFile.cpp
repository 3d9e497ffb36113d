#include "model/ProjectFile.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <stdexcept>

#include <nlohmann/json.hpp>
#include <simdjson.h>

#include "core/AtomicWriter.h"
#include "core/RegularFile.h"
#include "model/FileReading.h"
#include "model/ProjectMigrations.h"

namespace ostrel::model {

namespace {

using nlohmann::json;
using Element = simdjson::dom::element;
using ElementType = simdjson::dom::element_type;

// Far beyond any real project (records nest seven deep), and shallow enough that the
// library's recursive copy, compare and dump stay well inside a thread's stack.
constexpr int kMaxNesting = 512;

const char* const kFormatName = "ostrel-project";

// Far above any real project (131,072 notes take 28 MB), low enough that reading a wrong
// file (a disk image, a video) is refused from its size before it fills the memory.
constexpr std::uint64_t kMaxProjectFileBytes = 256ull * 1024 * 1024;
const char* const kOutOfMemory = "not enough memory to open the project file";

// ---- Reading --------------------------------------------------------------------------
//
// The text is parsed with simdjson, which is several times faster than building the
// library's tree, and the records are read straight from its document. The values and
// refusals are those of the library's parser: the few forms simdjson refuses but the
// library reads (a byte order mark, integers beyond 64 bits) go through the library's
// tree and come back as text simdjson reads; so does an older file, which is upgraded on
// that tree. Where a key appears twice in one object the last one counts, as in the tree.

// True when arrays and objects nest no deeper than kMaxNesting. Counts brackets outside
// strings; the parser judges everything else.
bool nestingWithinLimit(std::string_view text) {
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxNesting) return false;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return true;
}

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

bool parseDocument(std::string_view text, Project& out, std::string* error, std::vector<std::string>* warnings) {
    simdjson::dom::parser parser;
    std::string rewritten;  // what parser reads when it is not the file's own text
    Element root;
    if (!parseShallow(text, parser, root)) {
        if (!nestingWithinLimit(text)) {
            core::fail(error, "the file nests too deeply to be read");
            return false;
        }
        const json document = json::parse(text, nullptr, /*allow_exceptions=*/false, /*ignore_comments=*/false);
        if (document.is_discarded() || !document.is_object() || !reparse(document, parser, rewritten, root)) {
            core::fail(error, "the file is not valid JSON");
            return false;
        }
    }
    if (!root.is_object()) {
        core::fail(error, "the file is not valid JSON");
        return false;
    }

    auto members = collectMembers(objectOf(root), kProjectKeys);
    const auto format = members[ProjectFormat];
    if (!format || !format->is_string() || format->get_string().value_unsafe() != kFormatName) {
        core::fail(error, "this is not a Ostrel project file");
        return false;
    }

    std::int32_t version = 0;
    if (const auto versionValue = members[ProjectFormatVersion]) {
        switch (readInt32(*versionValue, version)) {
        case WholeNumber::Read:
            break;
        case WholeNumber::OutOfRange:
            core::fail(error, "the format version of the file is out of range");
            return false;
        case WholeNumber::NotANumber:
            core::fail(error, "the format version of the file is not a number");
            return false;
        }
    }
    if (version > kProjectFormatVersion) {
        if (warnings) {
            warnings->push_back("this project was saved by a newer version of Ostrel; unknown parts are kept as they are");
        }
    } else if (version < kProjectFormatVersion) {
        json document = toJson(root);
        std::string reason;
        if (!migrateProject(document, &reason)) {
            core::fail(error, "could not read this project file: " + reason);
            return false;
        }
        if (!reparse(document, parser, rewritten, root)) {
            core::fail(error, "the file is not valid JSON");
            return false;
        }
        members = collectMembers(objectOf(root), kProjectKeys);
        if (warnings) {
            warnings->push_back("this project was upgraded from an older file format (was version " +
                                std::to_string(version) + ")");
        }
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

// ---- Writing --------------------------------------------------------------------------
//
// The text is written as it goes, without building the library's tree, to the same bytes
// the library's dump gives for that tree (indent 2, members in byte order of their keys,
// text outside ASCII as it is, reals in the library's shortest form). Values from extra
// are dumped by the library's own serialiser at their place. Reals and extras use the
// library's detail namespace, so the tests compare the text with the library's dump.

// The strict UTF-8 of the library's dump: no overlong forms, no surrogates, nothing
// above U+10FFFF.
bool isValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        std::uint32_t codePoint = 0;
        if ((lead & 0xE0) == 0xC0) {
            length = 2;
            codePoint = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            codePoint = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            codePoint = lead & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            codePoint = codePoint << 6 | (next & 0x3F);
        }
        if ((length == 2 && codePoint < 0x80) || (length == 3 && codePoint < 0x800) ||
            (length == 4 && (codePoint < 0x10000 || codePoint > 0x10FFFF)) ||
            (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

std::string placeName(const std::string& path) {
    return path.empty() ? "the project" : path;
}

// Finds the first value that a file cannot keep: the library would write a non-finite
// number as null (and the file would not open again) and throws on text that is not UTF-8.
// Member names are checked before their values, so a path in a message is always UTF-8.
bool findUnsavable(const json& value, std::string& path, std::string& reason) {
    switch (value.type()) {
    case json::value_t::object:
        for (const auto& [key, member] : value.items()) {
            if (!isValidUtf8(key)) {
                reason = "a member name in " + placeName(path) + " is not valid UTF-8 text";
                return true;
            }
            const std::size_t mark = path.size();
            if (!path.empty()) path += '.';
            path += key;
            if (findUnsavable(member, path, reason)) return true;
            path.resize(mark);
        }
        return false;
    case json::value_t::array:
        for (std::size_t i = 0; i < value.size(); ++i) {
            const std::size_t mark = path.size();
            path += '[' + std::to_string(i) + ']';
            if (findUnsavable(value[i], path, reason)) return true;
            path.resize(mark);
        }
        return false;
    case json::value_t::number_float:
        if (!std::isfinite(value.get<double>())) {
            reason = "the value at " + placeName(path) + " is not a finite number";
            return true;
        }
        return false;
    case json::value_t::string:
        if (!isValidUtf8(value.get_ref<const std::string&>())) {
            reason = "the text at " + placeName(path) + " is not valid UTF-8";
            return true;
        }
        return false;
    default:
        return false;
    }
}

// Where a value sits in the document, kept on the stack while writing and spelt out
// ("tracks[1].name") only for a message.
struct Place {
    const Place* parent = nullptr;
    std::string_view key;  // of a member; may be empty
    std::size_t index = 0;
    bool isElement = false;  // of an array, at index

    Place member(std::string_view name) const { return {this, name, 0, false}; }
    Place element(std::size_t at) const { return {this, {}, at, true}; }

    std::string path() const {
        if (!parent) return {};
        std::string text = parent->path();
        if (isElement) return text + '[' + std::to_string(index) + ']';
        if (!text.empty()) text += '.';
        return text.append(key);
    }
};

using Serializer = nlohmann::detail::serializer<json>;

class TextWriter {
public:
    TextWriter(std::string& out, std::string& reason)
        : out_(out), reason_(reason), serializer_(nlohmann::detail::output_adapter<char, std::string>(out), ' ') {}

    // One object: open, then members in key order, then close.
    void open(char bracket) {
        out_ += bracket;
        ++depth_;
        first_ = true;
    }

    void close(char bracket) {
        --depth_;
        if (!first_) {
            out_ += '\n';
            indent();
        }
        out_ += bracket;
        first_ = false;
    }

    // A member name; the known ones need no escapes.
    void key(std::string_view name) {
        element();
        out_ += '"';
        out_ += name;
        out_ += "\": ";
    }

    void escapedKey(std::string_view name) {
        element();
        out_ += '"';
        escaped(name);
        out_ += "\": ";
    }

    // Starts the next element of an array, or of an object before its key.
    void element() {
        if (!first_) out_ += ',';
        out_ += '\n';
        indent();
        first_ = false;
    }

    // An id needs neither checks nor escapes.
    void id(const Uuid& value) {
        out_ += '"';
        value.appendTo(out_);
        out_ += '"';
    }

    [[nodiscard]] bool text(std::string_view value, const Place& place) {
        if (!isValidUtf8(value)) return fail("the text at " + placeName(place.path()) + " is not valid UTF-8");
        out_ += '"';
        escaped(value);
        out_ += '"';
        return true;
    }

    [[nodiscard]] bool real(double value, const Place& place) {
        if (!std::isfinite(value)) return fail("the value at " + placeName(place.path()) + " is not a finite number");
        std::array<char, 64> buffer;
        const char* end = nlohmann::detail::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
        out_.append(buffer.data(), static_cast<std::size_t>(end - buffer.data()));
        return true;
    }

    void whole(std::int64_t value) {
        std::array<char, 24> buffer;
        const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
        out_.append(buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data()));
    }

    void flag(bool value) { out_ += value ? "true" : "false"; }

    // A value the library holds, after the same checks the library's strict dump needs.
    [[nodiscard]] bool value(const json& value, const Place& place) {
        std::string path = place.path();
        std::string reason;
        if (findUnsavable(value, path, reason)) return fail(std::move(reason));
        serializer_.dump(value, /*pretty_print=*/true, /*ensure_ascii=*/false, 2, static_cast<unsigned>(depth_ * 2));
        first_ = false;
        return true;
    }

    // Members of extra whose keys sort before the next known key, skipping one equal to
    // it: a known key overwrites its namesake in extra.
    class Extra {
    public:
        Extra(TextWriter& writer, const JsonValue& extra, const Place& place)
            : writer_(writer), place_(place), object_(extra.isObject() ? &extra.get() : nullptr) {
            if (object_) next_ = object_->cbegin();
        }

        [[nodiscard]] bool before(std::string_view known) {
            if (!object_) return true;
            const auto end = object_->cend();
            while (next_ != end && std::string_view(next_.key()) < known) {
                if (!write()) return false;
                ++next_;
            }
            if (next_ != end && std::string_view(next_.key()) == known) ++next_;
            return true;
        }

        [[nodiscard]] bool rest() {
            if (!object_) return true;
            for (; next_ != object_->cend(); ++next_) {
                if (!write()) return false;
            }
            return true;
        }

    private:
        bool write() {
            const std::string& name = next_.key();
            if (!isValidUtf8(name)) {
                return writer_.fail("a member name in " + placeName(place_.path()) + " is not valid UTF-8 text");
            }
            writer_.escapedKey(name);
            return writer_.value(next_.value(), place_.member(name));
        }

        TextWriter& writer_;
        const Place& place_;
        const json* object_;
        json::const_iterator next_;
    };

    bool fail(std::string reason) {
        reason_ = std::move(reason);
        return false;
    }

private:
    void indent() { out_.append(static_cast<std::size_t>(depth_) * 2, ' '); }

    // The library's escapes: quote, backslash and control characters only.
    void escaped(std::string_view value) {
        std::size_t plain = 0;
        for (std::size_t i = 0; i < value.size(); ++i) {
            const auto c = static_cast<unsigned char>(value[i]);
            if (c >= 0x20 && c != '"' && c != '\\') continue;
            out_.append(value.data() + plain, i - plain);
            plain = i + 1;
            switch (c) {
            case '"': out_ += "\\\""; break;
            case '\\': out_ += "\\\\"; break;
            case '\b': out_ += "\\b"; break;
            case '\t': out_ += "\\t"; break;
            case '\n': out_ += "\\n"; break;
            case '\f': out_ += "\\f"; break;
            case '\r': out_ += "\\r"; break;
            default: {
                constexpr char kHex[] = "0123456789abcdef";
                out_ += "\\u00";
                out_ += kHex[c >> 4];
                out_ += kHex[c & 0x0F];
            }
            }
        }
        out_.append(value.data() + plain, value.size() - plain);
    }

    std::string& out_;
    std::string& reason_;
    Serializer serializer_;
    int depth_ = 0;
    bool first_ = true;
};

bool writeNote(TextWriter& w, const Note& note, const Place& place) {
    TextWriter::Extra extra(w, note.extra, place);
    w.open('{');
    if (!extra.before("id")) return false;
    w.key("id");
    w.id(note.id);
    if (!extra.before("length_beats")) return false;
    w.key("length_beats");
    if (!w.real(note.lengthBeats, place.member("length_beats")) || !extra.before("pitch")) return false;
    w.key("pitch");
    w.whole(note.pitch);
    if (!extra.before("start_beats")) return false;
    w.key("start_beats");
    if (!w.real(note.startBeats, place.member("start_beats")) || !extra.before("velocity")) return false;
    w.key("velocity");
    w.whole(note.velocity);
    if (!extra.rest()) return false;
    w.close('}');
    return true;
}

template <typename T>
bool writeList(TextWriter& w, const std::vector<T>& records, bool (*write)(TextWriter&, const T&, const Place&),
               const Place& place) {
    w.open('[');
    for (std::size_t i = 0; i < records.size(); ++i) {
        w.element();
        if (!write(w, records[i], place.element(i))) return false;
    }
    w.close(']');
    return true;
}

bool writeClip(TextWriter& w, const Clip& clip, const Place& place) {
    TextWriter::Extra extra(w, clip.extra, place);
    w.open('{');
    if (clip.audioOffsetSeconds != 0.0) {
        if (!extra.before("audio_offset_seconds")) return false;
        w.key("audio_offset_seconds");
        if (!w.real(clip.audioOffsetSeconds, place.member("audio_offset_seconds"))) return false;
    }
    if (!clip.audioSource.empty()) {
        if (!extra.before("audio_source")) return false;
        w.key("audio_source");
        if (!w.text(clip.audioSource, place.member("audio_source"))) return false;
    }
    if (!extra.before("id")) return false;
    w.key("id");
    w.id(clip.id);
    if (!extra.before("length_beats")) return false;
    w.key("length_beats");
    if (!w.real(clip.lengthBeats, place.member("length_beats")) || !extra.before("name")) return false;
    w.key("name");
    if (!w.text(clip.name, place.member("name")) || !extra.before("notes")) return false;
    w.key("notes");
    if (!writeList(w, clip.notes, writeNote, place.member("notes")) || !extra.before("start_beats")) return false;
    w.key("start_beats");
    if (!w.real(clip.startBeats, place.member("start_beats")) || !extra.rest()) return false;
    w.close('}');
    return true;
}

bool writeDevice(TextWriter& w, const Device& device, const Place& place) {
    TextWriter::Extra extra(w, device.extra, place);
    w.open('{');
    if (!extra.before("device_id")) return false;
    w.key("device_id");
    if (!w.text(device.typeId, place.member("device_id"))) return false;
    if (!device.enabled) {
        if (!extra.before("enabled")) return false;
        w.key("enabled");
        w.flag(false);
    }
    if (!extra.before("id")) return false;
    w.key("id");
    w.id(device.id);
    if (!device.name.empty()) {
        if (!extra.before("name")) return false;
        w.key("name");
        if (!w.text(device.name, place.member("name"))) return false;
    }
    if (!extra.before("parameters")) return false;
    w.key("parameters");
    const Place parameters = place.member("parameters");
    w.open('{');
    for (const auto& [knob, value] : device.parameters) {
        if (!isValidUtf8(knob)) {
            return w.fail("a member name in " + placeName(parameters.path()) + " is not valid UTF-8 text");
        }
        w.escapedKey(knob);
        if (!w.real(value, parameters.member(knob))) return false;
    }
    w.close('}');
    if (!extra.rest()) return false;
    w.close('}');
    return true;
}

bool writeTrack(TextWriter& w, const Track& track, const Place& place) {
    TextWriter::Extra extra(w, track.extra, place);
    w.open('{');
    if (!extra.before("clips")) return false;
    w.key("clips");
    if (!writeList(w, track.clips, writeClip, place.member("clips")) || !extra.before("devices")) return false;
    w.key("devices");
    if (!writeList(w, track.devices, writeDevice, place.member("devices")) || !extra.before("id")) return false;
    w.key("id");
    w.id(track.id);
    const json& config = track.instrumentConfig.get();
    if (config.is_object() && !config.empty()) {
        if (!extra.before("instrument_config")) return false;
        w.key("instrument_config");
        if (!w.value(config, place.member("instrument_config"))) return false;
    }
    if (!track.instrumentPatch.empty()) {
        if (!extra.before("instrument_patch")) return false;
        w.key("instrument_patch");
        if (!w.text(track.instrumentPatch, place.member("instrument_patch"))) return false;
    }
    if (track.kind != kMidiTrackKind) {
        if (!extra.before("kind")) return false;
        w.key("kind");
        if (!w.text(track.kind, place.member("kind"))) return false;
    }
    if (track.muted) {
        if (!extra.before("muted")) return false;
        w.key("muted");
        w.flag(true);
    }
    if (!extra.before("name")) return false;
    w.key("name");
    if (!w.text(track.name, place.member("name"))) return false;
    if (track.solo) {
        if (!extra.before("solo")) return false;
        w.key("solo");
        w.flag(true);
    }
    if (track.volume != 1.0) {
        if (!extra.before("volume")) return false;
        w.key("volume");
        if (!w.real(track.volume, place.member("volume"))) return false;
    }
    if (!extra.rest()) return false;
    w.close('}');
    return true;
}

bool writeProject(TextWriter& w, const Project& project) {
    const Place place;
    TextWriter::Extra extra(w, project.extra(), place);
    w.open('{');
    if (!extra.before("format")) return false;
    w.key("format");
    if (!w.text(kFormatName, place.member("format")) || !extra.before("format_version")) return false;
    w.key("format_version");
    w.whole(kProjectFormatVersion);
    if (!extra.before("id")) return false;
    w.key("id");
    w.id(project.id());
    if (!extra.before("name")) return false;
    w.key("name");
    if (!w.text(project.name(), place.member("name")) || !extra.before("tempo_bpm")) return false;
    w.key("tempo_bpm");
    if (!w.real(project.tempoBpm(), place.member("tempo_bpm")) || !extra.before("tracks")) return false;
    w.key("tracks");
    if (!writeList(w, project.tracks(), writeTrack, place.member("tracks")) || !extra.rest()) return false;
    w.close('}');
    return true;
}

// Room for the whole text up front, so it is not copied while it grows.
std::size_t expectedSize(const Project& project) {
    std::size_t size = 4096;
    for (const Track& track : project.tracks()) {
        size += 512 + 512 * track.devices.size();
        for (const Clip& clip : track.clips) size += 384 + 240 * clip.notes.size();
    }
    return size;
}

bool writeProjectText(const Project& project, std::string& text, std::string* error) {
    std::string out;
    out.reserve(expectedSize(project));
    std::string reason;
    TextWriter writer(out, reason);
    try {
        if (!writeProject(writer, project)) {
            core::fail(error, "cannot save the project: " + reason);
            return false;
        }
    } catch (const json::exception&) {
        core::fail(error, "cannot save the project: it holds text that is not valid UTF-8");
        return false;
    }
    out.push_back('\n');
    text = std::move(out);
    return true;
}

}  // namespace

std::string projectToJsonText(const Project& project) {
    std::string text;
    std::string error;
    if (!writeProjectText(project, text, &error)) throw std::invalid_argument(error);
    return text;
}

bool saveProjectFile(const std::filesystem::path& path, const Project& project, std::string* error) {
    std::string text;
    if (!writeProjectText(project, text, error)) return false;
    return core::writeFileAtomically(path, text, error);
}

bool loadProjectFile(const std::filesystem::path& path, Project& out, std::string* error,
                     std::vector<std::string>* warnings) {
    std::string text;
    const core::DocumentReadTexts texts{"the project file is too large to open (more than 256 MB)", kOutOfMemory};
    if (!core::readDocumentFile(path, kMaxProjectFileBytes, text, texts, error)) {
        return false;
    }
    return parseProject(text, out, error, warnings);
}

bool parseProject(std::string_view text, Project& out, std::string* error, std::vector<std::string>* warnings) {
    try {
        return parseDocument(text, out, error, warnings);
    } catch (const json::exception& exception) {
        // Every lookup above checks its kind first; this only guards against a slip.
        core::fail(error, std::string("the file could not be read: ") + exception.what());
        return false;
    } catch (const std::bad_alloc&) {
        return core::fail(error, kOutOfMemory);
    }
}

}  // namespace ostrel::model
