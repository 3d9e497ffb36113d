#include "app/api/MainLoopHandOffs.h"

#include "app/project/ProjectController.h"

namespace ostrel::app {

std::vector<nlohmann::json> renderFinishedNotifications(const std::vector<engine::RenderResult>& results) {
    std::vector<nlohmann::json> notifications;
    for (const engine::RenderResult& result : results) {
        if (result.kind != engine::RenderJobKind::WavExport) {
            continue;
        }
        notifications.push_back(result.ok ? nlohmann::json{{"path", result.path}, {"seconds", result.seconds}}
                                          : nlohmann::json{{"error", result.error}});
    }
    return notifications;
}

nlohmann::json projectChangedNotification(ProjectController& project) {
    return {{"name", project.name().toStdString()},
            {"tempo", project.tempo()},
            {"trackCount", static_cast<int>(project.document().tracks().size())}};
}

}  // namespace ostrel::app
