#pragma once

#include <string>
#include <string_view>

namespace ostrel::core {

// Which build of the program is running; fixed when the program is built.
struct BuildInfo {
    int major;
    int minor;
    int patch;
    std::string_view prerelease;  // empty for a release build
    std::string_view version;     // "major.minor.patch" and "-" prerelease when there is one
    std::string_view commit;      // short id of the source revision
};

const BuildInfo& buildInfo();

// The version text, "+" and the commit id, for example "0.2.0-alpha.39+7c95359".
std::string appVersion();

}  // namespace ostrel::core
