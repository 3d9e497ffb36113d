#include "core/Processors.h"

#include <sched.h>

#include <algorithm>
#include <thread>

namespace ostrel::core {

int usableProcessors() {
    cpu_set_t mask;
    CPU_ZERO(&mask);
    // 0: the calling thread, whose mask every thread it starts inherits.
    if (sched_getaffinity(0, sizeof mask, &mask) == 0) {
        const int count = CPU_COUNT(&mask);
        if (count > 0) {
            return count;
        }
    }
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

}  // namespace ostrel::core
