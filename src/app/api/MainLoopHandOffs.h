#pragma once

#include "playback/render/BackgroundRenderer.h"

#include <nlohmann/json.hpp>

#include <vector>

namespace ostrel::app {

class ProjectController;

// How often main collects finished background renders.
inline constexpr int kRenderCollectionMs = 40;

// One "ostrel/render.finished" notification per finished WAV export, in the order the exports
// finished: {"path", "seconds"} for a written file, {"error"} for a failed one. Playback
// rebuilds are announced to nobody.
std::vector<nlohmann::json> renderFinishedNotifications(const std::vector<engine::RenderResult>& results);

// The "ostrel/project.changed" parameters: the song's name, tempo and number of tracks.
nlohmann::json projectChangedNotification(ProjectController& project);

}  // namespace ostrel::app
