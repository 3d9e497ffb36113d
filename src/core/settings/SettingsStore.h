#pragma once

#include "core/files/JudgedFile.h"
#include "core/files/RegularFile.h"
#include "core/settings/SettingsRegistry.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace ostrel::core {

// The current value of every registered setting, read from and written to
// "settings.json". GUI thread only; no lock.
class SettingsStore {
public:
    // The registry must outlive the store.
    explicit SettingsStore(const SettingsRegistry& registry);

    // Throws std::out_of_range "unknown setting: " + key for a key the registry lacks.
    const SettingValue& value(std::string_view key) const;
    // No conversion: asking for another alternative throws std::bad_variant_access.
    bool getBool(std::string_view key) const;
    std::int64_t getInt(std::string_view key) const;
    const std::string& getString(std::string_view key) const;

    // True when no override is stored, also for an unknown key.
    bool isDefault(std::string_view key) const;

    // Validates and stores; does not write the file.
    [[nodiscard]] bool set(std::string_view key, SettingValue value, std::string* error);

    // Replaces the values with those of file, opened by its name. Returns warnings for the
    // log, in order. Nothing there, or a link to nothing, leaves the defaults.
    // An unreadable file is moved aside to file + ".bad"; if even that fails, or memory
    // runs out while reading it, later saves refuse to overwrite it. Anything but a file
    // there (a folder, a device, a FIFO) is neither opened for long nor moved, and saves
    // then fail. Never throws.
    std::vector<std::string> load(const std::filesystem::path& file);
    // The same for file as judged when its privacy was (FolderLock): what is read is what
    // was judged, and the name is never read again. Saves to file then go where the values
    // came from, by its real path, or, when they came from no file, in place of whatever is
    // at file, a link to nothing included.
    std::vector<std::string> load(const std::filesystem::path& file, JudgedFile judged);

    // The whole settings file. Empty, with the reason in error (may be null), when a
    // text value is not valid UTF-8 and so cannot be written as JSON.
    std::string toJsonText(std::string* error = nullptr) const;

    // Writes toJsonText() atomically, with mode kSettingsFileMode whatever the old file's
    // was; a link at file is written through and stays a link (but see the judged load). On
    // failure error receives the reason; something other than a regular file at file is
    // never replaced.
    [[nodiscard]] bool save(const std::filesystem::path& file, std::string* error) const;

    // Owner read and write only.
    static constexpr int kSettingsFileMode = 0600;

    // What other users may do with the settings file the last load took its values from,
    // judged on that file itself (its descriptor is kept), never on what has been put at
    // its path since: a file renamed or linked there later is not the one read.
    enum class FilePrivacy {
        NoFile,         // no values were read from a file
        Private,        // this user's, with no bits for others
        OthersMayRead,  // this user's, with bits for others
        // root's, with bits for others: only a save, which writes the user's own file in its
        // place, takes them away
        RootsOthersMayRead,
        AnotherUsers,  // another user's, who may read it whatever its mode
    };
    FilePrivacy loadedFilePrivacy() const;
    // Takes every bit for others away from that same file (kSettingsFileMode); false, with
    // the reason in error, when it cannot.
    [[nodiscard]] bool makeLoadedFilePrivate(std::string* error);

private:
    std::vector<std::string> loadJudged(const std::filesystem::path& file, JudgedFile judged);
    std::vector<std::string> loadValues(const std::filesystem::path& file, JudgedFile judged);
    // Moves an unreadable file aside, or keeps it from being overwritten when it cannot be.
    void setAside(const std::filesystem::path& file, const std::string& why, std::vector<std::string>& warnings);
    // The "values" object of a readable file into values_ and unknownValues_.
    void takeValues(const nlohmann::json& values, std::vector<std::string>& warnings);

    const SettingsRegistry* registry_;
    std::map<std::string, SettingValue, std::less<>> values_;        // overrides only
    std::map<std::string, std::string, std::less<>> unknownValues_;  // compact JSON text
    // An unreadable settings file that could not be moved aside; empty when none.
    mutable std::filesystem::path unmovedFile_;
    // The file the values were read from, kept open for the run; closed when none was.
    RegularFile loaded_;
    // The name the last load was given a judged file for (empty after a load by name), and
    // where saves to that name go.
    std::filesystem::path judgedName_;
    std::filesystem::path saveTarget_;
};

// One value of the file converted by the definition's type, without validation.
// Returns false and leaves out alone for a JSON kind the type does not take. Never throws.
bool settingValueFromJson(const SettingDef& def, const nlohmann::json& element, SettingValue& out);

}  // namespace ostrel::core
