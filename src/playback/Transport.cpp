#include "playback/Transport.h"

#include <cmath>

#include "playback/TempoMap.h"

namespace ostrel::engine { inline namespace playback {

namespace {

double validBeats(double beats) {
    return beats >= 0.0 ? beats : 0.0;  // false for NaN too
}

}  // namespace

void Transport::setTempo(double bpm) {
    if (std::isnan(bpm)) {
        return;
    }
    written_.tempo = clampTempo(bpm);
    publish();
}

void Transport::setPlaying(bool on) {
    if (on) {
        ++written_.generation;
    } else if (written_.playing) {
        ++written_.stops;
    }
    written_.playing = on;
    publish();
}

void Transport::setMetronome(bool on) {
    written_.metronome = on;
    publish();
}

void Transport::setStartBeat(double beats) {
    written_.startBeat = validBeats(beats);
    publish();
}

void Transport::setLoop(const LoopRange& loop) {
    LoopRange& held = written_.loop;
    held.startBeats = validBeats(loop.startBeats);
    held.endBeats = validBeats(loop.endBeats);
    held.enabled = loop.enabled && held.endBeats > held.startBeats;
    publish();
}

void Transport::publish() {
    slots_[back_] = written_;
    // acq_rel: the slot's contents travel with the swap, and the slot we get back has been
    // read to the end before the reader let it go.
    back_ = middle_.exchange(static_cast<std::uint8_t>(back_ | kFresh), std::memory_order_acq_rel) & kIndexMask;
}

Transport::State Transport::read() {
    // Relaxed peek: only the exchange below hands a slot over.
    if ((middle_.load(std::memory_order_relaxed) & kFresh) != 0) {
        front_ = middle_.exchange(front_, std::memory_order_acq_rel) & kIndexMask;
    }
    return slots_[front_];
}

} }  // namespace ostrel::engine::playback
