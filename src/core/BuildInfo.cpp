#include "core/BuildInfo.h"

#include "core/BuildCommit.h"

namespace ostrel::core {
namespace {

#define OSTREL_STRINGIFY2(x) #x
#define OSTREL_STRINGIFY(x) OSTREL_STRINGIFY2(x)
#define OSTREL_PRERELEASE "alpha.39"

constexpr BuildInfo kBuildInfo{
    OSTREL_VERSION_MAJOR,
    OSTREL_VERSION_MINOR,
    OSTREL_VERSION_PATCH,
    OSTREL_PRERELEASE,
    OSTREL_STRINGIFY(OSTREL_VERSION_MAJOR) "." OSTREL_STRINGIFY(OSTREL_VERSION_MINOR) "." OSTREL_STRINGIFY(
        OSTREL_VERSION_PATCH) "-" OSTREL_PRERELEASE,
    OSTREL_BUILD_COMMIT,
};

}  // namespace

const BuildInfo& buildInfo() { return kBuildInfo; }

std::string appVersion() {
    std::string text(kBuildInfo.version);
    text += '+';
    text += kBuildInfo.commit;
    return text;
}

}  // namespace ostrel::core
