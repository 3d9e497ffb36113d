#include "app/startup/Application.h"

#include "api_server/ApiServer.h"
#include "api_server/OscServer.h"
#include "app/api/ApiDoors.h"
#include "app/api/ApiHandler.h"
#include "app/api/ApiToken.h"
#include "app/api/MainLoopHandOffs.h"
#include "app/live/InstrumentController.h"
#include "app/live/MidiController.h"
#include "app/project/ProjectController.h"
#include "app/settings/LiveSettings.h"
#include "app/settings/SettingsBridge.h"
#include "app/sound/AudioController.h"
#include "app/sound/TransportController.h"
#include "app/startup/AppController.h"
#include "app/startup/CommandLineOptions.h"
#include "app/startup/DataFolders.h"
#include "app/startup/ExitCodes.h"
#include "app/startup/FirstFrame.h"
#include "app/startup/UiScale.h"
#include "app/themes/StartupTheme.h"
#include "app/themes/ThemeManager.h"
#include "core/BuildInfo.h"
#include "core/CrashReporter.h"
#include "core/FileSink.h"
#include "core/Logger.h"
#include "core/SettingsRegistry.h"
#include "core/SettingsStore.h"
#include "platform/Backends.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QStandardPaths>
#include <QTimer>
#include <QVariant>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::app {
namespace {

constexpr std::uint64_t kLogFileBytes = 5 * 1024 * 1024;
constexpr unsigned kOlderLogFiles = 3;

std::filesystem::path localPath(const QString& path) { return std::filesystem::path(QFile::encodeName(path).toStdString()); }

void logInfo(core::Logger& logger, const char* category, const QString& message) {
    logger.log(core::LogLevel::INFO, category, message.toStdString());
}

}  // namespace

int runApplication(int& argc, char** argv, const ApplicationSetup& setup) {
    QElapsedTimer startupClock;
    startupClock.start();

    // Before anything else exists: the data folder, the settings and the interface size.
    const QString dataFolder = dataFolderFor(dataDirArgument(argc, argv), systemDataFolderEnvironment());
    const QString settingsFile = dataFolder + QStringLiteral("/settings.json");
    const QString logFile = dataFolder + QStringLiteral("/logs/ostrel.log");
    const core::SettingsRegistry registry = core::buildSettingsRegistry();
    core::SettingsStore store(registry);
    const std::vector<std::string> settingsWarnings = store.load(localPath(settingsFile));
    applyUiScale(store.getInt("appearance.ui_scale"));

    QGuiApplication application(argc, argv);
    QGuiApplication::setOrganizationName(QStringLiteral("Ostrel"));
    QGuiApplication::setApplicationName(QStringLiteral("Ostrel"));
    QGuiApplication::setApplicationVersion(QString::fromStdString(core::appVersion()));
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/ostrel-256.png")));
    QQuickStyle::setStyle(QStringLiteral("Basic"));

    QCommandLineParser parser;
    addCommandLineOptions(parser);
    parser.process(application);

    core::Logger& logger = core::Logger::instance();
    logger.addSink(std::make_shared<core::FileSink>(localPath(logFile), kLogFileBytes, kOlderLogFiles));
    core::LogLevel level = core::LogLevel::INFO;
    if (core::parseLogLevel(store.getString("logging.level"), level)) {
        logger.setLevel(level);
    }
    logger.log(core::LogLevel::INFO, "app", "Ostrel " + core::appVersion() + " starting");
    for (const std::string& warning : settingsWarnings) {
        logger.log(core::LogLevel::WARN, "settings", warning);
    }

    const QString crashFolder = dataFolder + QStringLiteral("/crashes");
    const core::CrashReporter::Config crashConfig{localPath(crashFolder), core::appVersion(), &logger};
    core::CrashReporter::install(crashConfig);
    if (const int reports = core::CrashReporter::countReports(localPath(crashFolder)); reports > 0) {
        logger.log(core::LogLevel::WARN, "app",
                   std::to_string(reports) + " crash report(s) from earlier runs are in " + crashFolder.toStdString());
    }
    const core::ActionScope startupAction("Application startup", logger);

    ThemeManager themes;
    logInfo(logger, "ui", QStringLiteral("loaded %1 theme(s)").arg(themes.loadThemeFolder(QStringLiteral(":/themes"))));
    const AppFolders folders =
        appFolders(dataFolder, parser.isSet(QStringLiteral("data-dir")) ? DataDirOption::Given : DataDirOption::Absent,
                   QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    themes.setDirectories(folders.themes, folders.exports);
    if (const int own = themes.loadUserThemes(); own > 0) {
        logInfo(logger, "ui", QStringLiteral("loaded %1 of your own theme(s)").arg(own));
    }
    for (const QString& warning : themes.warnings()) {
        logger.log(core::LogLevel::WARN, "ui", warning.toStdString());
    }
    StartupThemeChoice themeChoice;
    if (parser.isSet(QStringLiteral("theme"))) {
        themeChoice.commandLine = parser.value(QStringLiteral("theme"));
    }
    themeChoice.customTheme = QString::fromStdString(store.getString("appearance.custom_theme"));
    themeChoice.builtInTheme = QString::fromStdString(store.getString("appearance.theme"));
    themes.setCurrentId(startupThemeId(themeChoice, themes.themeIds()));

    AppController appController(logger, folders.logFile);
    SettingsBridge settings(store, registry, folders.settingsFile, logger);
    // The audio, instrument, transport, project and MIDI controllers, in that order; then
    // the control API and OSC doors with their pump and render timers.
    // The sound card is not opened here: the audio controller opens it on demand.
    AudioController audio(engine::createAudioBackend(), settings, logger);
    InstrumentController instrument(audio, logger, &settings);
    instrument.setPatchesDirectory(folders.patches);
    TransportController transport(audio, logger, &settings);
    ProjectController project(transport, logger, folders.projects, folders.exports, folders.samples);
    MidiController midi(engine::createMidiBackend(), settings, instrument, logger);

    // The doors exist in every run; their pumps find nothing to do while they are closed.
    // Declared before the timers, so the timers go first at shut-down and the doors are
    // stopped, their threads joined, before any controller their handlers call.
    auto apiServer = std::make_unique<api_server::ApiServer>(&logger);
    ApiHandler apiHandler(&project, &transport);
    apiServer->handler = apiRequestHandler(apiHandler);
    auto oscServer = std::make_unique<api_server::OscServer>(&logger);
    oscServer->handler = oscRequestHandler(apiHandler);
    // Made before the doors start, so a client can read it from the settings file.
    const QString apiToken = ensureApiToken(settings);
    if (settings.value(QStringLiteral("api.enabled")).toBool()) {
        if (!apiServer->start(static_cast<std::uint16_t>(settings.value(QStringLiteral("api.port")).toInt()),
                              apiToken.toStdString())) {
            logger.log(core::LogLevel::WARN, "api_server", "the Control API could not start; the app runs without it");
        }
        if (!oscServer->start(static_cast<std::uint16_t>(settings.value(QStringLiteral("api.osc.port")).toInt()))) {
            logger.log(core::LogLevel::WARN, "api_server", "the OSC door could not start; the app runs without it");
        }
    }

    // The main loop's hand-offs, stopped before the doors and the controllers go.
    QTimer doorPump(&application);
    connectDoors(doorPump, project, *apiServer, *oscServer);
    QTimer renderCollection(&application);
    renderCollection.setInterval(kRenderCollectionMs);
    QObject::connect(&renderCollection, &QTimer::timeout, &application,
                     [&] { collectFinishedRenders(project, *apiServer); });
    renderCollection.start();
    QObject::connect(&settings, &SettingsBridge::valueChanged, &application,
                     [&](const QString& id) { applySettingChange(id, settings, themes, logger); });

    int failureExitCode = -1;
    QQmlApplicationEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    engine.rootContext()->setContextProperty(QStringLiteral("theme"), &themes);
    engine.rootContext()->setContextProperty(QStringLiteral("app"), &appController);
    engine.rootContext()->setContextProperty(QStringLiteral("settings"), &settings);
    engine.rootContext()->setContextProperty(QStringLiteral("audio"), &audio);
    engine.rootContext()->setContextProperty(QStringLiteral("instrument"), &instrument);
    engine.rootContext()->setContextProperty(QStringLiteral("midi"), &midi);
    engine.rootContext()->setContextProperty(QStringLiteral("transport"), &transport);
    engine.rootContext()->setContextProperty(QStringLiteral("project"), &project);
    // Queued: the failure arrives once the event loop runs, and ends it.
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreationFailed, &application,
        [&] {
            logger.log(core::LogLevel::ERROR, "ui", "the main window failed to load");
            failureExitCode = kMainWindowFailedExitCode;
            QCoreApplication::exit(kMainWindowFailedExitCode);
        },
        Qt::QueuedConnection);
    engine.load(setup.mainWindow);

    QQuickWindow* window =
        engine.rootObjects().isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(engine.rootObjects().constFirst());
    if (window != nullptr) {
        // Before the first frame, so the pictures show the open menu or sheet.
        if (parser.isSet(QStringLiteral("demo-menu"))) {
            QMetaObject::invokeMethod(window, "openMenu",
                                      Q_ARG(QVariant, QVariant(parser.value(QStringLiteral("demo-menu")).toInt())));
        }
        if (parser.isSet(QStringLiteral("settings-page"))) {
            QMetaObject::invokeMethod(window, "openSettings",
                                      Q_ARG(QVariant, QVariant(parser.value(QStringLiteral("settings-page")))));
        }
        const FirstFrameContext firstFrame{startupClock, *window,    appController, logger,    parser,         audio,
                                           instrument,   application, transport,    project, failureExitCode};
        // The frame may be swapped on the render thread; the application object as context
        // brings the handler to the GUI thread, after the frame is shown.
        QObject::connect(
            window, &QQuickWindow::frameSwapped, &application, [firstFrame] { onFirstFrame(firstFrame); },
            Qt::SingleShotConnection);
    }

    if (parser.isSet(QStringLiteral("quit-after-ms"))) {
        QTimer::singleShot(quitAfterMilliseconds(parser.value(QStringLiteral("quit-after-ms"))), &application,
                           &QCoreApplication::quit);
    }
    const int result = QGuiApplication::exec();
    logger.log(core::LogLevel::INFO, "app", "Ostrel closed");
    return failureExitCode > 0 ? failureExitCode : result;
}

}  // namespace ostrel::app
