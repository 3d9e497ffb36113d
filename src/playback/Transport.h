#pragma once

#include <atomic>
#include <cstdint>

namespace ostrel::engine { inline namespace playback {

// The song transport the audio engine plays by: the play flag and its generation, the
// tempo, the metronome switch, the start beat and the loop range. The setters hold the
// rules, so whatever the audio thread reads is already sound: beats are never negative or
// not a number, the tempo stays within 20..300, and a loop is on only when its end is after
// its start.
//
// Single writer (GUI thread), single reader (audio thread). Every setter publishes the
// whole state at once, and the audio thread takes the newest whole state once per chunk, so
// it never sees half of a change (a new loop start with an old end, a new play with an old
// start beat).
class Transport {
public:
    struct LoopRange {
        bool enabled = false;    // on only when endBeats > startBeats
        double startBeats = 0.0;
        double endBeats = 0.0;
    };

    // Everything the audio thread needs for one chunk.
    struct State {
        bool playing = false;
        std::uint32_t generation = 0;  // raised by every start of play
        std::uint32_t stops = 0;       // raised by every stop of play
        double tempo = 120.0;          // beats per minute
        bool metronome = false;
        double startBeat = 0.0;  // where every start of play seeks to
        LoopRange loop;
    };

    Transport() = default;
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    // GUI thread only. Never allocates or locks.
    // Clamped to 20..300 beats per minute; a value that is not a number is ignored.
    void setTempo(double bpm);
    // Starting raises the generation, so that every start of play seeks to the start beat;
    // stopping keeps it.
    void setPlaying(bool on);
    void setMetronome(bool on);
    // Negative or not a number counts as 0.
    void setStartBeat(double beats);
    // Each end negative or not a number counts as 0; the loop is switched on only when
    // asked for and its end is after its start. The range is kept either way.
    void setLoop(const LoopRange& loop);

    // GUI thread only: the values as last set (after the rules).
    const State& state() const { return written_; }
    double tempo() const { return written_.tempo; }
    bool playing() const { return written_.playing; }
    bool metronome() const { return written_.metronome; }
    double startBeat() const { return written_.startBeat; }
    const LoopRange& loop() const { return written_.loop; }

    // Audio thread. The newest whole state the GUI thread set; the same state again when
    // nothing changed since the last read. Never allocates, locks or waits.
    State read();

private:
    void publish();

    // Three slots: the writer fills its back slot and swaps it into the middle; the reader
    // swaps its front slot for the middle when the middle holds something newer. Neither
    // side ever waits for the other.
    static constexpr std::uint8_t kIndexMask = 3;
    static constexpr std::uint8_t kFresh = 4;  // the middle slot was written since the last read

    State written_;  // GUI thread
    State slots_[3];
    std::atomic<std::uint8_t> middle_{1};
    std::uint8_t back_ = 0;   // GUI thread
    std::uint8_t front_ = 2;  // audio thread
};

} }  // namespace ostrel::engine::playback
