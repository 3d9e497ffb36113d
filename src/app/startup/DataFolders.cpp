#include "app/startup/DataFolders.h"

#include <QDir>
#include <QtGlobal>

namespace ostrel::app {

DataFolderEnvironment systemDataFolderEnvironment() {
    return {qEnvironmentVariable("APPDATA"), qEnvironmentVariable("XDG_DATA_HOME"), QDir::homePath()};
}

QString dataDirArgument(int argc, const char* const* argv) {
    static constexpr char kOption[] = "--data-dir";
    static constexpr char kOptionWithValue[] = "--data-dir=";
    const QByteArray withValue(kOptionWithValue);
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == kOption && i + 1 < argc) {
            return QString::fromLocal8Bit(argv[i + 1]);
        }
        if (argument.startsWith(withValue)) {
            return QString::fromLocal8Bit(argument.mid(withValue.size()));
        }
    }
    return {};
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

AppFolders appFolders(const QString& dataFolder, DataDirOption option, const QString& documents) {
    const bool underData = option == DataDirOption::Given;
    const QString documentsBase = documents + QStringLiteral("/Ostrel");
    AppFolders folders;
    folders.data = dataFolder;
    folders.settingsFile = dataFolder + QStringLiteral("/settings.json");
    folders.logFile = dataFolder + QStringLiteral("/logs/ostrel.log");
    folders.crashes = dataFolder + QStringLiteral("/crashes");
    folders.patches = dataFolder + QStringLiteral("/patches");
    folders.themes = dataFolder + QStringLiteral("/themes");
    folders.exports = underData ? dataFolder + QStringLiteral("/exports") : documentsBase + QStringLiteral("/Exports");
    folders.projects = underData ? dataFolder + QStringLiteral("/projects") : documentsBase + QStringLiteral("/Projects");
    folders.samples = underData ? dataFolder + QStringLiteral("/samples") : documentsBase + QStringLiteral("/Samples");
    return folders;
}

}  // namespace ostrel::app
