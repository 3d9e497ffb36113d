#pragma once

// Every undoable edit of the song document, for callers that build many kinds.
#include "model/commands/ClipCommands.h"
#include "model/commands/Command.h"
#include "model/commands/CompositeCommand.h"
#include "model/commands/DeviceCommands.h"
#include "model/commands/NoteCommands.h"
#include "model/commands/ProjectCommands.h"
#include "model/commands/TrackCommands.h"
