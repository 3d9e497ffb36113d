#pragma once

#include <string>
#include <system_error>
#include <utility>

namespace ostrel::core {

// The failure convention of the core services: the reason goes to error when the caller
// asked for one (error may be null); always returns false, so a failing path returns it.
inline bool fail(std::string* error, std::string reason) {
    if (error != nullptr) {
        *error = std::move(reason);
    }
    return false;
}

// The system's words for an errno value, for the end of such a reason.
inline std::string systemMessage(int code) { return std::system_category().message(code); }

}  // namespace ostrel::core
