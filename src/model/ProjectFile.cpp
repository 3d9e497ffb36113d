#include "model/ProjectFile.h"

#include <cmath>
#include <cstdint>
#include <new>
#include <set>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "core/AtomicWriter.h"
#include "core/RegularFile.h"
#include "model/FileReading.h"
#include "model/ProjectMigrations.h"

namespace ostrel::model {

namespace {

using nlohmann::json;

// Far beyond any real project (records nest seven deep), and shallow enough that the
// library's recursive copy, compare and dump stay well inside a thread's stack.
constexpr int kMaxNesting = 512;

const char* const kFormatName = "ostrel-project";

// Far above any real project (131,072 notes take 28 MB), low enough that reading a wrong
// file (a disk image, a video) is refused from its size before it fills the memory.
constexpr std::uint64_t kMaxProjectFileBytes = 256ull * 1024 * 1024;
const char* const kOutOfMemory = "not enough memory to open the project file";

// ---- Reading --------------------------------------------------------------------------

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

// Typed lookups of known keys. A value of the wrong kind fails the load with a message
// naming the record and the key, instead of letting the library's type error escape.
struct Reader {
    const json& object;
    const char* record;  // "the project", "a track", ...
    std::string* error;

    bool fail(const char* key, const char* problem) const {
        core::fail(error, std::string(record) + "'s \"" + key + "\" " + problem);
        return false;
    }

    // The value at key, or fallback when the key is absent; is tells the kind it must be.
    template <typename T>
    bool typed(const char* key, T fallback, T& out, bool (json::*is)() const noexcept, const char* problem) const {
        const auto it = object.find(key);
        if (it == object.end()) {
            out = std::move(fallback);
            return true;
        }
        if (!((*it).*is)()) return fail(key, problem);
        out = it->get<T>();
        return true;
    }

    bool text(const char* key, std::string fallback, std::string& out) const {
        return typed(key, std::move(fallback), out, &json::is_string, "must be text");
    }

    bool number(const char* key, double fallback, double& out) const {
        return typed(key, fallback, out, &json::is_number, "must be a number");
    }

    bool flag(const char* key, bool fallback, bool& out) const {
        return typed(key, fallback, out, &json::is_boolean, "must be true or false");
    }

    // A whole number for a 32-bit field, refused rather than wrapped when out of range.
    bool whole(const char* key, std::int32_t fallback, std::int32_t& out) const {
        const auto it = object.find(key);
        if (it == object.end()) {
            out = fallback;
            return true;
        }
        switch (readInt32(*it, out)) {
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

json collectExtraKeys(const json& object, const std::set<std::string>& known) {
    json extra = json::object();
    for (const auto& [key, value] : object.items()) {
        if (!known.count(key)) extra[key] = value;
    }
    return extra;
}

Uuid readIdOrGenerate(const json& object, std::string_view key) {
    const auto it = object.find(key);
    Uuid id;
    if (it != object.end() && it->is_string() && Uuid::parse(it->get_ref<const std::string&>(), id)) return id;
    return Uuid::generate();
}

const std::set<std::string>& projectKeys() {
    static const std::set<std::string> keys = {"format", "format_version", "id", "name", "tempo_bpm", "tracks"};
    return keys;
}

const std::set<std::string>& trackKeys() {
    static const std::set<std::string> keys = {"id",    "name", "clips",  "devices", "instrument_patch",
                                               "instrument_config", "muted", "solo", "volume", "kind"};
    return keys;
}

const std::set<std::string>& clipKeys() {
    static const std::set<std::string> keys = {"id",           "name",        "start_beats", "length_beats",
                                               "audio_source", "audio_offset_seconds", "notes"};
    return keys;
}

const std::set<std::string>& noteKeys() {
    static const std::set<std::string> keys = {"id", "pitch", "velocity", "start_beats", "length_beats"};
    return keys;
}

const std::set<std::string>& deviceKeys() {
    static const std::set<std::string> keys = {"id", "device_id", "name", "enabled", "parameters"};
    return keys;
}

// Reads each element of array into out, refusing a second record with an id already seen.
template <typename T>
bool readRecords(const json& array, bool (*fromJson)(const json&, T&, std::string*), const char* duplicateMessage,
                 std::vector<T>& out, std::string* error) {
    std::set<Uuid> seen;
    out.reserve(array.size());
    for (const json& element : array) {
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
bool readOptionalRecords(const json& object, const char* key, bool (*fromJson)(const json&, T&, std::string*),
                         const char* duplicateMessage, std::vector<T>& out, std::string* error) {
    out.clear();
    const auto list = object.find(key);
    if (list == object.end() || !list->is_array()) return true;
    return readRecords(*list, fromJson, duplicateMessage, out, error);
}

bool noteFromJson(const json& value, Note& note, std::string* error) {
    if (!value.is_object()) {
        core::fail(error, "a note must be an object");
        return false;
    }
    note.extra = collectExtraKeys(value, noteKeys());
    note.id = readIdOrGenerate(value, "id");
    const Reader read{value, "a note", error};
    return read.whole("pitch", 60, note.pitch) && read.whole("velocity", 100, note.velocity) &&
           read.number("start_beats", 0.0, note.startBeats) && read.number("length_beats", 1.0, note.lengthBeats);
}

bool clipFromJson(const json& value, Clip& clip, std::string* error) {
    if (!value.is_object()) {
        core::fail(error, "a clip must be an object");
        return false;
    }
    clip.extra = collectExtraKeys(value, clipKeys());
    clip.id = readIdOrGenerate(value, "id");
    const Reader read{value, "a clip", error};
    if (!read.text("name", "", clip.name) || !read.number("start_beats", 0.0, clip.startBeats) ||
        !read.number("length_beats", 4.0, clip.lengthBeats) ||
        !read.number("audio_offset_seconds", 0.0, clip.audioOffsetSeconds)) {
        return false;
    }
    const auto source = value.find("audio_source");
    clip.audioSource = source != value.end() && source->is_string() ? source->get<std::string>() : std::string();
    return readOptionalRecords(value, "notes", noteFromJson, "two notes in the same clip share an id", clip.notes,
                               error);
}

bool deviceFromJson(const json& value, Device& device, std::string* error) {
    if (!value.is_object() || !value.contains("device_id") || !value["device_id"].is_string()) {
        core::fail(error, "a device needs a \"device_id\"");
        return false;
    }
    device.extra = collectExtraKeys(value, deviceKeys());
    device.id = readIdOrGenerate(value, "id");
    device.typeId = value["device_id"].get<std::string>();
    const Reader read{value, "a device", error};
    if (!read.text("name", "", device.name)) return false;
    const auto enabled = value.find("enabled");
    device.enabled = enabled != value.end() && enabled->is_boolean() ? enabled->get<bool>() : true;

    device.parameters.clear();
    const auto parameters = value.find("parameters");
    if (parameters != value.end() && parameters->is_object()) {
        for (const auto& [knob, knobValue] : parameters->items()) {
            if (!knobValue.is_number()) {
                core::fail(error, "knob \"" + knob + "\" of device " + device.typeId + " must be a number");
                return false;
            }
            device.parameters.emplace(knob, knobValue.get<double>());
        }
    }
    return true;
}

bool trackFromJson(const json& value, Track& track, std::string* error) {
    if (!value.is_object()) {
        core::fail(error, "a track must be an object");
        return false;
    }
    track.extra = collectExtraKeys(value, trackKeys());
    track.id = readIdOrGenerate(value, "id");
    const Reader read{value, "a track", error};
    if (!read.text("name", "", track.name) || !read.text("instrument_patch", "", track.instrumentPatch) ||
        !read.flag("muted", false, track.muted) || !read.flag("solo", false, track.solo) ||
        !read.number("volume", 1.0, track.volume)) {
        return false;
    }
    const auto config = value.find("instrument_config");
    track.instrumentConfig = config != value.end() && config->is_object() ? JsonValue(*config) : JsonValue();
    const auto kind = value.find("kind");
    track.kind = kind != value.end() && kind->is_string() ? kind->get<std::string>() : std::string(kMidiTrackKind);
    return readOptionalRecords(value, "clips", clipFromJson, "two clips on the same track share an id", track.clips,
                               error) &&
           readOptionalRecords(value, "devices", deviceFromJson, "two devices on the same track share an id",
                               track.devices, error);
}

bool parseDocument(std::string_view text, Project& out, std::string* error, std::vector<std::string>* warnings) {
    if (!nestingWithinLimit(text)) {
        core::fail(error, "the file nests too deeply to be read");
        return false;
    }
    json document = json::parse(text, nullptr, /*allow_exceptions=*/false, /*ignore_comments=*/false);
    if (document.is_discarded() || !document.is_object()) {
        core::fail(error, "the file is not valid JSON");
        return false;
    }

    const auto format = document.find("format");
    if (format == document.end() || !format->is_string() || format->get_ref<const std::string&>() != kFormatName) {
        core::fail(error, "this is not a Ostrel project file");
        return false;
    }

    std::int32_t version = 0;
    if (!readProjectFormatVersion(document, version, error)) return false;
    if (version > kProjectFormatVersion) {
        if (warnings) {
            warnings->push_back("this project was saved by a newer version of Ostrel; unknown parts are kept as they are");
        }
    } else if (version < kProjectFormatVersion) {
        std::string reason;
        if (!migrateProject(document, &reason)) {
            core::fail(error, "could not read this project file: " + reason);
            return false;
        }
        if (warnings) {
            warnings->push_back("this project was upgraded from an older file format (was version " +
                                std::to_string(version) + ")");
        }
    }

    const auto tracksValue = document.find("tracks");
    if (tracksValue == document.end() || !tracksValue->is_array()) {
        core::fail(error, "the project has no list of tracks");
        return false;
    }

    json extra = collectExtraKeys(document, projectKeys());

    std::vector<Track> tracks;
    if (!readRecords(*tracksValue, trackFromJson, "two tracks in the project share an id", tracks, error)) return false;

    const Uuid id = readIdOrGenerate(document, "id");
    const Reader read{document, "the project", error};
    std::string name;
    double tempoBpm = 120.0;
    if (!read.text("name", "Untitled", name) || !read.number("tempo_bpm", 120.0, tempoBpm)) return false;

    out = makeProject(id, std::move(name), tempoBpm, std::move(tracks), std::move(extra));
    return true;
}

// ---- Writing --------------------------------------------------------------------------

json startFrom(const JsonValue& extra) {
    const json& value = extra.get();
    return value.is_object() ? value : json::object();
}

template <typename T>
json listToJson(const std::vector<T>& records, json (*toJson)(const T&)) {
    json list = json::array();
    for (const T& record : records) list.push_back(toJson(record));
    return list;
}

json noteToJson(const Note& note) {
    json object = startFrom(note.extra);
    object["id"] = note.id.toString();
    object["pitch"] = note.pitch;
    object["velocity"] = note.velocity;
    object["start_beats"] = note.startBeats;
    object["length_beats"] = note.lengthBeats;
    return object;
}

json clipToJson(const Clip& clip) {
    json object = startFrom(clip.extra);
    object["id"] = clip.id.toString();
    object["name"] = clip.name;
    object["start_beats"] = clip.startBeats;
    object["length_beats"] = clip.lengthBeats;
    if (!clip.audioSource.empty()) object["audio_source"] = clip.audioSource;
    if (clip.audioOffsetSeconds != 0.0) object["audio_offset_seconds"] = clip.audioOffsetSeconds;
    object["notes"] = listToJson(clip.notes, noteToJson);
    return object;
}

json deviceToJson(const Device& device) {
    json object = startFrom(device.extra);
    object["id"] = device.id.toString();
    object["device_id"] = device.typeId;
    if (!device.name.empty()) object["name"] = device.name;
    if (!device.enabled) object["enabled"] = false;
    json parameters = json::object();
    for (const auto& [knob, value] : device.parameters) parameters[knob] = value;
    object["parameters"] = std::move(parameters);
    return object;
}

json trackToJson(const Track& track) {
    json object = startFrom(track.extra);
    object["id"] = track.id.toString();
    object["name"] = track.name;
    object["clips"] = listToJson(track.clips, clipToJson);
    object["devices"] = listToJson(track.devices, deviceToJson);
    if (!track.instrumentPatch.empty()) object["instrument_patch"] = track.instrumentPatch;
    const json& config = track.instrumentConfig.get();
    if (config.is_object() && !config.empty()) object["instrument_config"] = config;
    if (track.muted) object["muted"] = true;
    if (track.solo) object["solo"] = true;
    if (track.volume != 1.0) object["volume"] = track.volume;
    if (track.kind != kMidiTrackKind) object["kind"] = track.kind;
    return object;
}

json projectToJson(const Project& project) {
    json object = startFrom(project.extra());
    object["format"] = kFormatName;
    object["format_version"] = kProjectFormatVersion;
    object["id"] = project.id().toString();
    object["name"] = project.name();
    object["tempo_bpm"] = project.tempoBpm();
    object["tracks"] = listToJson(project.tracks(), trackToJson);
    return object;
}

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

bool writeProjectText(const Project& project, std::string& text, std::string* error) {
    const json document = projectToJson(project);
    std::string path;
    std::string reason;
    if (findUnsavable(document, path, reason)) {
        core::fail(error, "cannot save the project: " + reason);
        return false;
    }
    try {
        text = document.dump(2, ' ', /*ensure_ascii=*/false, json::error_handler_t::strict);
    } catch (const json::exception&) {
        core::fail(error, "cannot save the project: it holds text that is not valid UTF-8");
        return false;
    }
    text.push_back('\n');
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
    switch (core::readRegularFile(path, kMaxProjectFileBytes, text)) {
    case core::FileReadProblem::None:
        break;
    case core::FileReadProblem::TooLarge:
        return core::fail(error, "the project file is too large to open (more than 256 MB)");
    case core::FileReadProblem::OutOfMemory:
        return core::fail(error, kOutOfMemory);
    case core::FileReadProblem::CannotOpen:
    case core::FileReadProblem::NotRegularFile:  // a folder, a FIFO, a device
    case core::FileReadProblem::ReadFailed:
        return core::fail(error, "cannot open " + path.string());
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
