#pragma once

// Every undoable edit of the song document, for callers that build many kinds.
#include "model/ClipCommands.h"
#include "model/Command.h"
#include "model/CompositeCommand.h"
#include "model/DeviceCommands.h"
#include "model/NoteCommands.h"
#include "model/ProjectCommands.h"
#include "model/TrackCommands.h"
