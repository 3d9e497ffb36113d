#pragma once

#include <cstdio>
#include <cstdlib>

namespace ostrel::bench {

// Set-up that fails would leave a benchmark timing nothing: stop the run instead.
inline void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "benchmark set-up failed: %s\n", what);
        std::exit(1);
    }
}

}  // namespace ostrel::bench
