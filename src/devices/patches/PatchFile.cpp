#include "devices/patches/PatchFile.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <optional>
#include <set>
#include <stdexcept>
#include <utility>

#include <nlohmann/json.hpp>

#include "core/Failure.h"
#include "core/files/AtomicWriter.h"
#include "core/files/JsonText.h"
#include "core/files/RegularFile.h"

namespace ostrel::engine { inline namespace devices {

namespace {

using nlohmann::json;

constexpr const char* kFormat = "ostrel-patch";
constexpr int kFormatVersion = 1;
constexpr int kDefaultVoices = 8;
// Real patches are a few kilobytes; this refuses a wrong file from its size alone.
constexpr std::uint64_t kMaxPatchFileBytes = 16ull * 1024 * 1024;

constexpr const char* kNotJson = "the file is not valid JSON";
constexpr const char* kNotPatch = "this is not a Ostrel patch file";
constexpr const char* kNoModules = "the patch has no list of modules";
constexpr const char* kBadModule = "a module entry needs an integer \"id\" and a \"device\" name";
constexpr const char* kBadCable = "a cable needs \"from\" and \"to\"";
constexpr const char* kOutOfMemory = "not enough memory to open the patch file";
constexpr const char* kNewerVersion = "this patch was saved by a newer version of Ostrel; unknown parts are ignored";

// Whole part of a JSON number, in real arithmetic so that no value wraps on the way.
double wholePart(const json& value) {
    if (value.is_number_unsigned()) return static_cast<double>(value.get<std::uint64_t>());
    if (value.is_number_integer()) return static_cast<double>(value.get<std::int64_t>());
    return std::trunc(value.get<double>());
}

// A JSON number cut toward zero, if the result fits a 32-bit field.
std::optional<int> toInt32(const json& value) {
    if (!value.is_number()) return std::nullopt;
    const double whole = wholePart(value);
    if (whole < std::numeric_limits<std::int32_t>::min() || whole > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<int>(whole);
}

// Ids must be JSON integers (3, not 3.0) that fit 32 bits; checked in 64-bit arithmetic.
std::optional<int> toInt32Id(const json& value) {
    if (value.is_number_unsigned()) {
        const std::uint64_t id = value.get<std::uint64_t>();
        if (id > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) return std::nullopt;
        return static_cast<int>(id);
    }
    if (value.is_number_integer()) {
        const std::int64_t id = value.get<std::int64_t>();
        if (id < std::numeric_limits<std::int32_t>::min() || id > std::numeric_limits<std::int32_t>::max())
            return std::nullopt;
        return static_cast<int>(id);
    }
    return std::nullopt;
}

const json* member(const json& object, const char* key) {
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

// The patch's name, category and voice count, where the file gives them.
std::optional<std::string> readPatchInfo(const json& root, Patch& patch) {
    if (const json* name = member(root, "name")) {
        if (!name->is_string()) return "\"name\" must be text";
        patch.name = name->get<std::string>();
    }
    if (const json* category = member(root, "category")) {
        if (!category->is_string()) return "\"category\" must be text";
        if (!category->get_ref<const std::string&>().empty()) patch.category = category->get<std::string>();
    }
    if (const json* voices = member(root, "voices")) {
        if (!voices->is_number()) return "\"voices\" must be a number";
        patch.voices = static_cast<int>(std::clamp(wholePart(*voices), 1.0, 8.0));
    }
    return std::nullopt;
}

// One entry of "nodes"; ids holds those of the modules before it.
std::optional<std::string> readModule(const json& entry, std::set<int>& ids, Patch& patch) {
    if (!entry.is_object()) return kBadModule;
    const json* id = member(entry, "id");
    const json* device = member(entry, "device");
    if (id == nullptr || device == nullptr || !device->is_string()) return kBadModule;
    const std::optional<int> nodeId = toInt32Id(*id);
    if (!nodeId) return kBadModule;

    PatchNode node;
    node.id = *nodeId;
    node.device = device->get<std::string>();
    if (const json* label = member(entry, "label")) {
        if (!label->is_string()) return "the label of module " + std::to_string(node.id) + " must be text";
        node.label = label->get<std::string>();
    }
    if (!ids.insert(node.id).second) return "two modules share the id " + std::to_string(node.id);

    const json* parameters = member(entry, "parameters");
    if (parameters != nullptr && parameters->is_object()) {
        for (const auto& [key, value] : parameters->items()) {
            if (!value.is_number())
                return "knob \"" + key + "\" of module " + std::to_string(node.id) + " must be a number";
            node.parameters.emplace(key, value.get<double>());
        }
    }
    patch.nodes.push_back(std::move(node));
    return std::nullopt;
}

// One entry of "connections".
std::optional<std::string> readCable(const json& entry, Patch& patch) {
    if (!entry.is_object()) return kBadCable;
    const json* from = member(entry, "from");
    const json* to = member(entry, "to");
    if (from == nullptr || to == nullptr) return kBadCable;
    // An end outside the 32-bit range is refused rather than wrapped onto another module.
    const std::optional<int> fromId = toInt32(*from);
    const std::optional<int> toId = toInt32(*to);
    if (!fromId || !toId) return kBadCable;
    PatchCable cable{*fromId, *toId, 0};
    if (const json* slot = member(entry, "slot")) {
        if (!slot->is_number()) return "a cable's \"slot\" must be a number";
        const std::optional<int> slotNumber = toInt32(*slot);
        if (!slotNumber) return "a cable's \"slot\" is out of range";
        cable.slot = *slotNumber;
    }
    patch.connections.push_back(cable);
    return std::nullopt;
}

// Reads the file's text into a new patch; returns the failure message, if any.
std::optional<std::string> readPatch(std::string_view text, Patch& patch, std::vector<std::string>* warnings) {
    // No exceptions and no comments: a syntax error comes back as a discarded value.
    const json root = json::parse(text.begin(), text.end(), nullptr, false, false);
    if (root.is_discarded() || !root.is_object()) return kNotJson;

    const json* format = member(root, "format");
    if (format == nullptr || !format->is_string() || format->get_ref<const std::string&>() != kFormat)
        return kNotPatch;

    if (const json* version = member(root, "format_version")) {
        if (!version->is_number()) return "\"format_version\" must be a number";
        if (wholePart(*version) >= 2.0 && warnings != nullptr) warnings->push_back(kNewerVersion);
    }

    const json* nodes = member(root, "nodes");
    if (nodes == nullptr || !nodes->is_array()) return kNoModules;
    if (std::optional<std::string> problem = readPatchInfo(root, patch)) return problem;

    std::set<int> ids;
    for (const json& entry : *nodes) {
        if (std::optional<std::string> problem = readModule(entry, ids, patch)) return problem;
    }

    const json* connections = member(root, "connections");
    if (connections != nullptr && connections->is_array()) {
        for (const json& entry : *connections) {
            if (std::optional<std::string> problem = readCable(entry, patch)) return problem;
        }
    }

    if (const json* output = member(root, "output")) {
        if (!output->is_number()) return "\"output\" must be a number";
        const std::optional<int> outputId = toInt32(*output);
        if (!outputId) return "\"output\" is out of range";
        patch.output = *outputId;
    }
    return std::nullopt;
}

// Why the patch could not be written so that it reads back, if it could not.
std::optional<std::string> unsavableReason(const Patch& patch) {
    if (!core::isValidUtf8(patch.name)) return "the patch name is not valid UTF-8 text";
    if (!core::isValidUtf8(patch.category)) return "the patch category is not valid UTF-8 text";
    std::set<int> ids;
    for (const PatchNode& node : patch.nodes) {
        const std::string module = std::to_string(node.id);
        if (!ids.insert(node.id).second) return "two modules share the id " + module;
        if (!core::isValidUtf8(node.device)) return "the device of module " + module + " is not valid UTF-8 text";
        if (!core::isValidUtf8(node.label)) return "the label of module " + module + " is not valid UTF-8 text";
        for (const auto& [key, value] : node.parameters) {
            if (!core::isValidUtf8(key)) return "a knob id of module " + module + " is not valid UTF-8 text";
            // JSON has no infinities or NaN; the library would write null, which no reader accepts.
            if (!std::isfinite(value))
                return "knob \"" + key + "\" of module " + module + " is not a finite number";
        }
    }
    return std::nullopt;
}

}  // namespace

std::string serializePatch(const Patch& patch) {
    if (const std::optional<std::string> reason = unsavableReason(patch)) throw std::invalid_argument(*reason);

    json root = json::object();
    root["format"] = kFormat;
    root["format_version"] = kFormatVersion;
    root["name"] = patch.name;
    root["category"] = patch.category;
    if (patch.voices != kDefaultVoices) root["voices"] = patch.voices;

    json nodes = json::array();
    for (const PatchNode& node : patch.nodes) {
        json entry = json::object();
        entry["id"] = node.id;
        entry["device"] = node.device;
        if (!node.label.empty()) entry["label"] = node.label;
        json parameters = json::object();
        for (const auto& [key, value] : node.parameters) parameters[key] = value;  // always a real: 8.0
        entry["parameters"] = std::move(parameters);
        nodes.push_back(std::move(entry));
    }
    root["nodes"] = std::move(nodes);

    json connections = json::array();
    for (const PatchCable& cable : patch.connections)
        connections.push_back(json{{"from", cable.from}, {"to", cable.to}, {"slot", cable.slot}});
    root["connections"] = std::move(connections);
    root["output"] = patch.output;

    return root.dump(2, ' ', false, json::error_handler_t::strict) + "\n";
}

bool savePatchFile(const std::filesystem::path& path, const Patch& patch, std::string* error) {
    if (const std::optional<std::string> reason = unsavableReason(patch)) {
        if (error != nullptr) *error = *reason;
        return false;
    }
    return core::writeFileAtomically(path, serializePatch(patch), error);
}

bool parsePatch(std::string_view text, Patch& out, std::string* error, std::vector<std::string>* warnings) {
    try {
        Patch patch;
        if (const std::optional<std::string> failure = readPatch(text, patch, warnings)) {
            return core::fail(error, *failure);
        }
        out = std::move(patch);
        return true;
    } catch (const std::bad_alloc&) {
        return core::fail(error, kOutOfMemory);
    }
}

bool loadPatchFile(const std::filesystem::path& path, Patch& out, std::string* error,
                   std::vector<std::string>* warnings) {
    std::string text;
    const core::DocumentReadTexts texts{"the patch file is too large to open (more than 16 MB)", kOutOfMemory};
    if (!core::readDocumentFile(path, kMaxPatchFileBytes, text, texts, error)) {
        return false;
    }
    return parsePatch(text, out, error, warnings);
}

} }  // namespace ostrel::engine::devices
