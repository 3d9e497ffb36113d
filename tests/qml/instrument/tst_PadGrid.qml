import QtQuick
import QtTest
import Ostrel.App

// Against the real instrument controller over the hand-rendered sound card.
Item {
    id: stage

    width: 500
    height: 300

    Component { id: gridComponent; PadGrid { width: 400; height: 240 } }

    TestCase {
        name: "PadGrid"
        when: windowShown

        function init() {
            testHost.resetControllers();
            settings.setValue("appearance.reduce_motion", true);
            app.helpText = "";
        }

        function cleanup() {
            testHost.resetControllers();
        }

        // The pads in reading order, top-left first.
        function makePads() {
            const grid = createTemporaryObject(gridComponent, stage);
            verify(grid);
            const pads = [];
            for (let i = 0; i < 16; ++i)
                pads.push(findChild(grid, "pad" + i));
            return pads;
        }

        function label(pad) {
            return findChild(pad, "padLabel").text;
        }

        function test_without_a_kit_the_pads_run_up_from_the_octaves_c_data() {
            return [{tag: "octave 4", shift: 0, first: 60, bottomLeft: "C4", topRight: "D#5"},
                    {tag: "octave 1", shift: -3, first: 24, bottomLeft: "C1", topRight: "D#2"},
                    {tag: "octave 7", shift: 3, first: 96, bottomLeft: "C7", topRight: "D#8"}];
        }

        function test_without_a_kit_the_pads_run_up_from_the_octaves_c(data) {
            const pads = makePads();
            for (let i = 0; i < Math.abs(data.shift); ++i)
                instrument.shiftOctave(data.shift);
            const f = data.first;
            compare(pads.map(p => p.note), [f + 12, f + 13, f + 14, f + 15, f + 8, f + 9, f + 10, f + 11,
                                            f + 4, f + 5, f + 6, f + 7, f, f + 1, f + 2, f + 3]);
            compare([label(pads[12]), label(pads[3])], [data.bottomLeft, data.topRight]);
            verify(pads.every(p => p.sounds && p.opacity === 1));
        }

        function test_a_kit_names_its_drums_and_dims_the_silent_pads_data() {
            return [
                {tag: "built-in kit", use: () => instrument.selectPatch("Modular Drums"),
                 named: {36: "Kick", 38: "Snare", 39: "Clap", 41: "Low tom", 42: "Closed hat", 45: "High tom",
                         46: "Open hat", 49: "Crash"}},
                {tag: "drum rack", named: {36: "Kick", 40: "Big snare.take2"}, use: () => instrument.useTrackInstrument(
                     "Drum Rack", JSON.stringify({pads: [{note: 36, sample: "Kick.wav"}, {note: 40, sample: "Big snare.take2.wav"}]}),
                     testHost.galleryFolder)}
            ];
        }

        function test_a_kit_names_its_drums_and_dims_the_silent_pads(data) {
            const pads = makePads();
            data.use();
            compare(pads[12].note, 36);
            compare(pads[3].note, 51);
            for (const pad of pads) {
                const name = data.named[pad.note] || "";
                compare([label(pad), pad.sounds, pad.opacity], [name, name !== "", name !== "" ? 1 : 0.45], "note " + pad.note);
            }
            // A silent pad is transparent and takes no press or hover.
            const silent = pads.find(p => !p.sounds);
            verify(Qt.colorEqual(silent.color, "transparent"));
            mouseMove(silent, 10, 10);
            mouseClick(silent, 10, 10);
            compare(app.helpText, "");
            compare(instrument.activeNotes, []);
        }

        function test_a_pad_plays_its_note_and_lights_while_it_sounds() {
            const pads = makePads();
            instrument.selectPatch("Modular Drums");
            const snare = pads[14];
            mouseMove(snare, 10, 10);
            compare(app.helpText, "Hit the Snare pad. Drums use the standard drum keys, so a MIDI drum pad or keyboard plays them too.");
            mousePress(snare, 10, 10);
            compare(instrument.pressedKeys, [1038]);
            verify(Qt.colorEqual(snare.color, theme.colors.accent));
            verify(Qt.colorEqual(snare.border.color, theme.colors.accent2));
            verify(Qt.colorEqual(findChild(snare, "padLabel").color, theme.colors.onAccent));
            mouseRelease(snare, 10, 10);
            compare(instrument.pressedKeys, []);
            verify(!snare.lit);
            // Another instrument under the resting pointer: its own sentence.
            instrument.selectPatch("Modular Lead");
            compare(app.helpText, "Play this note with a pad. Change the octave with the Octave buttons.");
        }

        function test_a_pad_lights_from_every_source_data() {
            return [{tag: "a MIDI keyboard", play: () => testHost.playMidiMessage(0x90, 60, 100)},
                    {tag: "the computer keyboard", play: () => instrument.keyDown(0)},
                    {tag: "the piano key", play: () => instrument.padDown(60)}];
        }

        function test_a_pad_lights_from_every_source(data) {
            const pads = makePads();
            data.play();
            compare(pads.filter(p => p.lit).map(p => p.note), [60]);
        }

        function test_a_note_held_on_a_pad_and_from_midi_stays_lit_until_both_let_go() {
            const c4 = makePads()[12];
            mousePress(c4, 10, 10);
            testHost.playMidiMessage(0x90, 60, 100);
            mouseRelease(c4, 10, 10);
            verify(c4.lit);
            testHost.playMidiMessage(0x80, 60, 0);
            verify(!c4.lit);
        }

        function test_an_octave_change_during_a_press_releases_the_note_it_started() {
            const c4 = makePads()[12];
            mousePress(c4, 10, 10);
            instrument.shiftOctave(1);
            compare(c4.note, 72);
            mouseRelease(c4, 10, 10);
            compare(instrument.pressedKeys, []);
        }
    }
}
