#pragma once

namespace ostrel::core {

// The processors this thread may run on: its affinity mask (a program started with
// `taskset -c 0-3` gets 4 on any machine), else the machine's count; at least 1.
// Threads started from here inherit the same mask.
int usableProcessors();

}  // namespace ostrel::core
