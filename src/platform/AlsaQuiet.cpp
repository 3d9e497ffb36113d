#include "platform/AlsaQuiet.h"

#include <alsa/asoundlib.h>

#include <mutex>

namespace ostrel::engine { inline namespace platform {
namespace {

void silentAlsa(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

void silenceAlsaErrors() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(&silentAlsa); });
}

} }  // namespace ostrel::engine::platform
