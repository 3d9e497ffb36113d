#include "core/Processors.h"

#include <sched.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

// The first `count` processors this thread may run on.
cpu_set_t firstAllowed(int count) {
    cpu_set_t mine;
    CPU_ZERO(&mine);
    EXPECT_EQ(sched_getaffinity(0, sizeof mine, &mine), 0);
    cpu_set_t chosen;
    CPU_ZERO(&chosen);
    for (int cpu = 0, taken = 0; cpu < CPU_SETSIZE && taken < count; ++cpu) {
        if (CPU_ISSET(cpu, &mine)) {
            CPU_SET(cpu, &chosen);
            ++taken;
        }
    }
    return chosen;
}

// As `taskset -c` would leave a program: the count follows the mask, on the thread and on
// the threads it starts, whatever the machine has.
TEST(UsableProcessors, FollowTheAffinityMaskOfTheThreadAndOfTheThreadsItStarts) {
    const int all = ostrel::core::usableProcessors();
    ASSERT_GE(all, 1);
    for (int count : {1, 2}) {
        if (count > all) {
            continue;
        }
        std::thread restricted([&] {
            const cpu_set_t mask = firstAllowed(count);
            ASSERT_EQ(sched_setaffinity(0, sizeof mask, &mask), 0);
            EXPECT_EQ(ostrel::core::usableProcessors(), count);
            int seenByChild = 0;
            std::thread child([&] { seenByChild = ostrel::core::usableProcessors(); });
            child.join();
            EXPECT_EQ(seenByChild, count);
        });
        restricted.join();
    }
    EXPECT_EQ(ostrel::core::usableProcessors(), all) << "other threads keep their own mask";
}

}  // namespace
