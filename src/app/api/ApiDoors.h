#pragma once

#include "api_server/jsonrpc/ApiServer.h"
#include "api_server/osc/OscServer.h"

#include <QString>

class QTimer;

namespace ostrel::core {
class Logger;
}

namespace ostrel::app {

class ApiHandler;
class ProjectController;
class SettingsBridge;

// How often main hands the doors' queued requests to the method table.
inline constexpr int kDoorPumpMs = 30;

// The JSON-RPC door's request handler: each call straight to the method table.
api_server::ApiServer::Handler apiRequestHandler(ApiHandler& handler);

// The OSC door's: a track given by its position becomes its id first.
api_server::OscServer::Handler oscRequestHandler(ApiHandler& handler);

// Ties the doors into the event loop: the timer (started here at kDoorPumpMs) pumps the
// server, then the OSC door; every change of the song is announced to the client as
// "ostrel/project.changed" at once, so it arrives before the reply of the request that made
// it. Both connections end with the timer, which goes before the doors. GUI thread only.
void connectDoors(QTimer& pump, ProjectController& project, api_server::ApiServer& server,
                  api_server::OscServer& osc);

// Opens or closes both doors as the settings say, at start-up and whenever "api.enabled",
// "api.port" or "api.osc.port" changes: with the switch on, each door listens on its port
// (one open on another port is closed and opened again there), the token made first so a
// client can read it from the settings file; with it off, both are closed. The Control
// API stays closed while that file is not the user's alone (makeTokenFilePrivate). A door that
// cannot open is logged as at start-up and its row in Settings says so until it opens or
// the switch goes off. GUI thread only.
void applyDoorSettings(api_server::ApiServer& server, api_server::OscServer& osc, SettingsBridge& settings,
                       core::Logger& logger);

// Whether a changed setting is one applyDoorSettings acts on.
bool isDoorSetting(const QString& id);

// Collects the finished background renders (playback rebuilds reach the engine inside) and
// announces each finished WAV export as "ostrel/render.finished". GUI thread only.
void collectFinishedRenders(ProjectController& project, api_server::ApiServer& server);

}  // namespace ostrel::app
