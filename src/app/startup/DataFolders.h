#pragma once

#include <QString>

#include <array>
#include <filesystem>
#include <string_view>

namespace ostrel::app {

// The environment that decides the default data folder.
struct DataFolderEnvironment {
    QString appData;      // APPDATA
    QString xdgDataHome;  // XDG_DATA_HOME
    QString home;         // the home folder
};

DataFolderEnvironment systemDataFolderEnvironment();

// The data-dir option, looked up in the raw arguments before the command line is parsed:
// "--data-dir" followed by a value, or "--data-dir=" and the value; the first occurrence
// wins. The value is kept as its bytes, which name the folder whatever their encoding.
struct DataDirArgument {
    enum class Kind {
        Absent,        // no such option: the default folder
        Given,         // a value, in bytes
        Empty,         // "--data-dir" "" or "--data-dir=": names no folder
        MissingValue,  // "--data-dir" as the last argument: the command line is wrong
    };
    Kind kind = Kind::Absent;
    std::filesystem::path value;
};

DataDirArgument dataDirArgument(int argc, const char* const* argv);

// The data folder by its bytes: a Given value as it is, else the default of dataFolderFor.
std::filesystem::path dataFolderPath(const DataDirArgument& argument, const DataFolderEnvironment& environment);

// A non-empty data-dir value as given; else APPDATA when set and non-empty, else
// $XDG_DATA_HOME (when absolute) or the home folder + "/.local/share", then
// "/Ostrel/Ostrel". Separators are "/".
QString dataFolderFor(const QString& dataDirValue, const DataFolderEnvironment& environment);

// Whether the data-dir option was given on the command line, even with an empty value:
// then documents go under the data folder too.
enum class DataDirOption { Absent, Given };

// The folders the program writes into under the data folder: where they exist at start,
// they must be as much the user's alone as the data folder itself.
inline constexpr std::array<std::string_view, 7> kWrittenSubfolders = {"logs",     "crashes", "exports", "projects",
                                                                       "samples", "themes",  "patches"};

// Where the files of each of kWrittenSubfolders go, in that order, as the start judged it
// (where a link there led); an empty one is that folder in the data folder.
using WrittenFolders = std::array<QString, kWrittenSubfolders.size()>;

// Where the files of name, one of kWrittenSubfolders, go.
QString writtenFolder(const QString& dataFolder, const WrittenFolders& written, std::string_view name);

// Where the program keeps its files for one run.
struct AppFolders {
    QString data;
    QString settingsFile;
    QString logFile;
    QString crashes;
    QString patches;
    QString themes;
    QString exports;
    QString projects;
    QString samples;
};

// documents is the user's Documents folder; it is only used when the option is absent.
AppFolders appFolders(const QString& dataFolder, DataDirOption option, const QString& documents,
                      const WrittenFolders& written = {});

}  // namespace ostrel::app
