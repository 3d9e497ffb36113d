#include "model/document/EditStamp.h"

#include <atomic>

namespace ostrel::model {

EditStamp EditStamp::next() {
    // Relaxed: only uniqueness is needed, nothing is published through the counter.
    static std::atomic<std::uint64_t> counter{0};
    return EditStamp{counter.fetch_add(1, std::memory_order_relaxed) + 1};
}

}  // namespace ostrel::model
