#include "core/settings/SettingsStore.h"

#include "core/BuildInfo.h"
#include "core/Failure.h"
#include "core/files/AtomicWriter.h"
#include "core/files/JsonText.h"
#include "core/files/PathSuffix.h"
#include "core/files/PrivateFolder.h"
#include "core/files/RegularFile.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <limits>
#include <new>
#include <stdexcept>
#include <system_error>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>
#include <utility>

#include <nlohmann/json.hpp>

namespace ostrel::core {
namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr std::int64_t kFormatVersion = 1;

// Deeper JSON than this is refused as unreadable: nlohmann's dump and copy recurse
// once per level, so a hand-made file nested a million deep would overflow the stack.
// Our own files nest three deep.
constexpr int kMaxNesting = 256;

// A settings file is a few kilobytes; one larger than this is damaged or not ours.
constexpr std::uint64_t kMaxSettingsFileBytes = 16ull * 1024 * 1024;

const char* const kNotAFileWarning =
    "settings file is not a regular file (a folder, a device or a pipe); it was left alone and defaults were used";

fs::path badPathFor(const fs::path& file) { return withSuffix(file, ".bad"); }

bool isMissing(const fs::path& file) {
    std::error_code ignored;
    return fs::status(file, ignored).type() == fs::file_type::not_found;
}

// The file at its name, opened as a judged one comes: nothing there, or a link to nothing,
// is missing.
JudgedFile openByName(const fs::path& file) {
    JudgedFile opened;
    opened.fd.reset(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    const int code = errno;
    if (opened.fd) {
        opened.kind = JudgedFile::Kind::Open;
    } else if (code != ENOENT && code != ENOTDIR) {
        opened.kind = JudgedFile::Kind::Unopenable;
        opened.error = code;
    }
    return opened;
}

// A folder, a device, a FIFO or a socket at the settings path is not ours to move or
// replace. A link counts as what it points to, unless it is to be replaced itself.
bool isOtherThanAFile(const fs::path& file, AtomicWriteOptions::LinkAtTarget link = {}) {
    std::error_code ec;
    const fs::file_type type = (link == AtomicWriteOptions::LinkAtTarget::Replace ? fs::symlink_status(file, ec)
                                                                                   : fs::status(file, ec))
                                   .type();
    return !ec && type != fs::file_type::regular && type != fs::file_type::not_found &&
           type != fs::file_type::symlink;
}

// Replaces file + ".bad" with file. False when file is still in place afterwards.
bool moveAside(const fs::path& file, std::error_code& ec) {
    const fs::path bad = badPathFor(file);
    std::error_code ignored;
    fs::remove(bad, ignored);
    fs::rename(file, bad, ec);
    return !ec;
}

bool sameFile(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    const fs::path left = fs::absolute(a, ec).lexically_normal();
    const fs::path right = fs::absolute(b, ec).lexically_normal();
    if (!ec && left == right) {
        return true;
    }
    return fs::equivalent(a, b, ec) && !ec;
}

json toJson(const SettingValue& value) {
    return std::visit([](const auto& held) { return json(held); }, value);
}

// Strict dump: nlohmann throws on text that is not valid UTF-8.
bool dumps(const json& value, std::string& text, int indent) {
    try {
        text = value.dump(indent, ' ', false, json::error_handler_t::strict);
        return true;
    } catch (const json::exception&) {
        return false;
    }
}

// What reading the settings file gave.
enum class SettingsRead {
    Readable,    // root is an object whose "values" is an object
    Unreadable,  // damaged, too large, not JSON or not ours
    NotAFile,    // a folder, a device or a pipe: left alone
};

// Reads and parses the file open at judged into root, through opened, which is left open on
// the file read; why says what made it unreadable. Throws std::bad_alloc when memory runs out.
SettingsRead readSettingsJson(UniqueFd judged, RegularFile& opened, json& root, std::string& why) {
    std::string bytes;
    FileReadProblem problem = opened.adopt(std::move(judged), kMaxSettingsFileBytes);
    if (problem == FileReadProblem::None) {
        problem = readWhole(opened, kMaxSettingsFileBytes, bytes);
    }
    switch (problem) {
    case FileReadProblem::None:
        break;
    case FileReadProblem::NotRegularFile:
        return SettingsRead::NotAFile;
    case FileReadProblem::OutOfMemory:
        throw std::bad_alloc();
    case FileReadProblem::TooLarge:
        why = "it is larger than " + std::to_string(kMaxSettingsFileBytes) + " bytes";
        return SettingsRead::Unreadable;
    case FileReadProblem::CannotOpen:
    case FileReadProblem::ReadFailed:
        why = whyNotRead(problem, opened.systemError());
        return SettingsRead::Unreadable;
    }
    why = "it holds no settings in JSON";
    if (!core::nestingWithin(bytes, kMaxNesting)) {
        return SettingsRead::Unreadable;
    }
    root = json::parse(bytes, nullptr, /*allow_exceptions=*/false, /*ignore_comments=*/false);
    const auto values = root.is_object() ? root.find("values") : root.end();
    const bool readable = root.is_object() && values != root.end() && values->is_object();
    return readable ? SettingsRead::Readable : SettingsRead::Unreadable;
}

// A format_version that is not a number, or one above ours, is worth a warning.
void warnAboutVersion(const json& root, std::vector<std::string>& warnings) {
    bool newer = false;
    const auto version = root.find("format_version");
    if (version != root.end()) {
        switch (version->type()) {
        case json::value_t::number_integer:
            newer = version->get<std::int64_t>() > kFormatVersion;
            break;
        case json::value_t::number_unsigned:
            newer = version->get<std::uint64_t>() > static_cast<std::uint64_t>(kFormatVersion);
            break;
        case json::value_t::number_float:
            // Read as an integer, truncated; compared as a double so a huge value cannot overflow.
            newer = !(version->get<double>() < static_cast<double>(kFormatVersion + 1));
            break;
        case json::value_t::boolean:
            break;
        default:
            warnings.push_back("settings file has a format_version that is not a number; it was read as version 1");
            break;
        }
    }
    if (newer) {
        warnings.push_back(
            "settings file was written by a newer version of Ostrel; unknown settings are kept as they are");
    }
}

}  // namespace

SettingsStore::SettingsStore(const SettingsRegistry& registry) : registry_(&registry) {}

const SettingValue& SettingsStore::value(std::string_view key) const {
    const SettingDef* def = registry_->findDefinition(key);
    if (def == nullptr) {
        throw std::out_of_range("unknown setting: " + std::string(key));
    }
    const auto found = values_.find(key);
    return found != values_.end() ? found->second : def->defaultValue;
}

bool SettingsStore::getBool(std::string_view key) const { return std::get<bool>(value(key)); }

std::int64_t SettingsStore::getInt(std::string_view key) const { return std::get<std::int64_t>(value(key)); }

const std::string& SettingsStore::getString(std::string_view key) const { return std::get<std::string>(value(key)); }

bool SettingsStore::isDefault(std::string_view key) const { return values_.find(key) == values_.end(); }

bool SettingsStore::set(std::string_view key, SettingValue value, std::string* error) {
    const SettingDef* def = registry_->findDefinition(key);
    if (def == nullptr) {
        return fail(error, "unknown setting: " + std::string(key));
    }
    if (!def->validate(value, error)) {
        return false;
    }
    const auto found = values_.find(key);
    const SettingValue& current = found != values_.end() ? found->second : def->defaultValue;
    if (value == current) {
        return true;
    }
    if (value == def->defaultValue) {
        values_.erase(found);
    } else {
        values_.insert_or_assign(std::string(key), std::move(value));
    }
    return true;
}

std::vector<std::string> SettingsStore::load(const fs::path& file) {
    judgedName_.clear();
    return loadJudged(file, openByName(file));
}

std::vector<std::string> SettingsStore::load(const fs::path& file, JudgedFile judged) {
    judgedName_ = file;
    return loadJudged(file, std::move(judged));
}

std::vector<std::string> SettingsStore::loadJudged(const fs::path& file, JudgedFile judged) {
    saveTarget_ = file;
    try {
        return loadValues(file, std::move(judged));
    } catch (const std::bad_alloc&) {
        values_.clear();
        unknownValues_.clear();
        loaded_.close();
        // Saving defaults over it would lose settings that may well be fine.
        unmovedFile_ = file;
        return {"not enough memory to read the settings file; defaults were used and it will not be overwritten"};
    }
}

std::vector<std::string> SettingsStore::loadValues(const fs::path& file, JudgedFile judged) {
    std::vector<std::string> warnings;
    unmovedFile_.clear();
    loaded_.close();
    values_.clear();
    unknownValues_.clear();
    if (judged.kind == JudgedFile::Kind::Missing) {
        return warnings;
    }

    json root;
    std::string why;
    SettingsRead read = SettingsRead::NotAFile;
    if (judged.kind == JudgedFile::Kind::Open) {
        read = readSettingsJson(std::move(judged.fd), loaded_, root, why);
    } else if (judged.kind == JudgedFile::Kind::Unopenable) {
        read = SettingsRead::Unreadable;
        why = systemMessage(judged.error);
    }
    if (read != SettingsRead::Readable) {
        loaded_.close();
    }
    if (read == SettingsRead::NotAFile) {
        warnings.push_back(kNotAFileWarning);
        return warnings;
    }
    if (read == SettingsRead::Unreadable && isOtherThanAFile(file)) {
        // It turned into something else since it was opened, or cannot be looked at.
        warnings.push_back(kNotAFileWarning);
        return warnings;
    }
    if (read == SettingsRead::Unreadable) {
        setAside(file, why, warnings);
        return warnings;
    }

    warnAboutVersion(root, warnings);
    takeValues(*root.find("values"), warnings);
    if (!judged.realPath.empty()) {
        saveTarget_ = std::move(judged.realPath);
    }
    return warnings;
}

void SettingsStore::setAside(const fs::path& file, const std::string& why, std::vector<std::string>& warnings) {
    std::error_code moveError;
    if (moveAside(file, moveError)) {
        warnings.push_back("settings file was unreadable (" + why + "); kept as " +
                           badPathFor(file).filename().string() + " and defaults were used");
    } else {
        // Saving defaults over it now would destroy the only copy of the user's settings.
        unmovedFile_ = file;
        warnings.push_back("settings file was unreadable (" + why + ") and could not be moved aside (" +
                           moveError.message() + "); defaults were used and it will not be overwritten");
    }
}

void SettingsStore::takeValues(const json& values, std::vector<std::string>& warnings) {
    for (auto entry = values.begin(); entry != values.end(); ++entry) {
        const std::string& key = entry.key();
        const SettingDef* def = registry_->findDefinition(key);
        if (def == nullptr) {
            std::string text;
            if (dumps(entry.value(), text, -1)) {
                unknownValues_.emplace(key, std::move(text));
            }
            continue;
        }
        SettingValue value;
        if (!settingValueFromJson(*def, entry.value(), value)) {
            warnings.push_back("ignored invalid value for " + key);
            continue;
        }
        std::string message;
        if (!def->validate(value, &message)) {
            warnings.push_back("ignored invalid value for " + key + " (" + message + ")");
            continue;
        }
        if (!(value == def->defaultValue)) {
            values_.insert_or_assign(key, std::move(value));
        }
    }
}

std::string SettingsStore::toJsonText(std::string* error) const {
    json values = json::object();
    for (const auto& [key, value] : values_) {
        values[key] = toJson(value);
    }
    for (const auto& [key, text] : unknownValues_) {
        json parsed = json::parse(text, nullptr, false, false);
        if (!parsed.is_discarded()) {
            values[key] = std::move(parsed);
        }
    }
    json root = json::object();
    root["app_version"] = std::string(buildInfo().version);
    root["format_version"] = kFormatVersion;
    root["values"] = std::move(values);

    std::string text;
    if (!dumps(root, text, 2)) {
        // Only a text setting can hold bytes that are not UTF-8 (a file name, a port name).
        std::string reason = "a setting is not valid UTF-8 text";
        for (const auto& [key, value] : values_) {
            std::string ignored;
            if (!dumps(toJson(value), ignored, -1)) {
                reason = "the value of " + key + " is not valid UTF-8 text";
                break;
            }
        }
        fail(error, std::move(reason));
        return {};
    }
    text += '\n';
    return text;
}

bool SettingsStore::save(const fs::path& name, std::string* error) const {
    std::string text = toJsonText(error);
    if (text.empty()) {
        return false;
    }
    AtomicWriteOptions options{kSettingsFileMode};
    const bool judged = !judgedName_.empty() && name == judgedName_;
    if (judged) {
        // What was judged, by the name no other user may change: a link found there later is
        // not followed, and one that led nowhere gives way to the user's own file.
        options.linkAtTarget = AtomicWriteOptions::LinkAtTarget::Replace;
    }
    const fs::path& file = judged ? saveTarget_ : name;
    if (isOtherThanAFile(file, options.linkAtTarget)) {
        return fail(error, "cannot save over " + file.string() + ": it is not a regular file");
    }
    if (!unmovedFile_.empty() && sameFile(file, unmovedFile_)) {
        std::error_code moveError;
        if (!isMissing(file) && !moveAside(file, moveError)) {
            return fail(error, "cannot save over " + file.string() + ": it could not be read and could not be moved aside (" +
                                   moveError.message() + ")");
        }
        unmovedFile_.clear();
    }
    // Mode 0600: the file holds the API token, which no other user may read.
    return writeFileAtomically(file, text, error, options);
}

SettingsStore::FilePrivacy SettingsStore::loadedFilePrivacy() const {
    struct stat status {};
    if (!loaded_.status(status)) {
        return FilePrivacy::NoFile;
    }
    // Its owner may always read it, and set its mode back, whatever the mode is now; root
    // may read any file anyway.
    const bool mine = status.st_uid == ::geteuid();
    if (!mine && !countsAsRoot(status.st_uid)) {
        return FilePrivacy::AnotherUsers;
    }
    if ((status.st_mode & 077) == 0) {
        return FilePrivacy::Private;
    }
    return mine ? FilePrivacy::OthersMayRead : FilePrivacy::RootsOthersMayRead;
}

bool SettingsStore::makeLoadedFilePrivate(std::string* error) {
    return loaded_.setPermissions(kSettingsFileMode, error);
}

bool settingValueFromJson(const SettingDef& def, const json& element, SettingValue& out) {
    switch (def.type) {
    case SettingType::boolean:
        if (!element.is_boolean()) {
            return false;
        }
        out = element.get<bool>();
        return true;
    case SettingType::integer:
        if (element.is_number_unsigned()) {
            // Above int64 it cannot be held; wrapping it round would load a wrong value.
            const auto number = element.get<std::uint64_t>();
            if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                return false;
            }
            out = static_cast<std::int64_t>(number);
            return true;
        }
        if (!element.is_number_integer()) {
            return false;
        }
        out = element.get<std::int64_t>();
        return true;
    case SettingType::real:
        if (!element.is_number()) {
            return false;
        }
        out = element.get<double>();
        return true;
    case SettingType::text:
    case SettingType::choice:
        if (!element.is_string()) {
            return false;
        }
        out = element.get_ref<const std::string&>();
        return true;
    }
    return false;
}

}  // namespace ostrel::core
