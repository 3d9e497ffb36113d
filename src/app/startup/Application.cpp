#include "app/startup/Application.h"

#include "api_server/jsonrpc/ApiServer.h"
#include "api_server/osc/OscServer.h"
#include "app/api/ApiDoors.h"
#include "app/api/ApiHandler.h"
#include "app/api/ApiToken.h"
#include "app/api/MainLoopHandOffs.h"
#include "app/files/FileNames.h"
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
#include "app/startup/DisplayCheck.h"
#include "app/startup/ExitCodes.h"
#include "app/startup/FirstFrame.h"
#include "app/startup/UiScale.h"
#include "app/startup/WindowScreenshot.h"
#include "app/themes/StartupTheme.h"
#include "app/themes/ThemeManager.h"
#include "core/BuildInfo.h"
#include "core/crash/CrashReporter.h"
#include "core/crash/ShutdownSignals.h"
#include "core/files/FolderLock.h"
#include "core/log/FileSink.h"
#include "core/log/Logger.h"
#include "core/settings/SettingsRegistry.h"
#include "core/settings/SettingsStore.h"
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
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>
#include <QVariant>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ostrel::app {
namespace {

constexpr std::uint64_t kLogFileBytes = 5 * 1024 * 1024;
constexpr unsigned kOlderLogFiles = 3;

void logInfo(core::Logger& logger, const char* category, const QString& message) {
    logger.log(core::LogLevel::INFO, category, message.toStdString());
}

// The names the version answer and every window of the run show.
void nameApplication() {
    QGuiApplication::setOrganizationName(QStringLiteral("Ostrel"));
    QGuiApplication::setApplicationName(QStringLiteral("Ostrel"));
    QGuiApplication::setApplicationVersion(QString::fromStdString(core::appVersion()));
}

// The icon and style every window of the run shows; only for a run that shows one (the
// icon makes Qt look for the user's runtime folder, which an answer to --help needs not).
void dressApplication() {
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/ostrel-256.png")));
    QQuickStyle::setStyle(QStringLiteral("Basic"));
}

// The log file at the level the settings ask for, opened with the settings' warnings and
// those of its own older files.
void startLogging(core::Logger& logger, const core::SettingsStore& store, const QString& logFile,
                  const std::vector<std::string>& settingsWarnings) {
    std::vector<std::string> logWarnings;
    logger.addSink(
        std::make_shared<core::FileSink>(pathBytes(logFile), kLogFileBytes, kOlderLogFiles, &logWarnings));
    core::ShutdownSignals::setLogFile(pathBytes(logFile));
    core::LogLevel level = core::LogLevel::INFO;
    if (core::parseLogLevel(store.getString("logging.level"), level)) {
        logger.setLevel(level);
    }
    logger.log(core::LogLevel::INFO, "app", "Ostrel " + core::appVersion() + " starting");
    for (const std::string& warning : settingsWarnings) {
        logger.log(core::LogLevel::WARN, "settings", warning);
    }
    for (const std::string& warning : logWarnings) {
        logger.log(core::LogLevel::WARN, "app", warning);
    }
}

void installCrashReporter(const QString& crashFolder, core::Logger& logger) {
    const core::CrashReporter::Config crashConfig{pathBytes(crashFolder), core::appVersion(), &logger};
    core::CrashReporter::install(crashConfig);
    if (const int reports = core::CrashReporter::countReports(pathBytes(crashFolder)); reports > 0) {
        logger.log(core::LogLevel::WARN, "app",
                   std::to_string(reports) + " crash report(s) from earlier runs are in " + crashFolder.toStdString());
    }
}

// A theme option that names no theme is no reason not to start (the user's own themes are
// known only once the data folder is read): the settings' theme is shown instead, and the
// user told which ids there are.
void warnOfUnknownTheme(const QString& id, const ThemeManager& themes, core::Logger& logger) {
    const QString known = themes.themeIds().join(QStringLiteral(", "));
    logger.log(core::LogLevel::WARN, "ui",
               QStringLiteral("there is no theme '%1' (--theme), so the settings' theme '%2' is shown; the themes "
                              "are %3")
                   .arg(id, themes.currentId(), known)
                   .toStdString());
    std::fprintf(stderr, "Ostrel has no theme '%s' (--theme), so it starts with the theme of its settings, '%s'; the "
                         "themes it knows are %s.\n",
                 qPrintable(id), qPrintable(themes.currentId()), qPrintable(known));
}

// The theme option, else the settings' custom theme, else their built-in one.
void chooseStartupTheme(ThemeManager& themes, const QCommandLineParser& parser, const core::SettingsStore& store,
                        core::Logger& logger) {
    StartupThemeChoice themeChoice;
    if (parser.isSet(QStringLiteral("theme"))) {
        themeChoice.commandLine = parser.value(QStringLiteral("theme"));
    }
    themeChoice.customTheme = QString::fromStdString(store.getString("appearance.custom_theme"));
    themeChoice.builtInTheme = QString::fromStdString(store.getString("appearance.theme"));
    themes.setCurrentId(startupThemeId(themeChoice, themes.themeIds()));
    if (themeChoice.commandLine && themes.currentId() != *themeChoice.commandLine) {
        warnOfUnknownTheme(*themeChoice.commandLine, themes, logger);
    }
}

// Loads the built-in and the user's own themes and picks the one to start with; returns
// the run's folders, which the user's themes live in.
AppFolders setUpThemes(ThemeManager& themes, const QString& dataFolder, const WrittenFolders& written,
                       const QCommandLineParser& parser, const core::SettingsStore& store, core::Logger& logger) {
    logInfo(logger, "ui", QStringLiteral("loaded %1 theme(s)").arg(themes.loadThemeFolder(QStringLiteral(":/themes"))));
    // Qt names a file by the UTF-8 of its text, so in a data folder whose name is not valid
    // UTF-8 it would make and fill another folder: the documents then go where they go
    // without the option, and there are no themes or patches of the user's this run.
    const bool qtNamesDataFolder = QFile::encodeName(dataFolder).toStdString() == pathBytes(dataFolder).native();
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    AppFolders folders = appFolders(dataFolder,
                                    parser.isSet(QStringLiteral("data-dir")) && qtNamesDataFolder
                                        ? DataDirOption::Given
                                        : DataDirOption::Absent,
                                    documents, written);
    if (!qtNamesDataFolder) {
        folders.themes.clear();
        folders.patches.clear();
        logger.log(core::LogLevel::WARN, "app",
                   "the data folder's name is not valid UTF-8, so it keeps no themes or patches this run, and "
                   "projects, exports and samples go to " +
                       pathBytes(documents).native() + "/Ostrel");
    }
    themes.setDirectories(folders.themes, folders.exports);
    if (const int own = themes.loadUserThemes(); own > 0) {
        logInfo(logger, "ui", QStringLiteral("loaded %1 of your own theme(s)").arg(own));
    }
    for (const QString& warning : themes.warnings()) {
        logger.log(core::LogLevel::WARN, "ui", warning.toStdString());
    }
    chooseStartupTheme(themes, parser, store, logger);
    return folders;
}

// Every so often, the renders that have finished go to whoever asked for them.
void startRenderCollection(QTimer& renderCollection, QGuiApplication& application, ProjectController& project,
                           api_server::ApiServer& apiServer) {
    renderCollection.setInterval(kRenderCollectionMs);
    QObject::connect(&renderCollection, &QTimer::timeout, &application,
                     [&] { collectFinishedRenders(project, apiServer); });
    renderCollection.start();
}


// The control API and OSC doors with the main loop's hand-offs. They exist in every run;
// their pumps find nothing to do while they are closed. Members go in reverse order: the
// timers first, then the doors, their threads joined, before any controller their
// handlers call (those outlive this).
struct Doors {
    Doors(QGuiApplication& application, ProjectController& project, TransportController& transport,
          SettingsBridge& settings, core::Logger& logger)
        : api(std::make_unique<api_server::ApiServer>(&logger)),
          handler(&project, &transport),
          osc(std::make_unique<api_server::OscServer>(&logger)),
          pump(&application),
          renderCollection(&application) {
        api->handler = apiRequestHandler(handler);
        osc->handler = oscRequestHandler(handler);
        keepTokenFilePrivate(settings, logger);
        applyDoorSettings(*api, *osc, settings, logger);
        connectDoors(pump, project, *api, *osc);
        startRenderCollection(renderCollection, application, project, *api);
    }

    // Both doors closed and their threads joined, each saying so in the log, before the
    // program says it has closed; what is destroyed later finds them closed.
    void close() {
        renderCollection.stop();
        pump.stop();
        osc->stop();
        api->stop();
    }

    std::unique_ptr<api_server::ApiServer> api;
    ApiHandler handler;
    std::unique_ptr<api_server::OscServer> osc;
    QTimer pump;
    QTimer renderCollection;
};
// The objects QML reaches by name, set in this order.
void setContextObjects(QQmlContext& context, std::initializer_list<std::pair<const char*, QObject*>> objects) {
    for (const auto& [name, object] : objects) {
        context.setContextProperty(QString::fromLatin1(name), object);
    }
}

// Queued: the failure arrives once the event loop runs, and ends it.
void endOnLoadFailure(QQmlApplicationEngine& engine, QGuiApplication& application, core::Logger& logger,
                      int& failureExitCode) {
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreationFailed, &application,
        [&] {
            logger.log(core::LogLevel::ERROR, "ui", "the main window failed to load");
            failureExitCode = kMainWindowFailedExitCode;
            QCoreApplication::exit(kMainWindowFailedExitCode);
        },
        Qt::QueuedConnection);
}

QQuickWindow* mainWindowOf(const QQmlApplicationEngine& engine) {
    return engine.rootObjects().isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(engine.rootObjects().constFirst());
}

// The menu or settings page the command line asks to show open, before the first frame,
// so the pictures show it.
void openDemoViews(QQuickWindow& window, const QCommandLineParser& parser) {
    if (parser.isSet(QStringLiteral("demo-menu"))) {
        QMetaObject::invokeMethod(&window, "openMenu",
                                  Q_ARG(QVariant, QVariant(parser.value(QStringLiteral("demo-menu")).toInt())));
    }
    if (parser.isSet(QStringLiteral("settings-page"))) {
        QMetaObject::invokeMethod(&window, "openSettings",
                                  Q_ARG(QVariant, QVariant(parser.value(QStringLiteral("settings-page")))));
    }
}

void atFirstFrame(const FirstFrameContext& firstFrame) {
    // The frame may be swapped on the render thread; the application object as context
    // brings the handler to the GUI thread, after the frame is shown.
    QObject::connect(
        &firstFrame.window, &QQuickWindow::frameSwapped, &firstFrame.application,
        [firstFrame] { onFirstFrame(firstFrame); }, Qt::SingleShotConnection);
}

const char* signalName(int signal) {
    switch (signal) {
    case SIGINT:
        return "SIGINT";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "SIGTERM";
    }
}

// SIGTERM, SIGINT and SIGHUP (a logout, kill, a service manager, Ctrl+C in the terminal,
// the terminal closing) close the program as its Quit command does: the event loop ends,
// settings and doors are closed in order and "Ostrel closed" is logged. The handler only
// writes to a pipe; this reads it.
std::unique_ptr<QSocketNotifier> quitOnShutdownSignals(QGuiApplication& application, core::Logger& logger) {
    const int pipe = core::ShutdownSignals::install();
    if (pipe < 0) {
        logger.log(core::LogLevel::WARN, "app",
                   "SIGTERM, SIGINT and SIGHUP will end Ostrel without closing it in order");
        return nullptr;
    }
    auto notifier = std::make_unique<QSocketNotifier>(pipe, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &application, [&logger] {
        while (const int signal = core::ShutdownSignals::takePending()) {
            logger.log(core::LogLevel::INFO, "app", std::string("closing on ") + signalName(signal));
            QCoreApplication::quit();
        }
    });
    return notifier;
}

// --quit-after-ms (a value the command line was checked to hold): the event loop is asked to
// quit that long from now, and toldToQuit says it was.
void quitWhenAsked(const QCommandLineParser& parser, QGuiApplication& application, bool& toldToQuit) {
    if (parser.isSet(QStringLiteral("quit-after-ms"))) {
        QTimer::singleShot(quitAfterMilliseconds(parser.value(QStringLiteral("quit-after-ms"))).value_or(0),
                           &application, [&toldToQuit] {
                               toldToQuit = true;
                               QCoreApplication::quit();
                           });
    }
}

// A picture asked for that the run ended before taking was never taken, which the run says
// as it says a picture not saved; a window that failed to load has said why already.
void reportUntakenScreenshot(const QCommandLineParser& parser, ScreenshotRequest& screenshot, bool toldToQuit,
                             core::Logger& logger, int& failureExitCode) {
    if (!parser.isSet(QStringLiteral("screenshot")) || screenshot.done || failureExitCode > 0) {
        return;
    }
    const QString why = toldToQuit ? QStringLiteral("the run was told to quit after %1 ms (--quit-after-ms), before "
                                                    "the picture was taken")
                                         .arg(parser.value(QStringLiteral("quit-after-ms")))
                                   : QStringLiteral("the run was closed before the picture was taken");
    reportScreenshotFailed(screenshot, why, logger, failureExitCode);
}

// Whether Qt has somewhere to show the window: a display named in the environment, or a
// platform chosen (offscreen, say); whether it can be reached is tried apart.
bool hasDisplay(const QStringList& arguments) {
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || choosesPlatform(arguments);
}

// Help, the version and a wrong command line are answered as on a desktop, before any data
// folder is looked at; where no display can be had, on a platform that needs none. A start
// with no display, or with one named that cannot be reached (Qt would abort once the data
// folder is held), is refused here too. Answers the exit code of a run that ends here; else
// the application object may have been made (by an answer that Qt let pass).
std::optional<int> answerBeforeStarting(int& argc, char** argv, const QStringList& arguments,
                                        QCommandLineParser& parser, std::optional<QGuiApplication>& application) {
    const bool display = hasDisplay(arguments);
    std::string unreachable;
    const bool platformUp = display && platformComesUp(argc, argv, &unreachable);
    if (answersWithoutStarting(arguments) && (platformUp || !choosesPlatform(arguments))) {
        if (!platformUp) {
            qputenv("QT_QPA_PLATFORM", "minimal");
        }
        application.emplace(argc, argv);
        parser.process(*application);  // ends the process, unless Qt took an option not known here
        if (const QString mistake = commandLineMistake(parser); !mistake.isEmpty()) {
            std::fprintf(stderr, "Ostrel: %s\n", qPrintable(mistake));
            return kWrongCommandLineExitCode;
        }
    }
    if (!display) {
        std::fprintf(stderr, "Ostrel has no display to show its window on (neither DISPLAY nor WAYLAND_DISPLAY is "
                             "set): start it on a desktop, or run it without a window with "
                             "QT_QPA_PLATFORM=offscreen, as scripts/run.sh does.\n");
        return kNoDisplayExitCode;
    }
    if (!platformUp) {
        std::fprintf(stderr, "%s\n", unreachableDisplaySentence(arguments, unreachable).c_str());
        return kNoDisplayExitCode;
    }
    return std::nullopt;
}

// What a copy that holds its data folder starts first: the log (with the settings'
// warnings), the crash reporter and the shutdown signals.
std::unique_ptr<QSocketNotifier> startServices(QGuiApplication& application, core::Logger& logger,
                                               const core::SettingsStore& store, const QString& dataFolder,
                                               const WrittenFolders& written,
                                               const std::vector<std::string>& settingsWarnings) {
    startLogging(logger, store, writtenFolder(dataFolder, written, "logs") + QStringLiteral("/ostrel.log"),
                 settingsWarnings);
    installCrashReporter(writtenFolder(dataFolder, written, "crashes"), logger);
    return quitOnShutdownSignals(application, logger);
}

// A copy that does not hold its data folder says why on stderr, having written nothing,
// and answers its exit code: it never runs beside another copy, nor on a folder it cannot
// keep its files in or keep to itself.
int refuseToStart(core::FolderLock::Outcome outcome, const core::FolderLock& lock, const QString& dataFolder,
                  const std::string& reason) {
    const std::string folder = pathBytes(dataFolder).native();
    switch (outcome) {
    case core::FolderLock::Outcome::HeldByOther:
        if (lock.holderPid() > 0) {
            std::fprintf(stderr, "Ostrel is already running with this data folder (process %ld).\n", lock.holderPid());
        } else {
            std::fprintf(stderr, "Ostrel is already running with this data folder.\n");
        }
        return kAlreadyRunningExitCode;
    case core::FolderLock::Outcome::Unusable:
        std::fprintf(stderr, "Ostrel cannot use %s as its data folder: %s.\n", folder.c_str(), reason.c_str());
        return kDataFolderUnusableExitCode;
    case core::FolderLock::Outcome::FileRefused:
        std::fprintf(stderr, "Ostrel cannot use %s as its settings file: %s.\n", lock.refusedFile().c_str(),
                     reason.c_str());
        return kDataFolderUnusableExitCode;
    case core::FolderLock::Outcome::Held:
    case core::FolderLock::Outcome::Failed:
        break;
    }
    std::fprintf(stderr, "Ostrel cannot lock its data folder %s against a second copy, so it does not start: %s.\n",
                 folder.c_str(), reason.c_str());
    return kFolderLockFailedExitCode;
}

// A changed setting takes effect at once: the live ones, and the doors opened, closed or
// moved to another port.
void followSettingChanges(QGuiApplication& application, SettingsBridge& settings, ThemeManager& themes, Doors& doors,
                          core::Logger& logger) {
    QObject::connect(&settings, &SettingsBridge::valueChanged, &application, [&](const QString& id) {
        applySettingChange(id, settings, themes, logger);
        if (isDoorSetting(id)) {
            applyDoorSettings(*doors.api, *doors.osc, settings, logger);
        }
    });
}

// Everything a copy that holds its data folder builds, runs and tears down, in order.
// Returns once all of it is gone, the renders and saves it waited for included.
int runWithDataFolder(QGuiApplication& application, const QCommandLineParser& parser, core::SettingsStore& store,
                      const core::SettingsRegistry& registry, const QString& dataFolder,
                      const WrittenFolders& written, const QElapsedTimer& startupClock,
                      const ApplicationSetup& setup) {
    core::Logger& logger = core::Logger::instance();
    const core::ActionScope startupAction("Application startup", logger);

    ThemeManager themes;
    const AppFolders folders = setUpThemes(themes, dataFolder, written, parser, store, logger);

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

    Doors doors(application, project, transport, settings, logger);
    followSettingChanges(application, settings, themes, doors, logger);

    // After the doors, whose token a client reads from the file: what a demonstration
    // switches (the metronome, the patch, the level) is for this run only.
    if (isDemonstration(parser)) {
        settings.setSaving(SettingsSaving::ThisRunOnly);
    }

    int failureExitCode = -1;
    ScreenshotRequest screenshot{parser.value(QStringLiteral("screenshot"))};
    bool toldToQuit = false;
    QQmlApplicationEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    setContextObjects(*engine.rootContext(),
                      {{"theme", &themes}, {"app", &appController}, {"settings", &settings}, {"audio", &audio},
                       {"instrument", &instrument}, {"midi", &midi}, {"transport", &transport}, {"project", &project}});
    endOnLoadFailure(engine, application, logger, failureExitCode);
    engine.load(setup.mainWindow);

    if (QQuickWindow* window = mainWindowOf(engine); window != nullptr) {
        openDemoViews(*window, parser);
        atFirstFrame({startupClock, *window, appController, logger, parser, audio, instrument, application, transport,
                      project, screenshot, failureExitCode});
    }
    quitWhenAsked(parser, application, toldToQuit);
    const int result = QGuiApplication::exec();
    reportUntakenScreenshot(parser, screenshot, toldToQuit, logger, failureExitCode);
    doors.close();
    return failureExitCode > 0 ? failureExitCode : result;
}

}  // namespace

int runApplication(int& argc, char** argv, const ApplicationSetup& setup) {
    QElapsedTimer startupClock;
    startupClock.start();

    nameApplication();
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    std::optional<QGuiApplication> application;
    QCommandLineParser parser;
    addCommandLineOptions(parser);
    if (const std::optional<int> answered = answerBeforeStarting(argc, argv, arguments, parser, application)) {
        return *answered;
    }

    // Before the application object: the data folder, held by this copy alone, the settings
    // and the interface size. A data-dir option that names no folder holds none: the refusal
    // below says why, with nothing written.
    const DataDirArgument dataDir = dataDirArgument(argc, argv);
    const bool namesAFolder =
        dataDir.kind != DataDirArgument::Kind::Empty && dataDir.kind != DataDirArgument::Kind::MissingValue;
    const std::filesystem::path namedPath = dataFolderPath(dataDir, systemDataFolderEnvironment());
    core::FolderLock folderLock;
    std::string folderProblem;
    // A settings file of another user's would let them open the doors and steer the program.
    static constexpr std::string_view kObeyedFiles[] = {"settings.json"};
    const core::FolderLock::Outcome folder =
        namesAFolder ? folderLock.acquire(namedPath, &folderProblem, {kWrittenSubfolders, kObeyedFiles})
                     : core::FolderLock::Outcome::Unusable;
    const bool holdsFolder = folder == core::FolderLock::Outcome::Held;
    if (holdsFolder) {
        folderLock.guardWrites();
    }
    // Held, the folder is used by its real path, which nobody else can change, and so is
    // each folder written into, where a link there led when judged.
    const std::filesystem::path dataPath = holdsFolder ? folderLock.folder() : namedPath;
    const QString dataFolder = pathText(dataPath);
    WrittenFolders written;
    for (std::size_t i = 0; holdsFolder && i < written.size(); ++i) {
        written[i] = pathText(folderLock.writtenFolder(i));
    }
    const core::SettingsRegistry registry = core::buildSettingsRegistry();
    core::SettingsStore store(registry);
    // A copy that is to stop reads nothing it might move aside; the settings file read is the
    // one judged with the folder, and never its name again.
    const std::vector<std::string> settingsWarnings =
        holdsFolder ? store.load(dataPath / "settings.json", folderLock.takeObeyedFile(0))
                    : std::vector<std::string>();
    // A refusal says its sentence alone: no application object, so nothing of Qt's before it.
    if (dataDir.kind == DataDirArgument::Kind::Empty) {
        std::fprintf(stderr, "Ostrel cannot use an empty --data-dir as its data folder: name a folder, or leave the "
                             "option out for the usual one.\n");
        return kDataFolderUnusableExitCode;
    }
    if (!holdsFolder) {
        return refuseToStart(folder, folderLock, pathText(namedPath), folderProblem);
    }
    if (!application) {
        applyUiScale(store.getInt("appearance.ui_scale"));
        application.emplace(argc, argv);
        parser.process(*application);
    }
    dressApplication();

    core::Logger& logger = core::Logger::instance();
    const std::unique_ptr<QSocketNotifier> shutdownSignals =
        startServices(*application, logger, store, dataFolder, written, settingsWarnings);
    const int result =
        runWithDataFolder(*application, parser, store, registry, dataFolder, written, startupClock, setup);
    // Only a close that got this far has closed: one cut short by its limit never says so.
    logger.log(core::LogLevel::INFO, "app", "Ostrel closed");
    return result;
}

}  // namespace ostrel::app
