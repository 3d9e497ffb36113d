import QtQuick
import QtTest
import Ostrel.App
import "../Contrast.js" as Contrast

// Against the real instrument controller over the hand-rendered sound card.
Item {
    id: stage

    width: 1100
    height: 200

    Component { id: pianoComponent; PianoKeys { width: 600 } }

    TestCase {
        name: "PianoKeys"
        when: windowShown

        SignalSpy { id: focusSpy; signalName: "wantsFocus" }

        function init() {
            testHost.resetControllers();
            app.helpText = "";
        }

        function cleanup() {
            testHost.resetControllers();
            theme.currentId = "graphite";
        }

        function makePiano(props) {
            const piano = createTemporaryObject(pianoComponent, stage, props || {});
            verify(piano);
            focusSpy.target = piano;
            focusSpy.clear();
            return piano;
        }

        function key(piano, note) {
            return findChild(piano, "key" + note);
        }

        function scroll(piano) {
            return findChild(piano, "keysView").contentX;
        }

        function wheel(piano, dy, dx, modifiers) {
            mouseWheel(piano, 50, 20, dx || 0, dy, Qt.NoButton, modifiers || Qt.NoModifier);
        }

        function test_key_width_follows_the_view_within_its_bounds_data() {
            return [{tag: "wide", width: 1000, keyW: 40, contentW: 3000},
                    {tag: "narrow", width: 100, keyW: 8, contentW: 600}];
        }

        function test_key_width_follows_the_view_within_its_bounds(data) {
            const piano = makePiano({width: data.width});
            compare([piano.keyW, piano.contentW], [data.keyW, data.contentW]);
        }

        function test_black_keys_stand_over_the_gaps_that_have_them_and_cs_are_labelled() {
            const piano = makePiano();
            const whitesBelow = new Set();
            let blacks = 0;
            for (let note = 1; note < 128; ++note) {
                if (!piano.isBlack(note))
                    continue;
                // Centred on the 2 px gap after the white key below it.
                const black = key(piano, note), below = key(piano, note - 1);
                compare(black.x + black.width / 2, below.x + below.width + 1, "note " + note);
                whitesBelow.add((note - 1) % 12);
                ++blacks;
            }
            // Over C-D, D-E, F-G, G-A and A-B only.
            compare(Array.from(whitesBelow).sort((a, b) => a - b), [0, 2, 5, 7, 9]);
            compare([blacks, piano.totalWhite], [53, 75]);
            compare(findChild(key(piano, 60), "octaveLabel").text, "C4");
            compare(findChild(key(piano, 0), "octaveLabel").text, "C-1");
            verify(!findChild(key(piano, 62), "octaveLabel").visible);
        }

        // A C's label fits its key: with its octave at up to 12 px, the C alone on a key too
        // narrow for that at 8 px, none on the narrowest. At 940 px wide the 12 px "C4" was
        // wider than its 14 px key, and the black key beside it cut it.
        function test_the_c_labels_fit_their_keys_data() {
            return [{tag: "wide keys", width: 1000, text: "C4", size: 12},
                    {tag: "narrow keys", width: 300, text: "C"},
                    {tag: "the narrowest keys", width: 175, text: ""}];
        }

        function test_the_c_labels_fit_their_keys(data) {
            const piano = makePiano({width: data.width});
            const c4 = key(piano, 60);
            const label = findChild(c4, "octaveLabel");
            compare(label.visible ? label.text : "", data.text);
            if (!label.visible)
                return;
            if (data.size !== undefined)
                compare(label.font.pixelSize, data.size);
            verify(label.font.pixelSize >= 8, label.font.pixelSize);
            verify(label.contentWidth <= c4.width - 2, label.contentWidth + " on a key " + c4.width + " wide");
        }

        function test_black_keys_are_darker_than_white_keys_in_every_theme_data() {
            return theme.themeIds.map(id => ({tag: id}));
        }

        function test_black_keys_are_darker_than_white_keys_in_every_theme(data) {
            theme.currentId = data.tag;
            const piano = makePiano();
            verify(Contrast.luminance(key(piano, 61).color) < Contrast.luminance(key(piano, 60).color));
        }

        // Measured in the picture: an unlit white key against a black key, a C label on its
        // key, and the edge of a key held down against the unlit white key beside it.
        function test_keys_and_their_states_stand_3_to_1_apart_in_every_theme_data() {
            return Contrast.themeRows();
        }

        function test_keys_and_their_states_stand_3_to_1_apart_in_every_theme(data) {
            theme.currentId = data.themeId;
            const piano = makePiano();
            const held = key(piano, 64);
            mousePress(held, held.width / 2, held.height - 20);
            verify(held.lit);
            waitForRendering(piano);
            const picture = grabImage(piano);
            const at = (note, x, y) => {
                const p = key(piano, note).mapToItem(piano, x, y);
                return picture.pixel(Math.floor(p.x), Math.floor(p.y));
            };
            const white = at(62, key(piano, 62).width / 2, piano.height - 12);
            const black = at(61, key(piano, 61).width / 2, 20);
            const heldEdge = at(64, 1, piano.height - 30);
            const beside = at(65, key(piano, 65).width / 2, piano.height - 30);
            const keys = Contrast.ratio(white, black);
            const edge = Contrast.ratio(heldEdge, beside);
            mouseRelease(held, held.width / 2, held.height - 20);
            verify(keys >= 3, "white against black keys " + keys.toFixed(2));
            verify(edge >= 3, "a held key's edge against the next white key " + edge.toFixed(2));
            const label = findChild(key(piano, 60), "octaveLabel");
            const legible = Contrast.ratio(label.color, key(piano, 60).color);
            verify(legible >= 4.5, "the C label on its key " + legible.toFixed(2));
        }

        function test_a_press_plays_the_key_alone_and_the_release_stops_it_data() {
            return [{tag: "white C4", note: 60, lit: "accent"}, {tag: "black C#4", note: 61, lit: "accent2"}];
        }

        function test_a_press_plays_the_key_alone_and_the_release_stops_it(data) {
            const piano = makePiano();
            const pressed = key(piano, data.note);
            mouseMove(pressed, pressed.width / 2, 10);
            compare(app.helpText, "Click to play this note (MIDI " + data.note + "). Wheel scrolls sideways, Ctrl + wheel zooms.");
            mousePress(pressed, pressed.width / 2, 10);
            compare(focusSpy.count, 1);
            compare(instrument.pressedKeys, [1000 + data.note]);
            verify(Qt.colorEqual(pressed.color, theme.colors[data.lit]));
            mouseRelease(pressed, pressed.width / 2, 10);
            compare(instrument.pressedKeys, []);
            mouseMove(stage, stage.width - 1, stage.height - 1);
            compare(app.helpText, "");
        }

        function test_a_glide_drags_the_keyboard_and_lets_the_note_go() {
            const piano = makePiano();
            const start = scroll(piano);
            mouseDrag(piano, 400, piano.height - 10, -200, 0);
            verify(scroll(piano) > start);
            compare(instrument.pressedKeys, []);
        }

        function test_what_lights_a_key_data() {
            return [
                {tag: "a pad of the same note", play: () => instrument.padDown(60), lit: [60]},
                {tag: "computer key at octave 4", play: () => instrument.keyDown(0), lit: [60]},
                {tag: "computer key at octave 6", octave: 2, play: () => instrument.keyDown(14), lit: [98]},
                {tag: "past the top at octave 7", octave: 3, play: () => instrument.keyDown(32), lit: []},
                {tag: "a MIDI keyboard", play: () => testHost.playMidiMessage(0x90, 60, 100), lit: []},
                {tag: "no sound card", play: () => { testHost.refuseSoundCard("no card"); instrument.padDown(60); }, lit: []}
            ];
        }

        function test_what_lights_a_key(data) {
            const piano = makePiano();
            for (let i = 0; i < (data.octave || 0); ++i)
                instrument.shiftOctave(1);
            data.play();
            const lit = [];
            for (let note = 0; note < 128; ++note) {
                if (key(piano, note).lit)
                    lit.push(note);
            }
            compare(lit, data.lit);
        }

        function test_the_wheel_scrolls_sideways_by_60_within_the_keyboard() {
            const piano = makePiano();
            findChild(piano, "keysView").contentX = 100;
            wheel(piano, 120);
            compare(scroll(piano), 40);
            wheel(piano, 120);
            compare(scroll(piano), 0);
            // No vertical part counts as down; Shift changes nothing.
            wheel(piano, 0, 120, Qt.ShiftModifier);
            compare(scroll(piano), 60);
            findChild(piano, "keysView").contentX = piano.contentW - piano.width - 10;
            wheel(piano, -120);
            compare(scroll(piano), piano.contentW - piano.width);
        }

        function test_ctrl_wheel_zooms_between_the_bounds_and_survives_a_resize() {
            const piano = makePiano({width: 100});
            wheel(piano, 120, 0, Qt.ControlModifier);
            compare(piano.keyW, 9.2);
            for (let i = 0; i < 20; ++i)
                wheel(piano, 120, 0, Qt.ControlModifier);
            compare(piano.keyW, piano.kMaxKey);
            const before = scroll(piano);
            wheel(piano, 0, 120, Qt.ControlModifier);
            fuzzyCompare(piano.keyW, piano.kMaxKey / 1.15, 1e-9);
            compare(scroll(piano), before);
            for (let i = 0; i < 20; ++i)
                wheel(piano, -120, 0, Qt.ControlModifier);
            compare(piano.keyW, piano.kMinKey);
            piano.width = 1000;
            compare(piano.keyW, piano.kMinKey);
        }

        function test_an_octave_change_brings_its_c_a_third_across_data() {
            return [{tag: "octave 4", shift: [1, -1], keyW: 24, width: 600, contentX: 640},
                    {tag: "octave 1", shift: [-1, -1, -1], keyW: 24, width: 600, contentX: 136},
                    {tag: "narrower than the view", shift: [1], keyW: 40, width: 3000, contentX: 0}];
        }

        function test_an_octave_change_brings_its_c_a_third_across(data) {
            const piano = makePiano({width: data.width});
            piano.keyW = data.keyW;
            data.shift.forEach(direction => instrument.shiftOctave(direction));
            compare(scroll(piano), data.contentX);
        }

        // Regression: the keys of a laid-out card were placed while they had no width yet, so
        // C4 stood far from a third across, or the view started at C-1.
        function test_the_octaves_c_stands_a_third_across_once_the_width_is_known_and_after_a_resize_data() {
            return [{tag: "laid out after it is made", from: 0, to: 1000},
                    {tag: "wide", from: 0, to: 2000},
                    {tag: "resized", from: 600, to: 1200}];
        }

        function test_the_octaves_c_stands_a_third_across_once_the_width_is_known_and_after_a_resize(data) {
            const piano = makePiano({width: data.from});
            piano.width = data.to;
            const c4 = key(piano, 60);
            tryVerify(() => Math.abs(c4.mapToItem(piano, 0, 0).x - piano.width / 3) < 0.5, 5000,
                      "C4 at " + c4.mapToItem(piano, 0, 0).x + " of " + piano.width);
        }
    }
}
