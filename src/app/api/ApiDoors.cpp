#include "app/api/ApiDoors.h"

#include "app/api/ApiHandler.h"
#include "app/api/ApiToken.h"
#include "app/api/MainLoopHandOffs.h"
#include "app/project/ProjectController.h"
#include "app/settings/SettingsBridge.h"
#include "core/log/Logger.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace ostrel::app {

api_server::ApiServer::Handler apiRequestHandler(ApiHandler& handler) {
    return [&handler](const std::string& method, const std::string& params) { return handler.handle(method, params); };
}

api_server::OscServer::Handler oscRequestHandler(ApiHandler& handler) {
    return [&handler](const std::string& method, const std::string& params) {
        return handler.handle(method, handler.resolveTrackNumbers(method, params));
    };
}

void connectDoors(QTimer& pump, ProjectController& project, api_server::ApiServer& server,
                  api_server::OscServer& osc) {
    pump.setInterval(kDoorPumpMs);
    QObject::connect(&pump, &QTimer::timeout, &pump, [&server, &osc] {
        server.pump();
        osc.pump();
    });
    QObject::connect(&project, &ProjectController::projectChanged, &pump, [&project, &server] {
        server.notify("ostrel/project.changed", projectChangedNotification(project));
    });
    pump.start();
}

namespace {

const QString kEnabledKey = QStringLiteral("api.enabled");
const QString kPortKey = QStringLiteral("api.port");
const QString kOscPortKey = QStringLiteral("api.osc.port");

std::uint16_t portSetting(const SettingsBridge& settings, const QString& key) {
    return static_cast<std::uint16_t>(settings.value(key).toInt());
}

}  // namespace

bool isDoorSetting(const QString& id) { return id == kEnabledKey || id == kPortKey || id == kOscPortKey; }

void applyDoorSettings(api_server::ApiServer& server, api_server::OscServer& osc, SettingsBridge& settings,
                       core::Logger& logger) {
    if (!settings.value(kEnabledKey).toBool()) {
        osc.stop();
        server.stop();
        settings.setNote(kPortKey, {});
        settings.setNote(kOscPortKey, {});
        settings.setNote(kEnabledKey, {});
        return;
    }
    QStringList problems;
    // Made and saved before the door opens, so a client can read it from the settings file;
    // a door whose token no client can read stays closed.
    QString token;
    std::string unsaved;
    const std::uint16_t port = portSetting(settings, kPortKey);
    const auto keepClosed = [&](const std::string& logged, const QString& shown) {
        server.stop();
        logger.log(core::LogLevel::ERROR, "api_server", logged);
        problems.append(shown);
    };
    if (!ensureApiToken(settings, token, &unsaved)) {
        keepClosed("the API token could not be saved (" + unsaved +
                       "), so no program could read it; the Control API stays closed until it can be saved",
                   QObject::tr("The API token could not be saved in the settings file (%1), so no program could read "
                               "it; the Control API stays closed until it can be. Make room for the file, then switch "
                               "the server off and on again.")
                       .arg(QString::fromStdString(unsaved)));
    } else if (std::string exposed; makeTokenFilePrivate(settings, &exposed) == TokenFile::Exposed) {
        // Clients read the token from the file, so others who can read it could take the door.
        keepClosed("the settings file that holds the API token cannot be made yours alone (" + exposed +
                       "), so other users could read the token; the Control API stays closed until it can be",
                   QObject::tr("The settings file that holds the API token cannot be made yours alone (%1), so other "
                               "users could read the token; the Control API stays closed until it can be. Make the "
                               "file yours, then switch the server off and on again.")
                       .arg(QString::fromStdString(exposed)));
    } else {
        if (server.running() && server.port() != port) {
            server.stop();
        }
        if (std::string why; !server.running() && !server.start(port, token.toStdString(), &why)) {
            logger.log(core::LogLevel::WARN, "api_server", "the Control API could not start; the app runs without it");
            problems.append(QObject::tr("The Control API could not listen on port %1 (%2); the app runs without it.")
                                .arg(port)
                                .arg(QString::fromStdString(why)));
        }
    }
    const std::uint16_t oscPort = portSetting(settings, kOscPortKey);
    if (osc.running() && osc.port() != oscPort) {
        osc.stop();
    }
    if (std::string why; !osc.running() && !osc.start(oscPort, &why)) {
        logger.log(core::LogLevel::WARN, "api_server", "the OSC door could not start; the app runs without it");
        problems.append(QObject::tr("The OSC door could not listen on UDP port %1 (%2); it stays closed.")
                            .arg(oscPort)
                            .arg(QString::fromStdString(why)));
    }
    // The switch's row is on the page everyone sees; the port rows are advanced.
    settings.setNote(kEnabledKey, problems.join(u' '));
}

void collectFinishedRenders(ProjectController& project, api_server::ApiServer& server) {
    for (const nlohmann::json& params : renderFinishedNotifications(project.onRenderFinished())) {
        server.notify("ostrel/render.finished", params);
    }
}

}  // namespace ostrel::app
