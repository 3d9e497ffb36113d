#include "app/api/ApiDoors.h"

#include "app/api/ApiHandler.h"
#include "app/api/MainLoopHandOffs.h"
#include "app/project/ProjectController.h"

#include <QObject>
#include <QTimer>

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

void collectFinishedRenders(ProjectController& project, api_server::ApiServer& server) {
    for (const nlohmann::json& params : renderFinishedNotifications(project.onRenderFinished())) {
        server.notify("ostrel/render.finished", params);
    }
}

}  // namespace ostrel::app
