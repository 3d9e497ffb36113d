#pragma once

#include <QString>

class QObject;

namespace ostrel::app {

class ProjectController;

// Which views of the demonstration project to show; each adds what its view needs.
struct DemoViews {
    bool devices = false;  // the third track's effects
    bool step = false;     // the Drums track's step grid
    bool fm = false;       // an FM E-Piano track and its operator card
    bool sampler = false;  // a Drum Rack and a Sampler track with generated drums
    bool audio = false;    // an audio track with a generated chord, the SAMPLES list
};

// The song's name, and the file its export is written to in the exports folder.
inline constexpr char kDemoProjectName[] = "Night drive";

// Fills the project with "Night drive": four tracks with a pattern each, instruments and
// effects, plus what the chosen views need, every step an undoable edit; then starts its
// export to WAV in the background. The window's demonstration functions (showDevicesDemo,
// showStepDemo, showFmDemo, showRackDemo, showSamplesDemo) are called by name on `window`
// when it is not null. GUI thread only.
void buildDemoProject(ProjectController& project, const DemoViews& views, QObject* window);

}  // namespace ostrel::app
