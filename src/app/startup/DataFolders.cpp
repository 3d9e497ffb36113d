#include "app/startup/DataFolders.h"

#include <QDir>
#include <QFile>
#include <QtGlobal>

#include <algorithm>
#include <string_view>

namespace ostrel::app {

DataFolderEnvironment systemDataFolderEnvironment() {
    return {qEnvironmentVariable("APPDATA"), qEnvironmentVariable("XDG_DATA_HOME"), QDir::homePath()};
}

DataDirArgument dataDirArgument(int argc, const char* const* argv) {
    static constexpr std::string_view kOption = "--data-dir";
    static constexpr std::string_view kOptionWithValue = "--data-dir=";
    const auto found = [](std::string_view value) {
        return value.empty() ? DataDirArgument{DataDirArgument::Kind::Empty, {}}
                             : DataDirArgument{DataDirArgument::Kind::Given, std::filesystem::path(value)};
    };
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == kOption) {
            return i + 1 < argc ? found(argv[i + 1]) : DataDirArgument{DataDirArgument::Kind::MissingValue, {}};
        }
        if (argument.starts_with(kOptionWithValue)) {
            return found(argument.substr(kOptionWithValue.size()));
        }
    }
    return {};
}

std::filesystem::path dataFolderPath(const DataDirArgument& argument, const DataFolderEnvironment& environment) {
    if (argument.kind == DataDirArgument::Kind::Given) {
        return argument.value;
    }
    return std::filesystem::path(QFile::encodeName(dataFolderFor({}, environment)).toStdString());
}

QString dataFolderFor(const QString& dataDirValue, const DataFolderEnvironment& environment) {
    if (!dataDirValue.isEmpty()) {
        return QDir::fromNativeSeparators(dataDirValue);
    }
    QString base = environment.appData;
    if (base.isEmpty()) {
        // The XDG rule ignores a relative XDG_DATA_HOME.
        base = QDir::isAbsolutePath(environment.xdgDataHome) ? environment.xdgDataHome
                                                              : environment.home + QStringLiteral("/.local/share");
    }
    return QDir::fromNativeSeparators(base) + QStringLiteral("/Ostrel/Ostrel");
}

QString writtenFolder(const QString& dataFolder, const WrittenFolders& written, std::string_view name) {
    const auto at = std::find(kWrittenSubfolders.begin(), kWrittenSubfolders.end(), name);
    const QString& judged = written.at(static_cast<std::size_t>(at - kWrittenSubfolders.begin()));
    return judged.isEmpty() ? dataFolder + QLatin1Char('/') + QLatin1String(name.data(), qsizetype(name.size()))
                            : judged;
}

AppFolders appFolders(const QString& dataFolder, DataDirOption option, const QString& documents,
                      const WrittenFolders& written) {
    const auto inData = [&](std::string_view name) { return writtenFolder(dataFolder, written, name); };
    const bool underData = option == DataDirOption::Given;
    const QString documentsBase = documents + QStringLiteral("/Ostrel");
    AppFolders folders;
    folders.data = dataFolder;
    folders.settingsFile = dataFolder + QStringLiteral("/settings.json");
    folders.logFile = inData("logs") + QStringLiteral("/ostrel.log");
    folders.crashes = inData("crashes");
    folders.patches = inData("patches");
    folders.themes = inData("themes");
    folders.exports = underData ? inData("exports") : documentsBase + QStringLiteral("/Exports");
    folders.projects = underData ? inData("projects") : documentsBase + QStringLiteral("/Projects");
    folders.samples = underData ? inData("samples") : documentsBase + QStringLiteral("/Samples");
    return folders;
}

}  // namespace ostrel::app
