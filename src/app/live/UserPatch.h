#pragma once

#include "devices/patches/Patch.h"

#include <QString>

namespace ostrel::app {

// One of the user's own patches, as read from its ".ostpatch" file.
struct UserPatch {
    QString name;
    QString filePath;
    engine::Patch patch;
};

}  // namespace ostrel::app
