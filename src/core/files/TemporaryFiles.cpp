#include "core/files/TemporaryFiles.h"

#include <atomic>
#include <climits>
#include <cstdint>

namespace ostrel::core::TemporaryFiles {
namespace {

// A sequence lock per slot: odd while its path changes, so a reader that saw the same even
// number before and after reading has a whole path. The characters are relaxed atomics so
// that reading while a writer changes them is no data race.
struct Slot {
    std::atomic<bool> taken{false};
    std::atomic<std::uint32_t> sequence{0};
    std::atomic<Kind> kind{Kind::File};
    std::atomic<char> path[PATH_MAX]{};
};
static_assert(std::atomic<Kind>::is_always_lock_free);

Slot slots[kSlots];

void setPath(Slot& slot, const char* path, std::size_t length, Kind kind) {
    slot.sequence.fetch_add(1, std::memory_order_acq_rel);
    slot.kind.store(kind, std::memory_order_relaxed);
    for (std::size_t i = 0; i < length; ++i) {
        slot.path[i].store(path[i], std::memory_order_relaxed);
    }
    slot.path[length].store('\0', std::memory_order_relaxed);
    slot.sequence.fetch_add(1, std::memory_order_release);
}

}  // namespace

int enter(const std::filesystem::path& path, Kind kind) noexcept {
    const std::size_t length = path.native().size();
    if (length == 0 || length >= PATH_MAX) {
        return -1;
    }
    for (int i = 0; i < kSlots; ++i) {
        bool expected = false;
        if (slots[i].taken.compare_exchange_strong(expected, true, std::memory_order_acquire)) {
            setPath(slots[i], path.c_str(), length, kind);
            return i;
        }
    }
    return -1;
}

void leave(int slot) noexcept {
    if (slot < 0 || slot >= kSlots) {
        return;
    }
    setPath(slots[slot], "", 0, Kind::File);
    slots[slot].taken.store(false, std::memory_order_release);
}

void forEach(void (*visit)(const char* path, Kind kind, void* context), void* context) noexcept {
    for (Slot& slot : slots) {
        const std::uint32_t before = slot.sequence.load(std::memory_order_acquire);
        if (before % 2 != 0 || slot.path[0].load(std::memory_order_relaxed) == '\0') {
            continue;
        }
        char path[PATH_MAX];
        std::size_t i = 0;
        while (i + 1 < sizeof path && (path[i] = slot.path[i].load(std::memory_order_relaxed)) != '\0') {
            ++i;
        }
        path[i] = '\0';
        const Kind kind = slot.kind.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (slot.sequence.load(std::memory_order_relaxed) == before) {
            visit(path, kind, context);
        }
    }
}

}  // namespace ostrel::core::TemporaryFiles
