#pragma once

#include <string>
#include <utility>

namespace ostrel::engine {

// The engine's failure convention: the reason goes to error when the caller asked for one
// (error may be null); always returns false, so a failing path can return it directly.
inline bool fail(std::string* error, std::string reason) {
    if (error != nullptr) {
        *error = std::move(reason);
    }
    return false;
}

}  // namespace ostrel::engine
