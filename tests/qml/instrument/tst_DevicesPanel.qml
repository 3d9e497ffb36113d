import QtQuick
import QtQuick.Controls.Basic
import QtTest
import Ostrel.App

// The effect chain of a track against the real project controller, with real mouse events
// and in-window drags as the browser starts them.
Item {
    id: stage

    width: 1400
    height: 360

    Component { id: panelComponent; DevicesPanel { width: stage.width; height: 300 } }
    Component { id: playCardComponent; PlayCard { width: stage.width; height: 300 } }

    // A row of the browser's lists as it is dragged: the hot spot lands on the panel.
    Component {
        id: sourceComponent

        Rectangle {
            property string deviceId: "ostrel.delay"
            property string presetName: ""
            property string patchName: "FM Organ"
            property string fileName: "kick.wav"
            x: 600
            y: 250
            width: 28
            height: 28
            Drag.keys: ["ostrel/effect"]
            Drag.hotSpot.x: 14
            Drag.hotSpot.y: 14
        }
    }

    QtObject {
        id: recorder

        property var tracks: []
        readonly property var trackRevisions: tracks.map(t => t.revision)
        property var knobs: []
        property var calls: []

        signal projectChanged()

        function track(id) { return tracks.find(t => t.id === id) || {}; }
        function deviceKnobs(deviceId) { return knobs; }
        function setDeviceParameter(trackId, deviceId, key, value) { calls.push([trackId, deviceId, key, value]); }
    }

    TestCase {
        name: "DevicesPanel"
        when: windowShown

        function init() {
            testHost.resetControllers();
            settings.setValue("appearance.reduce_motion", true);
        }

        function cleanup() {
            theme.currentId = "graphite";
        }

        function makePanel(trackId) {
            const panel = createTemporaryObject(panelComponent, stage);
            verify(panel);
            panel.trackId = trackId;
            settle(panel);
            return panel;
        }

        // The row places its cards when it is next polished.
        function settle(panel) {
            waitForItemPolished(findChild(panel, "chainRow"));
        }

        function trackOf(id) {
            return project.tracks.find(t => t.id === id);
        }

        function chainOf(id) {
            return trackOf(id).deviceList;
        }

        // The cards are made again on every change of the project: look them up afresh.
        function card(panel, index) {
            const found = findChild(panel, "effectCard" + index);
            verify(found, "effect card " + index);
            return found;
        }

        function button(panel, index, name) {
            return findChild(card(panel, index), name);
        }

        function knobOf(panel, index, key) {
            const cell = findChild(card(panel, index), "knob_" + key);
            verify(cell, key);
            return cell.knob;
        }

        // A vertical drag of dy pixels upwards on the knob's dial.
        function turn(knob, dy) {
            const x = knob.width / 2;
            const y = knob.size / 2;
            mousePress(knob, x, y);
            testHost.moveMouse(knob, x, y - dy, Qt.LeftButton, Qt.NoModifier);
            mouseRelease(knob, x, y - dy);
        }

        function dropSource(keys, deviceId, presetName) {
            const source = createTemporaryObject(sourceComponent, stage);
            source.Drag.keys = keys;
            source.deviceId = deviceId;
            source.presetName = presetName;
            source.Drag.active = true;
            return source;
        }

        function test_without_a_track_it_says_how_to_pick_one_and_takes_no_drop() {
            const panel = makePanel("");
            compare(findChild(panel, "emptyTitle").text, "No track selected");
            compare(findChild(panel, "emptyHint").text, "Click a track in the timeline to see and edit its effects.");
            verify(!findChild(panel, "chainView").visible);
            project.addTrack();
            const source = dropSource(["ostrel/effect"], "ostrel.delay", "");
            verify(!findChild(panel, "dropHighlight").visible);
            source.Drag.drop();
            compare(chainOf(project.tracks[0].id).length, 0);
            compare(project.canUndo, true);  // the track, nothing else
            compare(project.undoText, "Add track");
        }

        function test_a_track_that_is_gone_shows_the_same_texts_and_adds_nothing() {
            const id = project.addTrack();
            const panel = makePanel(id);
            project.removeTrack(id);
            compare(panel.track, null);
            compare(findChild(panel, "emptyTitle").text, "No track selected");
            const source = dropSource(["ostrel/effect"], "ostrel.delay", "");
            source.Drag.drop();
            compare(project.undoText, "Remove track");
        }

        // A pixel of the panel under the highlight: the panel's own colour with a tenth of the
        // accent over it.
        function test_the_drop_highlight_tints_the_panel_with_the_accent_in_every_theme_data() {
            return ["graphite", "dark", "steel", "light", "high-contrast"].map(id => ({tag: id}));
        }

        function test_the_drop_highlight_tints_the_panel_with_the_accent_in_every_theme(data) {
            theme.currentId = data.tag;
            const panel = makePanel(project.addTrack());
            waitForRendering(panel);
            const before = grabImage(panel).pixel(8, 100);
            const source = dropSource(["ostrel/effect"], "ostrel.delay", "");
            verify(findChild(panel, "dropHighlight").visible);
            waitForRendering(panel);
            const during = grabImage(panel).pixel(8, 100);
            source.Drag.active = false;
            const accent = Qt.lighter(theme.colors.accent, 1);
            for (const channel of ["r", "g", "b"]) {
                const expected = before[channel] * 0.9 + accent[channel] * 0.1;
                verify(Math.abs(during[channel] - expected) <= 2 / 255,
                       channel + ": " + during[channel] + " for " + expected);
            }
        }

        function test_an_empty_chain_names_the_track_in_quotes() {
            const id = project.addTrack();
            const panel = makePanel(id);
            compare(findChild(panel, "emptyTitle").text, "No effects on “" + trackOf(id).name + "” yet");
            compare(findChild(panel, "emptyHint").text,
                    "Drag an effect from the browser's EFFECTS list onto this panel, or double-click one to add it.");
        }

        function test_a_dropped_preset_lands_at_the_end_with_its_values_data() {
            return [
                {tag: "preset", preset: "Slapback", title: "Delay", subtitle: "Slapback", time: 90},
                {tag: "defaults", preset: "", title: "Delay", subtitle: "", time: 350},
            ];
        }

        function test_a_dropped_preset_lands_at_the_end_with_its_values(data) {
            const id = project.addTrack();
            project.addDevice(id, "ostrel.reverb", "");
            const panel = makePanel(id);
            const source = dropSource(["ostrel/effect"], "ostrel.delay", data.preset);
            verify(findChild(panel, "dropHighlight").visible);
            source.Drag.drop();
            verify(!findChild(panel, "dropHighlight").visible);
            compare(project.undoText, "Add device");
            const chain = chainOf(id);
            compare(chain.length, 2);
            compare(chain[1].deviceId, "ostrel.delay");
            compare(findChild(card(panel, 1), "effectTitle").text, data.title);
            const subtitle = findChild(card(panel, 1), "effectPreset");
            compare(subtitle.visible, data.subtitle !== "");
            compare(subtitle.text, data.subtitle);
            compare(knobOf(panel, 1, "time_ms").value, data.time);
        }

        function test_drags_of_other_kinds_are_refused() {
            const id = project.addTrack();
            const panel = makePanel(id);
            for (const key of ["ostrel/instrument", "ostrel/sample"]) {
                const source = dropSource([key], "ostrel.delay", "");
                verify(!findChild(panel, "dropHighlight").visible, key);
                source.Drag.drop();
                source.Drag.active = false;
            }
            compare(chainOf(id).length, 0);
        }

        function test_a_knob_turn_is_one_step_with_the_exact_value_and_undo_shows_the_old_one() {
            const id = project.addTrack();
            project.addDevice(id, "ostrel.delay", "");
            const panel = makePanel(id);
            const knob = knobOf(panel, 0, "time_ms");
            compare(knob.value, 350);
            const steps = [];
            const record = () => steps.push(project.undoText);
            project.historyChanged.connect(record);
            turn(knob, 16);
            project.historyChanged.disconnect(record);
            // 1 to 2000 over 160 px: 16 px is a tenth of the range, and nothing was sent before the release.
            const expected = 350 + 16 * (1999 / 160);
            fuzzyCompare(chainOf(id)[0].values.time_ms, expected, 1e-3);
            compare(steps, ["Set time_ms"]);
            fuzzyCompare(knobOf(panel, 0, "time_ms").value, expected, 1e-3);
            project.undo();
            compare(knobOf(panel, 0, "time_ms").value, 350);
            compare(project.undoText, "Add device");
        }

        function test_a_click_without_a_turn_still_sends_the_shown_value() {
            // The controller drops an unchanged value, so a stand-in shows the call itself.
            const knobs = project.deviceKnobs("ostrel.reverb");
            recorder.knobs = knobs;
            recorder.calls = [];
            recorder.tracks = [{id: "t1", name: "Keys", instrument: "", instrumentConfig: {}, fmValues: {},
                                deviceList: [{id: "d1", deviceId: "ostrel.reverb", name: "Reverb", enabled: true,
                                              values: {}}]}];
            testHost.replaceContextObject("project", recorder);
            try {
                const panel = makePanel("t1");
                turn(knobOf(panel, 0, "mix"), 0);
                compare(recorder.calls, [["t1", "d1", "mix", 0.3]]);
            } finally {
                testHost.replaceContextObject("project", null);
            }
        }

        function test_an_on_off_parameter_is_a_switch_that_sends_one_or_zero() {
            const id = project.addTrack();
            project.addDevice(id, "ostrel.delay", "");
            const panel = makePanel(id);
            let cell = findChild(card(panel, 0), "knob_ping_pong");
            const toggle = findChild(cell, "cellSwitch");
            verify(toggle.visible);
            verify(!findChild(cell, "cellKnob").visible);
            compare(toggle.checked, false);
            mouseClick(toggle);
            compare(chainOf(id)[0].values.ping_pong, 1);
            compare(project.undoText, "Set ping_pong");
            cell = findChild(card(panel, 0), "knob_ping_pong");
            compare(findChild(cell, "cellSwitch").checked, true);
            mouseClick(findChild(cell, "cellSwitch"));
            compare(chainOf(id)[0].values.ping_pong, 0);
        }

        function test_bypass_dims_the_card_and_a_second_click_switches_it_on() {
            const id = project.addTrack();
            project.addDevice(id, "ostrel.chorus", "");
            const panel = makePanel(id);
            compare(button(panel, 0, "bypassButton").text, "On");
            verify(button(panel, 0, "bypassButton").selected);
            mouseClick(button(panel, 0, "bypassButton"));
            compare(chainOf(id)[0].enabled, false);
            compare(project.undoText, "Bypass device");
            compare(card(panel, 0).opacity, 0.55);
            compare(button(panel, 0, "bypassButton").text, "Off");
            verify(!button(panel, 0, "bypassButton").selected);
            mouseClick(button(panel, 0, "bypassButton"));
            compare(chainOf(id)[0].enabled, true);
            compare(project.undoText, "Switch device on");
            compare(card(panel, 0).opacity, 1.0);
            project.undo();
            compare(button(panel, 0, "bypassButton").text, "Off");
        }

        function test_the_move_buttons_reorder_the_chain_one_place_at_a_time() {
            const id = project.addTrack();
            project.addDevice(id, "ostrel.delay", "");
            project.addDevice(id, "ostrel.reverb", "");
            project.addDevice(id, "ostrel.chorus", "");
            const panel = makePanel(id);
            verify(!button(panel, 0, "moveEarlier").enabled);
            compare(button(panel, 0, "moveEarlier").opacity, 0.4);
            verify(button(panel, 0, "moveLater").enabled);
            verify(!button(panel, 2, "moveLater").enabled);
            mouseClick(button(panel, 0, "moveLater"));
            compare(chainOf(id).map(d => d.deviceId), ["ostrel.reverb", "ostrel.delay", "ostrel.chorus"]);
            compare(project.undoText, "Move device");
            mouseClick(button(panel, 2, "moveEarlier"));
            compare(chainOf(id).map(d => d.deviceId), ["ostrel.reverb", "ostrel.chorus", "ostrel.delay"]);
            compare(findChild(card(panel, 2), "effectTitle").text, "Delay");
            project.undo();
            compare(findChild(card(panel, 2), "effectTitle").text, "Chorus");
        }

        function test_dragging_a_card_by_its_name_moves_it_along_the_chain_data() {
            return [
                // Cards 230 px wide, 8 px apart: the dragged middle passes the next middle at 238 px.
                {tag: "one place", from: 0, dx: 300, order: ["ostrel.reverb", "ostrel.delay", "ostrel.chorus"]},
                {tag: "to the end", from: 0, dx: 500, order: ["ostrel.reverb", "ostrel.chorus", "ostrel.delay"]},
                {tag: "back to the start", from: 2, dx: -480, order: ["ostrel.chorus", "ostrel.delay", "ostrel.reverb"]},
                {tag: "not far enough", from: 1, dx: 200, order: ["ostrel.delay", "ostrel.reverb", "ostrel.chorus"]},
            ];
        }

        function test_dragging_a_card_by_its_name_moves_it_along_the_chain(data) {
            const id = project.addTrack();
            project.addDevice(id, "ostrel.delay", "");
            project.addDevice(id, "ostrel.reverb", "");
            project.addDevice(id, "ostrel.chorus", "");
            const panel = makePanel(id);
            const grip = findChild(card(panel, data.from), "cardGrip");
            const at = grip.mapToItem(stage, 5, 5);
            mousePress(stage, at.x, at.y);
            testHost.moveMouse(stage, at.x + data.dx / 2, at.y, Qt.LeftButton, Qt.NoModifier);
            testHost.moveMouse(stage, at.x + data.dx, at.y, Qt.LeftButton, Qt.NoModifier);
            // The card follows the pointer; nothing is sent before it is let go.
            compare(card(panel, data.from).dragShift, data.dx);
            compare(project.undoText, "Add device");
            mouseRelease(stage, at.x + data.dx, at.y);
            compare(chainOf(id).map(d => d.deviceId), data.order);
            const moved = data.tag !== "not far enough";
            compare(project.undoText, moved ? "Move device" : "Add device");
            compare(card(panel, 0).dragShift, 0);
            if (moved) {
                project.undo();
                compare(chainOf(id).map(d => d.deviceId), ["ostrel.delay", "ostrel.reverb", "ostrel.chorus"]);
            }
        }

        function test_the_card_buttons_explain_themselves_in_the_help_strip_data() {
            return [
                {tag: "bypass", name: "bypassButton", help: "Bypass: switch this effect off without removing it (and back on)."},
                {tag: "earlier", name: "moveEarlier", help: "Move this effect one place earlier in the chain (the sound passes through the chain from left to right)."},
                {tag: "later", name: "moveLater", help: "Move this effect one place later in the chain."},
                {tag: "remove", name: "removeButton", help: "Remove this effect from the track. Undo brings it back."},
            ];
        }

        function test_the_card_buttons_explain_themselves_in_the_help_strip(data) {
            const id = project.addTrack();
            project.addDevice(id, "ostrel.delay", "");
            project.addDevice(id, "ostrel.reverb", "");
            project.addDevice(id, "ostrel.chorus", "");
            const panel = makePanel(id);
            mouseMove(button(panel, 1, data.name), 8, 8);
            tryCompare(app, "helpText", data.help);
            const knob = knobOf(panel, 1, "room_size");
            mouseMove(knob, knob.width / 2, 10);
            tryCompare(app, "helpText", knob.help);
            verify(knob.help !== "");
        }

        function test_a_single_card_can_move_nowhere() {
            const id = project.addTrack();
            project.addDevice(id, "ostrel.delay", "");
            const panel = makePanel(id);
            verify(!button(panel, 0, "moveEarlier").enabled);
            verify(!button(panel, 0, "moveLater").enabled);
        }

        // The panel reads its track again only when that track changed: an edit of another
        // track leaves its map and its cards as they were.
        function test_an_edit_of_another_track_leaves_the_cards_as_they_were() {
            const id = project.addTrack();
            const other = project.addTrack();
            project.addDevice(id, "ostrel.delay", "");
            const panel = makePanel(id);
            const map = panel.track;
            const first = card(panel, 0);
            project.setTrackVolume(other, 0.5);
            settle(panel);
            verify(panel.track === map, "the map was read again");
            verify(card(panel, 0) === first, "the card was made again");
            project.setTrackVolume(id, 0.5);
            compare(panel.track.volume, 0.5);
            compare(findChild(card(panel, 0), "effectTitle").text, "Delay");
        }

        function test_remove_takes_the_effect_out_and_undo_puts_it_back_in_place() {
            const id = project.addTrack();
            project.addDevice(id, "ostrel.delay", "Slapback");
            project.addDevice(id, "ostrel.reverb", "");
            const panel = makePanel(id);
            mouseClick(button(panel, 0, "removeButton"));
            compare(chainOf(id).map(d => d.deviceId), ["ostrel.reverb"]);
            compare(project.undoText, "Remove device");
            compare(findChild(card(panel, 0), "effectTitle").text, "Reverb");
            project.undo();
            compare(findChild(card(panel, 0), "effectPreset").text, "Slapback");
            compare(knobOf(panel, 0, "time_ms").value, 90);
        }

        // A card takes as many columns as its knobs need in the rows its height holds:
        // in a short effects view the equaliser's third row once fell off the card. In the
        // window's effects view (218 px high) the cards held one row and left the rest of
        // their height empty, so the equaliser was 930 px wide and cut even at 1920 x 1080.
        function test_the_card_width_follows_the_knobs_and_the_rows_that_fit_data() {
            return [
                {tag: "delay, 5 knobs", device: "ostrel.delay", height: 300, width: 230, rows: 2},
                {tag: "compressor, 6 knobs", device: "ostrel.compressor", height: 300, width: 230, rows: 2},
                {tag: "eq, 13 knobs", device: "ostrel.eq", height: 300, width: 370, rows: 3},
                {tag: "delay in the window's effects view", device: "ostrel.delay", height: 218, width: 230, rows: 2},
                {tag: "eq in the window's effects view", device: "ostrel.eq", height: 218, width: 510, rows: 2},
                {tag: "delay in a short view", device: "ostrel.delay", height: 150, width: 370, rows: 1},
                {tag: "eq in a tall view", device: "ostrel.eq", height: 420, width: 370, rows: 3},
            ];
        }

        function test_the_card_width_follows_the_knobs_and_the_rows_that_fit(data) {
            const id = project.addTrack();
            project.addDevice(id, data.device, "");
            const panel = makePanel(id);
            panel.height = data.height;
            settle(panel);
            const effect = card(panel, 0);
            compare(effect.width, data.width);
            const grid = findChild(effect, "knobGrid");
            compare(grid.height, data.rows * 62 + (data.rows - 1) * 4);
            verify(grid.mapToItem(effect, 0, grid.height).y <= effect.height - 10,
                   "the last row ends inside the card");
        }

        // The narrow card once cut "Compressor" short beside its buttons.
        function test_every_effect_shows_its_whole_name_and_its_buttons() {
            const id = project.addTrack();
            const effects = project.effectCatalogue();
            verify(effects.length >= 5);
            for (const effect of effects)
                project.addDevice(id, effect.id, "");
            const panel = makePanel(id);
            waitForRendering(panel);
            for (let i = 0; i < effects.length; ++i) {
                const title = findChild(card(panel, i), "effectTitle");
                compare(title.text, effects[i].name);
                verify(!title.truncated, effects[i].name);
                // The buttons stay inside the card.
                const remove = button(panel, i, "removeButton");
                const right = remove.mapToItem(card(panel, i), remove.width, 0).x;
                verify(right <= card(panel, i).width - 10, effects[i].name);
            }
        }

        function test_the_play_card_shows_the_chain_of_its_effects_track_in_the_fx_view() {
            const id = project.addTrack();
            project.addDevice(id, "ostrel.delay", "Slapback");
            const play = createTemporaryObject(playCardComponent, stage);
            play.fxTrackId = id;
            const fx = findChild(play, "fxView");
            verify(!fx.visible);
            play.view = "fx";
            verify(fx.visible);
            compare(fx.trackId, id);
            compare(findChild(findChild(fx, "effectCard0"), "effectPreset").text, "Slapback");
        }

        function test_value_texts_data() {
            return [
                {tag: "percent", k: {unit: "%", min: 0, max: 0.95}, v: 0.4, text: "40 %"},
                {tag: "ms", k: {unit: "ms", min: 1, max: 2000}, v: 350, text: "350 ms"},
                {tag: "dB", k: {unit: "dB", min: -18, max: 18}, v: 0, text: "0.0 dB"},
                {tag: "plain", k: {unit: "", min: 0.3, max: 2}, v: 0.7, text: "0.70"},
                {tag: "ratio", k: {unit: ":1", min: 1, max: 20}, v: 4, text: "4.00 :1"},
                {tag: "short ms", k: {unit: "ms", min: 0, max: 100}, v: 0, text: "0.0 ms"},
            ];
        }

        function test_value_texts(data) {
            const panel = makePanel("");
            compare(panel.knobText(data.k, data.v), data.text);
        }

        function test_an_instrument_with_a_card_shows_it_alone_before_the_chain_data() {
            return [
                {tag: "sampler", patch: "Sampler", card: "samplerCard"},
                {tag: "drum rack", patch: "Drum Rack", card: "drumRackCard"},
                {tag: "fm", patch: "FM Bell", card: "fmCard"},
            ];
        }

        function test_an_instrument_with_a_card_shows_it_alone_before_the_chain(data) {
            const id = project.addTrack();
            project.setTrackInstrument(id, data.patch);
            const panel = makePanel(id);
            verify(!findChild(panel, "emptyState").visible);
            verify(findChild(panel, "chainView").visible);
            for (const name of ["samplerCard", "drumRackCard", "fmCard"])
                compare(findChild(panel, name).visible, name === data.card, name);
            project.addDevice(id, "ostrel.delay", "");
            settle(panel);
            const first = findChild(panel, data.card);
            verify(card(panel, 0).x > first.x + first.width);
            // Another instrument on the track brings its own card.
            project.setTrackInstrument(id, data.patch === "Sampler" ? "Drum Rack" : "Sampler");
            verify(!findChild(panel, data.card).visible);
        }

        function test_a_long_chain_scrolls_sideways_with_a_bar() {
            const id = project.addTrack();
            project.addDevice(id, "ostrel.eq", "");
            const panel = makePanel(id);
            const view = findChild(panel, "chainView");
            verify(view.contentWidth <= view.width);
            compare(findChild(panel, "chainScrollBar").policy, ScrollBar.AlwaysOff);
            for (let i = 0; i < 5; ++i)
                project.addDevice(id, "ostrel.eq", "");
            settle(panel);
            verify(view.contentWidth > view.width);
            compare(findChild(panel, "chainScrollBar").policy, ScrollBar.AlwaysOn);
        }
    }
}
