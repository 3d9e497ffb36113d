#include "model/commands/Command.h"

namespace ostrel::model {

bool Command::mergeWith(const Command&) {
    return false;
}

}  // namespace ostrel::model
