import QtQuick
import QtTest
import Ostrel.App

// Against the real instrument controller over the hand-rendered sound card and the MIDI
// controller over a fake input, with real mouse and key events.
Item {
    id: stage

    // What the card leaves untaken reaches the window.
    property var untaken: []

    width: 1200
    height: 360

    Keys.onPressed: event => untaken.push(event.key)

    Component { id: cardComponent; PlayCard { width: 1200; height: 300 } }
    Component { id: fieldComponent; FlatTextField { y: 320; width: 200 } }

    // The browser beside the card, as in the window: its rows are dragged onto the card.
    Component {
        id: browserAndCardComponent

        Item {
            property alias browser: browser
            property alias card: card

            width: 1200
            height: 360

            BrowserPanel { id: browser; width: 280; height: 360 }
            PlayCard { id: card; x: 290; width: 910; height: 300 }
        }
    }

    // A browser row as it is dragged.
    Component {
        id: sourceComponent

        Rectangle {
            property string patchName: "FM Organ"
            x: 200
            y: 150
            width: 28
            height: 28
            Drag.keys: ["ostrel/instrument"]
            Drag.hotSpot.x: 14
            Drag.hotSpot.y: 14
        }
    }

    QtObject {
        id: projectStandIn

        property bool recording: false
        property var calls: []

        function setTrackInstrument(id, name) { calls.push(id + " " + name); }
    }

    TestCase {
        name: "PlayCard"
        when: windowShown

        // Semitones 0 to 16 in the order of the keys.
        readonly property var noteKeys: [Qt.Key_A, Qt.Key_W, Qt.Key_S, Qt.Key_E, Qt.Key_D, Qt.Key_F, Qt.Key_T, Qt.Key_G,
                                         Qt.Key_Y, Qt.Key_H, Qt.Key_U, Qt.Key_J, Qt.Key_K, Qt.Key_O, Qt.Key_L, Qt.Key_P,
                                         Qt.Key_Semicolon]

        SignalSpy { id: noteOnSpy; target: instrument; signalName: "noteOn" }
        SignalSpy { id: midiSpy; signalName: "openMidiSettings" }
        SignalSpy { id: clipSpy; signalName: "clipCreated" }
        TextMetrics { id: hintPart }

        function init() {
            testHost.resetControllers();
            settings.setValue("appearance.reduce_motion", true);
            app.helpText = "";
            stage.untaken = [];
            projectStandIn.calls = [];
            mouseMove(stage, stage.width - 1, stage.height - 1);
        }

        function cleanup() {
            midi.selectDevice("");
            testHost.setMidiInputs([]);
            midi.refreshDevices();
            testHost.resetControllers();
        }

        function makeCard() {
            const card = createTemporaryObject(cardComponent, stage);
            verify(card);
            card.forceActiveFocus();
            midiSpy.target = card;
            midiSpy.clear();
            noteOnSpy.clear();
            return card;
        }

        function part(item, name) {
            const found = findChild(item, name);
            verify(found, name);
            return found;
        }

        function knob(card, key) {
            return part(part(card, "knob_" + key), "knob");
        }

        // As a person does: the pointer comes over the label row first, so it hovers.
        function clickLabel(card, key, button) {
            const row = part(part(card, "knob_" + key), "learnRow");
            mouseMove(row, 5, 5);
            mouseClick(row, 5, 5, button || Qt.LeftButton);
        }

        function status(card, key) {
            return part(part(card, "knob_" + key), "learnStatus").text;
        }

        function moveAway() {
            mouseMove(stage, stage.width - 2, stage.height - 2);
        }

        // The keys held while the key was down.
        function tap(key, modifiers) {
            keyPress(key, modifiers || Qt.NoModifier);
            const held = Array.from(instrument.pressedKeys);
            keyRelease(key, modifiers || Qt.NoModifier);
            return held;
        }

        // Computer keyboard

        function test_every_note_key_plays_its_semitone_from_the_octaves_c() {
            makeCard();
            for (let semitone = 0; semitone < noteKeys.length; ++semitone) {
                keyPress(noteKeys[semitone]);
                compare(instrument.activeNotes, [60 + semitone]);
                keyRelease(noteKeys[semitone]);
                compare(instrument.pressedKeys, []);
            }
            compare(tap(Qt.Key_A, Qt.ShiftModifier), [0]);
            compare(stage.untaken.filter(k => k !== Qt.Key_Shift), []);
        }

        function test_a_key_on_the_card_sounds_and_its_release_ends_the_sound() {
            makeCard();
            keyPress(Qt.Key_A);
            verify(testHost.renderPeak(20) > 0.01);
            keyRelease(Qt.Key_A);
            // Two seconds at most for the release to die away.
            testHost.renderPeak(200);
            verify(testHost.renderPeak(4) < 1e-4);
        }

        function test_the_status_line_shows_why_nothing_plays_until_a_note_plays() {
            const line = part(makeCard(), "statusLine");
            const hint = line.text;
            testHost.refuseSoundCard("the test card is unplugged");
            compare(tap(Qt.Key_A), []);
            verify(line.text.indexOf("the test card is unplugged") >= 0, line.text);
            verify(Qt.colorEqual(line.color, theme.colors.error));
            testHost.refuseSoundCard("");
            compare(tap(Qt.Key_A), [0]);
            compare(line.text, hint);
        }

        function test_keys_the_card_leaves_to_the_window_data() {
            return [{tag: "Ctrl+S", key: Qt.Key_S, modifiers: Qt.ControlModifier},
                    {tag: "Alt+A", key: Qt.Key_A, modifiers: Qt.AltModifier},
                    {tag: "Meta+A", key: Qt.Key_A, modifiers: Qt.MetaModifier},
                    {tag: "colon", key: Qt.Key_Colon, modifiers: Qt.ShiftModifier},
                    {tag: "digit", key: Qt.Key_1},
                    {tag: "arrow", key: Qt.Key_Left},
                    {tag: "function key", key: Qt.Key_F2}];
        }

        function test_keys_the_card_leaves_to_the_window(data) {
            makeCard();
            compare(tap(data.key, data.modifiers), []);
            const modifierKeys = [Qt.Key_Shift, Qt.Key_Control, Qt.Key_Alt, Qt.Key_Meta];
            compare(stage.untaken.filter(k => modifierKeys.indexOf(k) < 0), [data.key]);
        }

        function test_a_held_key_sounds_once_and_a_held_z_moves_one_octave() {
            const card = makeCard();
            keyPress(Qt.Key_A);
            testHost.pressRepeatedKey(card, Qt.Key_A);
            testHost.pressRepeatedKey(card, Qt.Key_A);
            keyRelease(Qt.Key_A);
            compare(noteOnSpy.count, 1);
            keyPress(Qt.Key_Z);
            testHost.pressRepeatedKey(card, Qt.Key_Z);
            keyRelease(Qt.Key_Z);
            compare(instrument.octave, 3);
            compare(stage.untaken, []);
        }

        function test_the_octave_moves_within_its_bounds_data() {
            return [{tag: "Z", keys: [Qt.Key_Z], octave: 3},
                    {tag: "X", keys: [Qt.Key_X], octave: 5},
                    {tag: "Z at octave 1", keys: Array(5).fill(Qt.Key_Z), octave: 1},
                    {tag: "X at octave 7", keys: Array(5).fill(Qt.Key_X), octave: 7},
                    {tag: "buttons", buttons: ["octaveUpButton", "octaveUpButton", "octaveDownButton"], octave: 5}];
        }

        function test_the_octave_moves_within_its_bounds(data) {
            const card = makeCard();
            (data.keys || []).forEach(key => keyClick(key));
            (data.buttons || []).forEach(button => mouseClick(part(card, button)));
            compare(instrument.octave, data.octave);
            compare(part(card, "octaveText").text, "C" + data.octave);
            compare(tap(Qt.Key_A), [0]);
        }

        function test_a_key_released_after_an_octave_change_stops_the_note_it_started() {
            makeCard();
            keyPress(Qt.Key_A);
            keyClick(Qt.Key_X);
            compare(instrument.activeNotes, [60]);
            keyRelease(Qt.Key_A);
            compare(instrument.activeNotes, []);
        }

        function test_space_toggles_the_transport_once() {
            makeCard();
            keyClick(Qt.Key_Space);
            verify(transport.playing);
            keyClick(Qt.Key_Space);
            verify(!transport.playing);
        }

        function test_after_a_click_inside_the_card_the_keys_play_at_once_data() {
            return [{tag: "text box elsewhere has the focus", click: card => {}, held: []},
                    {tag: "knob", click: card => mouseClick(knob(card, "attack"))},
                    {tag: "switch", click: card => mouseClick(part(card, "echoToggle"))},
                    {tag: "Grid button", click: card => mouseClick(part(card, "viewButton_grid"))},
                    {tag: "learn label", click: card => clickLabel(card, "release")},
                    {tag: "piano key", click: card => {
                        const e4 = part(part(card, "pianoKeys"), "key64");
                        mouseClick(e4, e4.width / 2, e4.height - 10);
                    }}];
        }

        function test_after_a_click_inside_the_card_the_keys_play_at_once(data) {
            const card = makeCard();
            createTemporaryObject(fieldComponent, stage).forceActiveFocus();
            data.click(card);
            compare(tap(Qt.Key_S), data.held || [2]);
        }

        // Pads and views

        function test_a_kit_shows_as_pads_and_takes_the_computer_keys_to_the_drum_keys() {
            const card = makeCard();
            mouseClick(part(card, "padsButton"));
            // Pads for another instrument play as the piano does.
            compare(tap(Qt.Key_A), [0]);
            instrument.selectPatch("Modular Bass");
            verify(!card.padMode);
            instrument.selectPatch("Modular Drums");
            verify(card.padMode);
            verify(part(card, "padGrid").visible && !part(card, "pianoKeys").visible);
            compare(tap(Qt.Key_A), [1036]);
            compare(tap(Qt.Key_Semicolon), [1052]);
            // The same kit on the piano plays through the octave.
            mouseClick(part(card, "keysButton"));
            compare(tap(Qt.Key_A), [0]);
        }

        function test_the_view_buttons_switch_the_views_data() {
            return [{tag: "grid", shown: "gridView"}, {tag: "fx", shown: "fxView"}, {tag: "keys", shown: "pianoKeys"},
                    {tag: "pads", view: "keys", then: "padsButton", shown: "padGrid"}];
        }

        function test_the_view_buttons_switch_the_views(data) {
            const card = makeCard();
            const view = data.view || data.tag;
            mouseClick(part(card, "viewButton_" + (view === "keys" ? "fx" : "keys")));
            mouseClick(part(card, "viewButton_" + view));
            if (data.then)
                mouseClick(part(card, data.then));
            compare(card.view, view);
            verify(part(card, "viewButton_" + view).selected);
            for (const name of ["pianoKeys", "padGrid", "gridView", "fxView"])
                compare(part(card, name).visible, name === data.shown, name);
            compare(part(card, "playRow").visible, view === "keys");
            compare(part(card, "statusLine").visible, view === "keys");
            // The grid and effects views take the height of the play row and status line too.
            waitForRendering(card);
            if (view !== "keys")
                verify(part(card, data.shown).height > part(card, "pianoKeys").height);
            // Every view leaves the computer keys playing.
            compare(tap(Qt.Key_S), [2]);
        }

        function test_the_grid_edits_the_clip_the_card_is_given() {
            const card = makeCard();
            clipSpy.target = card;
            clipSpy.clear();
            const track = project.addTrack();
            const first = project.addEmptyClip(track, 0, 4);
            const second = project.addEmptyClip(track, 8, 8);
            const grid = part(card, "gridView");
            mouseClick(part(card, "viewButton_grid"));
            card.sequencerTrackId = track;
            card.sequencerClipId = first;
            compare([grid.trackId, grid.shownClipId, grid.clipLength], [track, first, 4]);
            card.sequencerClipId = second;
            compare([grid.shownClipId, grid.clipLength], [second, 8]);
            // A step placed on the grid lands in the clip the card names.
            waitForRendering(card);
            const cell = findChild(findChild(grid, "row0"), "cell0");
            verify(cell);
            mouseClick(cell, 4, 4);
            compare(project.clipNotes(track, second).length, 5);
            compare(project.clipNotes(track, first).length, 0);
            compare(clipSpy.count, 0);

            // No clip given: the grid makes one, and the card passes its id on.
            card.sequencerClipId = "";
            mouseClick(part(grid, "newClipButton"));
            compare(clipSpy.count, 1);
            const made = clipSpy.signalArguments[0][0];
            verify(made !== "" && made !== first && made !== second);
            compare(grid.shownClipId, made);
            // The window selects it, and the card hands it back down.
            card.sequencerClipId = made;
            compare([grid.madeClipId, grid.shownClipId], ["", made]);
            // Another track empties the grid until one of its clips is given.
            card.sequencerTrackId = project.addTrack();
            card.sequencerClipId = "";
            compare(grid.clipLength, 0);
            verify(part(grid, "emptyState").visible);
        }

        // Left half

        // The instrument keeps its 500 px while the views beside it have the room their play
        // row needs, and gives way down to what its knobs need; nothing of the card leaves it.
        function test_the_halves_share_the_width_data() {
            return [{tag: "at the first window size", width: 1041, instrument: 500},
                    {tag: "in the smallest window", width: 709}];
        }

        function test_the_halves_share_the_width(data) {
            const card = createTemporaryObject(cardComponent, stage, {width: data.width});
            waitForRendering(card);
            const half = findChild(card, "instrumentHalf");
            if (data.instrument !== undefined)
                compare(half.width, data.instrument);
            else
                verify(half.width >= card.instrumentNeed && half.width < 500, half.width);
            verify(card.narrowestWidth <= data.width, card.narrowestWidth);
            for (const name of ["midiButton", "octaveUpButton", "octaveText", "knob_release", "echoToggle"]) {
                const item = findChild(card, name);
                const right = item.mapToItem(card, item.width, 0).x;
                verify(right <= card.width, name + " ends at " + right);
            }
        }

        // The effects view takes the card's whole width: the instrument half, mostly empty
        // beside it, folds away while it shows and comes back with the other views. At
        // 1366 x 768 the FM card's operators 3 and 4 were seen only by scrolling sideways.
        function test_the_effects_view_takes_the_whole_card_data() {
            return [{tag: "fx", view: "fx", folded: true}, {tag: "keys", view: "keys", folded: false},
                    {tag: "grid", view: "grid", folded: false}];
        }

        function test_the_effects_view_takes_the_whole_card(data) {
            const card = createTemporaryObject(cardComponent, stage, {width: 1087});
            mouseClick(findChild(card, "viewButton_" + data.view));
            compare(card.view, data.view);
            waitForRendering(card);
            const half = findChild(card, "instrumentHalf");
            const views = findChild(card, "viewsHalf");
            compare(half.visible, !data.folded);
            const left = views.mapToItem(card, 0, 0).x;
            compare([left, views.width], data.folded ? [0, card.width] : [500 + 3 * theme.spacing, card.width - 500 - 3 * theme.spacing]);
        }

        // The wheel hint takes one line where there is room, and where there is not it breaks
        // only between its two hints. Regression: it broke even beside the widest keyboard.
        function test_the_wheel_hint_breaks_only_when_short_and_only_after_the_dot_data() {
            return [{tag: "wide", width: 1800, lines: 1},
                    {tag: "at the first window size", width: 1041, lines: 2}];
        }

        function test_the_wheel_hint_breaks_only_when_short_and_only_after_the_dot(data) {
            const card = createTemporaryObject(cardComponent, stage, {width: data.width});
            waitForRendering(card);
            const hint = findChild(card, "wheelHint");
            verify(hint.visible);
            compare(hint.text.replace(/\u00a0/g, " "), "wheel: scroll · Ctrl + wheel: zoom");
            compare(hint.lineCount, data.lines);
            verify(!hint.truncated);
            // Broken after the dot, its widest line is the longer of the two hints.
            if (data.lines === 2) {
                hintPart.font = hint.font;
                hintPart.text = "wheel: scroll ·";
                const first = hintPart.advanceWidth;
                hintPart.text = "Ctrl + wheel: zoom";
                fuzzyCompare(hint.contentWidth, Math.max(first, hintPart.advanceWidth), 1);
            }
        }

        function test_the_header_follows_the_patch() {
            const card = makeCard();
            const knobY = knob(card, "volume").mapToItem(card, 0, 0).y;
            instrument.selectPatch("FM Bell");
            compare(part(card, "patchNameText").text, "FM Bell");
            compare(part(card, "patchIcon").category, "fm");
            verify(part(card, "descriptionText").text.startsWith("A struck bell from FM"));
            // A patch without a sentence: an empty line, the knobs stay at the bottom.
            instrument.selectPatch(instrument.patchNames.find(n => card.descriptions[n] === undefined));
            compare(part(card, "descriptionText").text, "");
            compare(knob(card, "volume").mapToItem(card, 0, 0).y, knobY);
        }

        function test_the_switches_ask_the_instrument_and_follow_it_data() {
            return [{tag: "chords", toggle: "chordsToggle", property: "chords"},
                    {tag: "echo", toggle: "echoToggle", property: "effects"}];
        }

        function test_the_switches_ask_the_instrument_and_follow_it(data) {
            const toggle = part(makeCard(), data.toggle);
            const before = instrument[data.property];
            mouseClick(toggle);
            compare([instrument[data.property], toggle.checked], [!before, !before]);
            instrument[data.property] = before;
            compare(toggle.checked, before);
        }

        function test_volume_is_saved_when_a_turn_ends_and_the_sound_knobs_never() {
            const card = makeCard();
            const volume = knob(card, "volume");
            instrument.level = 0.5;
            instrument.commitLevel();
            mousePress(volume, 25, 30);
            mouseMove(volume, 25, 14, -1, Qt.LeftButton);
            fuzzyCompare(instrument.level, 0.6, 1e-6);
            compare(settings.value("instrument.level"), 0.5);
            mouseRelease(volume, 25, 14);
            fuzzyCompare(settings.value("instrument.level"), 0.6, 1e-6);
            mouseDrag(knob(card, "attack"), 25, 30, 0, -16);
            fuzzyCompare(instrument.attack, 0.6, 1e-6);
            fuzzyCompare(settings.value("instrument.level"), 0.6, 1e-6);
            // Another patch brings the sound knobs back to the middle, not the volume.
            instrument.selectPatch("Modular Pad");
            compare(knob(card, "attack").value, 0.5);
            fuzzyCompare(volume.value, 0.6, 1e-6);
        }

        function test_a_double_click_puts_a_knob_at_its_default_data() {
            return [{tag: "volume", property: "level", value: 0.7, shown: "70 %"},
                    {tag: "release", property: "release", value: 0.5, shown: "0"}];
        }

        function test_a_double_click_puts_a_knob_at_its_default(data) {
            const card = makeCard();
            instrument[data.property] = 0.2;
            mouseDoubleClickSequence(knob(card, data.tag), 25, 25);
            fuzzyCompare(instrument[data.property], data.value, 1e-6);
            compare(part(knob(card, data.tag), "knobValueText").text, data.shown);
        }

        function test_the_sound_knobs_read_plus_or_minus_from_the_middle() {
            const format = knob(makeCard(), "brightness").format;
            compare([format(0), format(0.25), format(0.5), format(0.75), format(1)], ["-100", "-50", "0", "+50", "+100"]);
        }

        // MIDI learn

        function test_default_controllers_show_dots_and_numbers_on_hover() {
            const card = makeCard();
            compare(card.knobs.map(k => status(card, k.key)), ["•", "•", "•", "•", "•"]);
            mouseMove(part(part(card, "knob_brightness"), "learnRow"), 5, 5);
            compare(status(card, "brightness"), "CC1");
            verify(app.helpText.indexOf("to control brightness with it") > 0);
            moveAway();
            compare(app.helpText, "");
        }

        function test_learning_ties_the_next_controller_to_the_waiting_knob() {
            const card = makeCard();
            clickLabel(card, "volume");
            compare(instrument.learning, "volume");
            compare(status(card, "volume"), "move…");
            verify(Qt.colorEqual(part(part(card, "knob_volume"), "knobLabel").color, theme.colors.accent2));
            // The sustain pedal is never learned; the knob keeps waiting.
            testHost.playMidiMessage(0xB0, 64, 127);
            compare(instrument.learning, "volume");
            testHost.playMidiMessage(0xB0, 1, 10);
            compare([instrument.learning, instrument.controllerMap.volume], ["", 1]);
            // Brightness keeps controller 74 and its dot.
            compare(instrument.controllerMap.brightness, 74);
            compare(status(card, "brightness"), "•");
            testHost.playMidiMessage(0xB0, 1, 127);
            compare(knob(card, "volume").value, 1);
        }

        function test_one_knob_waits_at_a_time_data() {
            return [{tag: "again cancels", clicks: ["attack", "attack"], learning: ""},
                    {tag: "another moves", clicks: ["attack", "release"], learning: "release"}];
        }

        function test_one_knob_waits_at_a_time(data) {
            const card = makeCard();
            data.clicks.forEach(key => clickLabel(card, key));
            compare(instrument.learning, data.learning);
            moveAway();
            compare(status(card, "attack"), "•");
        }

        function test_a_right_click_removes_every_controller_of_the_knob() {
            const card = makeCard();
            clickLabel(card, "brightness", Qt.RightButton);
            verify(instrument.controllerMap.brightness === undefined);
            moveAway();
            compare(status(card, "brightness"), "");
        }

        // MIDI button and drops

        function test_the_midi_button_shows_the_keyboard_and_asks_for_settings_data() {
            return [{tag: "a keyboard", inputs: ["Studio Keys"], text: "MIDI: connected", selected: true},
                    {tag: "no keyboard", inputs: [], text: "MIDI keyboard\u2026", selected: false}];
        }

        function test_the_midi_button_shows_the_keyboard_and_asks_for_settings(data) {
            testHost.setMidiInputs(data.inputs);
            midi.refreshDevices();
            midi.selectDevice(data.inputs.length > 0 ? data.inputs[0] : "");
            const button = part(makeCard(), "midiButton");
            compare(button.text, data.text);
            compare(button.selected, data.selected);
            mouseClick(button);
            compare(midiSpy.count, 1);
        }

        // Presses on a row, moves the pointer to a point of the stage and lets go there.
        function dragRow(row, toX, toY) {
            mousePress(row, 40, 15);
            mouseMove(row, 52, 15, -1, Qt.LeftButton);
            const end = row.mapFromItem(stage, toX, toY);
            mouseMove(row, end.x, end.y, -1, Qt.LeftButton);
            mouseRelease(row, end.x, end.y);
        }

        function browserRow(browser, name) {
            const tab = part(browser, "instrumentsTab");
            const index = tab.rows.findIndex(row => row.name === name && row.kind !== "header");
            verify(index >= 0, name);
            tab.list.positionViewAtIndex(index, ListView.Contain);
            tab.list.forceLayout();
            const row = tab.list.itemAtIndex(index);
            verify(row, name);
            return row;
        }

        function trackInstrument(id) {
            return project.tracks.find(t => t.id === id).instrument;
        }

        function test_an_instrument_dragged_from_the_browser_plays_on_the_card_data() {
            return [{tag: "onto the instrument", x: 500, y: 150, patch: "FM Bell"},
                    {tag: "onto the views", x: 1000, y: 150, patch: "Modular Lead"}];
        }

        function test_an_instrument_dragged_from_the_browser_plays_on_the_card(data) {
            instrument.selectPatch("Modular Lead");
            const both = createTemporaryObject(browserAndCardComponent, stage);
            verify(both);
            const track = project.addTrack();
            both.card.dropTrackId = track;
            const before = trackInstrument(track);
            waitForRendering(both);
            dragRow(browserRow(both.browser, "FM Bell"), data.x, data.y);
            compare(instrument.patchName, data.patch);
            compare(trackInstrument(track), data.patch === "FM Bell" ? "FM Bell" : before);
            if (data.patch === "FM Bell") {
                verify(both.card.activeFocus);
                // The dropped sound is what the keys play now.
                keyPress(Qt.Key_A);
                verify(testHost.renderPeak(20) > 0.01);
                keyRelease(Qt.Key_A);
            }
        }

        function test_a_dropped_instrument_plays_and_goes_on_the_selected_track_data() {
            return [{tag: "no track", trackId: "", calls: [], patch: "FM Organ"},
                    {tag: "a track", trackId: "t7", calls: ["t7 FM Organ"], patch: "FM Organ"},
                    {tag: "not an instrument", keys: ["ostrel/effect"], trackId: "t7", calls: [], patch: "Modular Lead"}];
        }

        function test_a_dropped_instrument_plays_and_goes_on_the_selected_track(data) {
            testHost.replaceContextObject("project", projectStandIn);
            const card = makeCard();
            card.dropTrackId = data.trackId;
            createTemporaryObject(fieldComponent, stage).forceActiveFocus();
            const source = createTemporaryObject(sourceComponent, stage);
            if (data.keys)
                source.Drag.keys = data.keys;
            source.Drag.active = true;
            source.Drag.drop();
            compare(instrument.patchName, data.patch);
            compare(projectStandIn.calls, data.calls);
            if (!data.keys)
                compare(tap(Qt.Key_A), [0]);
        }
    }
}
