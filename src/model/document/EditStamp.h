#pragma once

#include <cstdint>

namespace ostrel::model {

// Which edit last changed a track or a clip. Every edit primitive gives what it changed a
// stamp that no other edit in this process has had, so a reader that keeps something built
// from a track or clip knows it still holds while the stamp's value is the one it saw. Zero
// for what no edit has touched (made new, or read from a file). Not part of the content: a
// stamp compares equal to every other, so stamps never make two songs unequal; compare
// `value` to tell them apart.
struct EditStamp {
    std::uint64_t value = 0;

    // A value never given before. Any thread.
    static EditStamp next();

    friend bool operator==(const EditStamp&, const EditStamp&) { return true; }
};

}  // namespace ostrel::model
