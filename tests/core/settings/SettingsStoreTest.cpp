#include "core/settings/SettingsStore.h"

#include "CoreTestSupport.h"
#include "core/BuildInfo.h"
#include "support/AllocationCounter.h"
#include "support/HostileFiles.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <sys/stat.h>
#include <variant>

namespace fs = std::filesystem;
using namespace ostrel::core;
using namespace ostrel::test;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// A settings file exactly as the store writes it, with the given "values" body lines.
std::string fileWithValues(const std::string& valuesBody) {
    const std::string values = valuesBody.empty() ? "{}" : "{\n" + valuesBody + "\n  }";
    return "{\n  \"app_version\": \"" + std::string(buildInfo().version) + "\",\n  \"format_version\": 1,\n"
           "  \"values\": " + values + "\n}\n";
}

void expectAllDefaults(const SettingsStore& store) {
    for (const SettingDef& def : settingsRegistry().settings) {
        EXPECT_TRUE(store.isDefault(def.key)) << def.key;
        EXPECT_EQ(store.value(def.key), def.defaultValue) << def.key;
    }
}

// Writes bytes as dir/settings.json and loads them into store.
std::vector<std::string> loadFile(SettingsStore& store, const TempDir& dir, const std::string& bytes) {
    writeFile(dir / "settings.json", bytes);
    return store.load(dir / "settings.json");
}

fs::path withBad(const fs::path& path) { return path.string() + ".bad"; }

const std::string unreadableWarning =
    "settings file was unreadable (it holds no settings in JSON); kept as settings.json.bad and defaults were used";
const std::string notAFileWarning =
    "settings file is not a regular file (a folder, a device or a pipe); it was left alone and defaults were used";
}  // namespace

TEST(SettingsFileFormatTest, FileRoundTripsByteForByteWithUnknownKeysReplacingEarlierValues) {
    const std::string original = fileWithValues(
        "    \"a.future\": {\n"
        "      \"nested\": [\n"
        "        1,\n"
        "        2.5,\n"
        "        null\n"
        "      ]\n"
        "    },\n"
        "    \"api.enabled\": true,\n"
        "    \"api.port\": 9000,\n"
        "    \"instrument.level\": 1.0,\n"
        "    \"instrument.patch\": \"Glöckchen \\\"Nº 5\\\" ✓\",\n"
        "    \"logging.level\": \"debug\",\n"
        "    \"transport.tempo\": 133.33333333333334,\n"
        "    \"zz.older\": \"kept\"");
    TempDir dir;
    SettingsStore store(settingsRegistry());
    EXPECT_THAT(store.load(dir / "settings.json"), IsEmpty());  // no file yet: defaults
    ASSERT_TRUE(store.set("appearance.ui_scale", std::int64_t{150}, nullptr));  // replaced by the load
    std::string error;
    EXPECT_FALSE(store.set("no.such", true, &error));
    EXPECT_EQ(error, "unknown setting: no.such");
    EXPECT_THAT(loadFile(store, dir, original), IsEmpty());
    EXPECT_TRUE(store.isDefault("appearance.ui_scale"));
    EXPECT_EQ(store.getString("instrument.patch"), "Glöckchen \"Nº 5\" ✓");
    EXPECT_EQ(std::get<double>(store.value("transport.tempo")), 400.0 / 3.0);
    ASSERT_TRUE(store.save(dir / "settings.json", nullptr));
    EXPECT_EQ(readFile(dir / "settings.json"), original);
    ASSERT_TRUE(store.set("api.port", std::int64_t{8642}, nullptr));  // back to the default: forgotten
    EXPECT_TRUE(store.isDefault("api.port"));
}

// nlohmann's value(key, default) throws for a member of another JSON kind; the loader
// checks every kind first and turns each bad value into a warning.
TEST(SettingsLoadTest, ValuesOfTheWrongKindOrRangeAreIgnoredWithAWarningNeverAThrow) {
    TempDir dir;
    SettingsStore store(settingsRegistry());
    std::vector<std::string> warnings;
    ASSERT_NO_THROW(warnings = loadFile(store, dir, R"({"values": {
        "api.enabled": "yes", "api.port": "9000", "api.osc.port": 9000.0, "appearance.theme": ["dark"],
        "audio.output_device": {"id": 1}, "transport.tempo": null, "transport.metronome": 1,
        "appearance.ui_scale": 300, "logging.level": "Info", "instrument.level": -0.5, "audio.buffer_size": "512"}})"));
    const std::string ignored = "ignored invalid value for ";
    EXPECT_THAT(warnings, ElementsAre(ignored + "api.enabled", ignored + "api.osc.port", ignored + "api.port",
                                      ignored + "appearance.theme",
                                      ignored + "appearance.ui_scale (appearance.ui_scale must be between 75 and 200)",
                                      ignored + "audio.output_device",
                                      ignored + "instrument.level (instrument.level is outside its allowed range)",
                                      ignored + "logging.level ('Info' is not an option for logging.level)",
                                      ignored + "transport.metronome", ignored + "transport.tempo"));
    expectAllDefaults(store);  // also the entry equal to its default is not kept
}

// Regression: 2^64 - 1 was narrowed to int64 and wrapped round to -1.
TEST(SettingsLoadTest, IntegerBeyondInt64IsNotWrappedRound) {
    TempDir dir;
    SettingsStore store(settingsRegistry());
    const std::string bytes = R"({"values": {"api.port": 18446744073709551615, "api.osc.port": -9223372036854775808}})";
    EXPECT_THAT(loadFile(store, dir, bytes),
                ElementsAre("ignored invalid value for api.osc.port (api.osc.port must be between 1024 and 65535)",
                            "ignored invalid value for api.port"));
    EXPECT_TRUE(store.isDefault("api.port"));
}

TEST(SettingsUnreadableFileTest, DamagedFileReplacesAnEarlierBadOneAndTheNextSaveWritesBesideIt) {
    const std::string damaged[] = {
        R"({"values": {"api.port": 9000)",  // truncated
        "",
        R"([{"values": {}}])",
        R"({"format_version": 1})",
        R"({"values": [1, 2]})",
        R"({"values": {} /* no comments */})",
        "{\"values\": {\"api.token\": \"\xff\"}}",  // not UTF-8
        // nested deeper than the writer's recursion could take
        R"({"values": {"x": )" + std::string(100000, '[') + std::string(100000, ']') + "}}",
    };
    for (const std::string& bytes : damaged) {
        TempDir dir;
        writeFile(dir / "settings.json.bad", "from last week");
        SettingsStore store(settingsRegistry());
        EXPECT_THAT(loadFile(store, dir, bytes), ElementsAre(unreadableWarning)) << bytes.substr(0, 40);
        expectAllDefaults(store);
        EXPECT_FALSE(fs::exists(dir / "settings.json"));
        EXPECT_EQ(readFile(dir / "settings.json.bad"), bytes);
        ASSERT_TRUE(store.set("api.enabled", true, nullptr));
        ASSERT_TRUE(store.save(dir / "settings.json", nullptr));
        EXPECT_EQ(readFile(dir / "settings.json"), fileWithValues("    \"api.enabled\": true"));
    }
}

// Regression: a file that could be neither read nor moved aside was overwritten with
// defaults by the next save, losing every setting the user had.
TEST(SettingsUnreadableFileTest, FileThatCannotBeMovedAsideIsNeverOverwritten) {
    TempDir dir;
    const std::string damaged = R"({"values": {"api.port": 9000, )";
    fs::create_directories(dir / "settings.json.bad/blocker");  // a full folder: neither removable nor replaceable
    SettingsStore store(settingsRegistry());
    const std::vector<std::string> warnings = loadFile(store, dir, damaged);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_THAT(warnings[0], ::testing::StartsWith("settings file was unreadable (it holds no settings in JSON) and "
                                                   "could not be moved aside ("));
    EXPECT_THAT(warnings[0], ::testing::EndsWith("); defaults were used and it will not be overwritten"));
    expectAllDefaults(store);

    ASSERT_TRUE(store.set("api.enabled", true, nullptr));
    std::string error;
    EXPECT_FALSE(store.save(dir / "settings.json", &error));
    EXPECT_THAT(error, ::testing::StartsWith("cannot save over " + (dir / "settings.json").string() +
                                             ": it could not be read and could not be moved aside ("));
    EXPECT_EQ(readFile(dir / "settings.json"), damaged);
    EXPECT_TRUE(store.save(dir / "other.json", nullptr));  // another file is not protected
    EXPECT_FALSE(store.save(dir / "settings.json.bad", &error));  // a folder is never replaced
    EXPECT_EQ(error, "cannot save over " + (dir / "settings.json.bad").string() + ": it is not a regular file");

    // Once the way is clear the damaged file is kept aside and the save goes through.
    fs::remove_all(dir / "settings.json.bad");
    ASSERT_TRUE(store.save(dir / "settings.json", &error)) << error;
    EXPECT_EQ(readFile(dir / "settings.json.bad"), damaged);
    EXPECT_EQ(readFile(dir / "settings.json"), fileWithValues("    \"api.enabled\": true"));
}

// ---- Things at the settings path that are not settings files.

// Regression: a folder, and as root even a device node, was renamed to ".bad" and then
// replaced by a regular file; a FIFO blocked the load in open forever.
TEST(SettingsHostilePathTest, AFolderFifoOrDeviceIsLeftAloneAndTheSaveFailsWithAReason) {
    TempDir dir;
    const fs::path folder = dir / "folder.json";
    fs::create_directories(folder / "inside");
    const fs::path fifo = dir / "pipe.json";
    makeFifo(fifo);
    const fs::path device = dir / "zeros.json";
    fs::create_symlink("/dev/zero", device);
    for (const fs::path& path : {folder, fifo, device}) {
        SettingsStore store(settingsRegistry());
        ASSERT_TRUE(store.set("api.port", 9000, nullptr));
        std::vector<std::string> warnings;
        EXPECT_TRUE(returnsWithoutAWriter(fifo, [&] { warnings = store.load(path); }));
        EXPECT_THAT(warnings, ElementsAre(notAFileWarning)) << path;
        expectAllDefaults(store);
        ASSERT_TRUE(store.set("api.enabled", true, nullptr));
        std::string error;
        EXPECT_FALSE(store.save(path, &error)) << path;
        EXPECT_EQ(error, "cannot save over " + path.string() + ": it is not a regular file");
        EXPECT_FALSE(fs::exists(fs::symlink_status(withBad(path)))) << path;
        EXPECT_FALSE(fs::exists(fs::symlink_status(path.string() + ".tmp"))) << path;
    }
    EXPECT_TRUE(fs::is_directory(folder / "inside"));
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(fs::is_symlink(device));
    EXPECT_EQ(fs::read_symlink(device), "/dev/zero");
}

TEST(SettingsHostilePathTest, ALinkToADamagedFileIsMovedAsideLikeTheFileItself) {
    TempDir dir;
    writeFile(dir / "real.json", "{ damaged");
    fs::create_symlink(dir / "real.json", dir / "settings.json");
    SettingsStore store(settingsRegistry());
    EXPECT_THAT(store.load(dir / "settings.json"), ElementsAre(unreadableWarning));
    EXPECT_TRUE(fs::is_symlink(dir / "settings.json.bad"));
    ASSERT_TRUE(store.save(dir / "settings.json", nullptr));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / "settings.json")));
    EXPECT_EQ(readFile(dir / "real.json"), "{ damaged");
}

// Under the allocation limit, any attempt to read the file would fail otherwise.
TEST(SettingsHostilePathTest, AHugeSparseFileIsMovedAsideFromItsSizeWithoutBeingRead) {
    TempDir dir;
    makeSparseFile(dir / "settings.json", 8ull << 30);
    SettingsStore store(settingsRegistry());
    std::vector<std::string> warnings;
    {
        AllocationLimit limit(1 << 20);
        warnings = store.load(dir / "settings.json");
    }
    EXPECT_THAT(warnings, ElementsAre("settings file was unreadable (it is larger than 16777216 bytes); kept as "
                                      "settings.json.bad and defaults were used"));
    EXPECT_EQ(fs::file_size(dir / "settings.json.bad"), 8ull << 30);
    EXPECT_FALSE(fs::exists(dir / "settings.json"));
}

// Regression: std::bad_alloc escaped the load. The file may be fine, so it is kept: the
// next save moves it aside before writing.
TEST(SettingsHostilePathTest, RunningOutOfMemoryWhileLoadingIsAWarningAndTheFileIsKept) {
    TempDir dir;
    const std::string bytes = R"({"values": {"x.long": ")" + std::string(600000, 'v') + R"("}})";
    writeFile(dir / "settings.json", bytes);
    SettingsStore store(settingsRegistry());
    ASSERT_TRUE(store.set("api.port", 9000, nullptr));
    std::vector<std::string> warnings;
    {
        AllocationLimit limit(256 * 1024);  // less than the file
        warnings = store.load(dir / "settings.json");
    }
    EXPECT_THAT(warnings, ElementsAre("not enough memory to read the settings file; defaults were used and it will "
                                      "not be overwritten"));
    expectAllDefaults(store);
    EXPECT_EQ(readFile(dir / "settings.json"), bytes);
    ASSERT_TRUE(store.save(dir / "settings.json", nullptr));
    EXPECT_EQ(readFile(dir / "settings.json.bad"), bytes);
    EXPECT_THAT(store.load(dir / "settings.json"), IsEmpty());
}

// Regression: nlohmann's strict dump threw type_error out of save and toJsonText for a
// text setting holding bytes that are not UTF-8, such as a Linux port name.
static unsigned modeOf(const fs::path& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// Regression: the file that holds the API token was written 0644, readable by every user.
TEST(SettingsSaveTest, TheFileIsOwnerOnlyAfterEverySave) {
    TempDir dir;
    SettingsStore store(settingsRegistry());
    ASSERT_TRUE(store.save(dir / "settings.json", nullptr));
    EXPECT_EQ(modeOf(dir / "settings.json"), 0600u);
    ::chmod((dir / "settings.json").c_str(), 0644);  // written by an older version
    ASSERT_TRUE(store.set("api.token", std::string("0123456789abcdef0123456789abcdef"), nullptr));
    ASSERT_TRUE(store.save(dir / "settings.json", nullptr));
    EXPECT_EQ(modeOf(dir / "settings.json"), 0600u);
}

// Regression: a settings.json that was a link became a plain file at the first save.
TEST(SettingsSaveTest, ALinkedFileIsWrittenThroughAndStaysALink) {
    TempDir dir;
    fs::create_directory(dir / "dotfiles");
    writeFile(dir / "dotfiles/ostrel.json", fileWithValues(""));
    fs::create_symlink(dir / "dotfiles/ostrel.json", dir / "settings.json");
    SettingsStore store(settingsRegistry());
    EXPECT_THAT(store.load(dir / "settings.json"), IsEmpty());
    ASSERT_TRUE(store.set("api.port", std::int64_t{9000}, nullptr));
    ASSERT_TRUE(store.save(dir / "settings.json", nullptr));
    EXPECT_TRUE(fs::is_symlink(dir / "settings.json"));
    EXPECT_EQ(readFile(dir / "dotfiles/ostrel.json"), fileWithValues("    \"api.port\": 9000"));
    EXPECT_EQ(modeOf(dir / "dotfiles/ostrel.json"), 0600u);
}

TEST(SettingsSaveTest, TextThatIsNotUtf8FailsWithAReasonInsteadOfThrowing) {
    TempDir dir;
    const std::string before = fileWithValues("    \"api.enabled\": true");
    SettingsStore store(settingsRegistry());
    loadFile(store, dir, before);
    ASSERT_TRUE(store.set("midi.input_device", std::string("USB MIDI \xC3\x28", 11), nullptr));
    std::string error;
    bool saved = true;
    ASSERT_NO_THROW(saved = store.save(dir / "settings.json", &error));
    EXPECT_FALSE(saved);
    EXPECT_EQ(error, "the value of midi.input_device is not valid UTF-8 text");
    EXPECT_EQ(readFile(dir / "settings.json"), before);
    std::string text = "x";
    ASSERT_NO_THROW(text = store.toJsonText());
    EXPECT_EQ(text, "");
}

// Regression: the settings file's mode was asked of, and set on, whatever was at its path
// when the door opened: a link put there after the read had the chmod follow it to one of
// the user's files. (Another user's file renamed away is tried with the door's switch.)
TEST(SettingsFilePrivacyTest, TheFileReadIsJudgedAndMadePrivateWhateverIsPutAtItsPathSince) {
    using Privacy = SettingsStore::FilePrivacy;
    TempDir dir;
    const fs::path path = dir / "settings.json";
    SettingsStore store(settingsRegistry());
    EXPECT_EQ(store.loadedFilePrivacy(), Privacy::NoFile);
    writeFile(path, fileWithValues(""));
    ::chmod(path.c_str(), 0644);
    ASSERT_THAT(store.load(path), IsEmpty());
    fs::rename(path, dir / "read");
    writeFile(dir / "other", "words\n");
    ::chmod((dir / "other").c_str(), 0644);
    fs::create_symlink(dir / "other", path);
    EXPECT_EQ(store.loadedFilePrivacy(), Privacy::OthersMayRead);
    ASSERT_TRUE(store.makeLoadedFilePrivate(nullptr));
    EXPECT_EQ(store.loadedFilePrivacy(), Privacy::Private);
    EXPECT_EQ(modeOf(dir / "read"), 0600u);
    EXPECT_EQ(modeOf(dir / "other"), 0644u);
}
