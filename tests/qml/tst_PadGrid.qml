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

        readonly property var kitNames: ({36: "Kick", 38: "Snare", 39: "Clap", 41: "Low tom", 42: "Closed hat",
                                          45: "High tom", 46: "Open hat", 49: "Crash"})

        function init() {
            testHost.resetControllers();
            settings.setValue("appearance.reduce_motion", true);
            app.helpText = "";
        }

        function cleanup() {
            testHost.resetControllers();
        }

        function makeGrid() {
            const grid = createTemporaryObject(gridComponent, stage);
            verify(grid);
            return grid;
        }

        function pads(grid) {
            const found = [];
            for (let i = 0; i < 16; ++i)
                found.push(findChild(grid, "pad" + i));
            return found;
        }

        // The notes of the pads, top row first, as they stand on screen.
        function rows(grid) {
            const all = pads(grid).map(p => p.note);
            return [all.slice(0, 4), all.slice(4, 8), all.slice(8, 12), all.slice(12, 16)];
        }

        function label(pad) {
            return findChild(pad, "padLabel").text;
        }

        function test_pads_play_sixteen_notes_from_the_octaves_c_data() {
            return [{tag: "octave 4", shift: 0, first: 60, bottomLeft: "C4", topRight: "D#5"},
                    {tag: "octave 1", shift: -3, first: 24, bottomLeft: "C1", topRight: "D#2"},
                    {tag: "octave 7", shift: 3, first: 96, bottomLeft: "C7", topRight: "D#8"}];
        }

        function test_pads_play_sixteen_notes_from_the_octaves_c(data) {
            const grid = makeGrid();
            for (let i = 0; i < Math.abs(data.shift); ++i)
                instrument.shiftOctave(data.shift);
            const f = data.first;
            compare(rows(grid), [[f + 12, f + 13, f + 14, f + 15], [f + 8, f + 9, f + 10, f + 11],
                                 [f + 4, f + 5, f + 6, f + 7], [f, f + 1, f + 2, f + 3]]);
            compare(label(pads(grid)[12]), data.bottomLeft);
            compare(label(pads(grid)[3]), data.topRight);
            verify(pads(grid).every(p => p.sounds && p.opacity === 1));
        }

        function test_the_built_in_kit_names_its_eight_drums_and_dims_the_rest() {
            const grid = makeGrid();
            instrument.selectPatch("Modular Drums");
            compare(rows(grid), [[48, 49, 50, 51], [44, 45, 46, 47], [40, 41, 42, 43], [36, 37, 38, 39]]);
            for (const pad of pads(grid)) {
                const name = kitNames[pad.note] || "";
                compare(label(pad), name, "note " + pad.note);
                compare(pad.sounds, name !== "");
                compare(pad.opacity, name !== "" ? 1 : 0.45);
                if (name === "")
                    verify(Qt.colorEqual(pad.color, "transparent"));
            }
        }

        function test_a_silent_pad_takes_no_press_and_no_hover() {
            const grid = makeGrid();
            instrument.selectPatch("Modular Drums");
            const silent = pads(grid).find(p => p.note === 37);
            mouseMove(silent, 10, 10);
            mousePress(silent, 10, 10);
            compare(instrument.pressedKeys, []);
            compare(app.helpText, "");
            mouseRelease(silent, 10, 10);
        }

        function test_a_drum_rack_plays_only_the_pads_with_sounds() {
            const grid = makeGrid();
            const config = {pads: [{note: 36, sample: "Kick.wav"}, {note: 40, sample: "Big snare.take2.wav"}]};
            instrument.useTrackInstrument("Drum Rack", JSON.stringify(config), testHost.galleryFolder);
            const sounding = pads(grid).filter(p => p.sounds);
            compare(sounding.map(p => p.note), [40, 36]);
            compare(sounding.map(label), ["Big snare.take2", "Kick"]);
        }

        function test_a_pad_plays_its_note_and_lights_while_it_sounds() {
            const grid = makeGrid();
            instrument.selectPatch("Modular Drums");
            const snare = pads(grid)[14];
            mousePress(snare, 10, 10);
            compare(instrument.pressedKeys, [1038]);
            verify(snare.lit);
            verify(Qt.colorEqual(snare.color, theme.colors.accent));
            verify(Qt.colorEqual(snare.border.color, theme.colors.accent2));
            verify(Qt.colorEqual(findChild(snare, "padLabel").color, theme.colors.onAccent));
            mouseRelease(snare, 10, 10);
            compare(instrument.pressedKeys, []);
            verify(!snare.lit);
        }

        function test_a_pad_lights_from_every_source_data() {
            return [
                {tag: "a MIDI keyboard", play: () => testHost.playMidi(0x90, 60, 100)},
                {tag: "the computer keyboard", play: () => instrument.keyDown(0)},
                {tag: "the piano key", play: () => instrument.padDown(60)}
            ];
        }

        function test_a_pad_lights_from_every_source(data) {
            const grid = makeGrid();
            data.play();
            compare(pads(grid).filter(p => p.lit).map(p => p.note), [60]);
        }

        function test_a_note_held_on_a_pad_and_from_midi_stays_lit_until_both_let_go() {
            const grid = makeGrid();
            const c4 = pads(grid)[12];
            mousePress(c4, 10, 10);
            testHost.playMidi(0x90, 60, 100);
            mouseRelease(c4, 10, 10);
            verify(c4.lit);
            testHost.playMidi(0x80, 60, 0);
            verify(!c4.lit);
        }

        function test_an_octave_change_during_a_press_releases_the_note_it_started() {
            const grid = makeGrid();
            const c4 = pads(grid)[12];
            mousePress(c4, 10, 10);
            instrument.shiftOctave(1);
            compare(c4.note, 72);
            mouseRelease(c4, 10, 10);
            compare(instrument.pressedKeys, []);
        }

        function test_the_help_strip_names_the_drum_or_the_octave_buttons() {
            const grid = makeGrid();
            const pad = pads(grid)[12];
            mouseMove(pad, 10, 10);
            compare(app.helpText, "Play this note with a pad. Change the octave with the Octave buttons.");
            instrument.selectPatch("Modular Drums");
            mouseMove(pad, 12, 12);
            compare(app.helpText, "Hit the Kick pad. Drums use the standard drum keys, so a MIDI drum pad or keyboard plays them too.");
            mouseMove(stage, stage.width - 1, stage.height - 1);
            compare(app.helpText, "");
        }
    }
}
