// The editing members of tracks, clips, notes, recording and devices. They keep their places
// in the QML interface; until their rules are built each changes nothing and gives an empty
// result, which is what an edit with an unknown id gives.

#include "app/ProjectController.h"

namespace ostrel::app {

void ProjectController::startRecording(const QString&) {}
void ProjectController::stopRecording() {}
void ProjectController::recordNote(int, int) {}
void ProjectController::recordNoteOff(int) {}
QString ProjectController::addNote(const QString&, const QString&, int, int, double, double) { return {}; }
void ProjectController::removeNote(const QString&, const QString&, const QString&) {}
void ProjectController::editNote(const QString&, const QString&, const QString&, int, int, double, double) {}
QString ProjectController::addDevice(const QString&, const QString&, const QString&) { return {}; }
void ProjectController::removeDevice(const QString&, const QString&) {}
void ProjectController::setDeviceEnabled(const QString&, const QString&, bool) {}
void ProjectController::moveDevice(const QString&, const QString&, int) {}
void ProjectController::setDeviceParameter(const QString&, const QString&, const QString&, double) {}
QString ProjectController::addEmptyClip(const QString&, double, double) { return {}; }
void ProjectController::moveClip(const QString&, const QString&, const QString&, double) {}
void ProjectController::resizeClip(const QString&, const QString&, double) {}
QString ProjectController::splitClip(const QString&, const QString&, double) { return {}; }
void ProjectController::removeClip(const QString&, const QString&) {}
QString ProjectController::duplicateClip(const QString&, const QString&) { return {}; }
int ProjectController::quantizeClip(const QString&, const QString&) { return 0; }
QString ProjectController::addTrack() { return {}; }
QString ProjectController::addAudioTrack() { return {}; }
QString ProjectController::addAudioClip(const QString&, const QString&, double) { return {}; }
void ProjectController::renameTrack(const QString&, const QString&) {}
void ProjectController::removeTrack(const QString&) {}
void ProjectController::setTrackInstrument(const QString&, const QString&) {}
void ProjectController::cycleTrackInstrument(const QString&) {}
void ProjectController::setInstrumentParameter(const QString&, const QString&, double) {}
bool ProjectController::dropSample(const QString&, const QString&, double) { return false; }
void ProjectController::setSamplerSample(const QString&, const QString&) {}
void ProjectController::setSamplerParameter(const QString&, const QString&, double) {}
void ProjectController::setPad(const QString&, int, const QString&) {}
void ProjectController::clearPad(const QString&, int) {}
void ProjectController::setPadParameter(const QString&, int, const QString&, double) {}
void ProjectController::setTrackMuted(const QString&, bool) {}
void ProjectController::setTrackSolo(const QString&, bool) {}
void ProjectController::setTrackVolume(const QString&, double) {}
void ProjectController::addPattern(const QString&) {}

}  // namespace ostrel::app
