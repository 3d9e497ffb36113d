import QtQuick
import QtTest
import Ostrel.App

// The Sampler card inside the effects view, against the real project controller and real
// sound files in the samples folder.
Item {
    id: stage

    width: 800
    height: 320

    Component { id: panelComponent; DevicesPanel { width: stage.width; height: 300 } }

    Component {
        id: sourceComponent

        Rectangle {
            property string fileName: "kick.wav"
            property string deviceId: "ostrel.delay"
            property string presetName: ""
            x: 150
            y: 200
            width: 28
            height: 28
            Drag.keys: ["ostrel/sample"]
            Drag.hotSpot.x: 14
            Drag.hotSpot.y: 14
        }
    }

    TestCase {
        name: "SamplerCard"
        when: windowShown

        property string trackId: ""
        property var panel: null
        property var card: null

        function init() {
            testHost.resetControllers();
            settings.setValue("appearance.reduce_motion", true);
            verify(testHost.writeSample("kick.wav"));
            verify(testHost.writeSample("snare.wav"));
            trackId = project.addTrack();
            project.setTrackInstrument(trackId, "Sampler");
            panel = createTemporaryObject(panelComponent, stage);
            panel.trackId = trackId;
            card = findChild(panel, "samplerCard");
            verify(card.visible);
        }

        function config() {
            return project.tracks.find(t => t.id === trackId).instrumentConfig;
        }

        function sameColor(actual, expected, what) {
            verify(Qt.colorEqual(actual, expected), what + ": " + actual + " is not " + expected);
        }

        function knob(key) {
            return findChild(card, "knob_" + key).knob;
        }

        function turn(knob, dy) {
            const x = knob.width / 2;
            const y = knob.size / 2;
            mousePress(knob, x, y);
            testHost.moveMouse(knob, x, y - dy, Qt.LeftButton, Qt.NoModifier);
            mouseRelease(knob, x, y - dy);
        }

        // In an effects view too short for two lines of knobs, as the window's is, all five go
        // on one line and the card grows wider. Regression: Attack and Release were cut off
        // below the card.
        function test_every_knob_stays_inside_the_card_at_every_height_data() {
            return [{tag: "as high as the window's effects view", cardHeight: 202, lines: 1, width: 5 * 70 + 20},
                    {tag: "high enough for two lines", cardHeight: 228, lines: 2, width: 320}];
        }

        function test_every_knob_stays_inside_the_card_at_every_height(data) {
            // The panel's margins; the cards take the chain's whole height.
            panel.height = data.cardHeight + 2 * theme.spacing;
            waitForRendering(card);
            compare([card.width, card.height], [data.width, data.cardHeight]);
            const tops = new Set();
            for (const k of card.knobs) {
                const cell = findChild(card, "knob_" + k.key);
                const box = cell.mapToItem(card, 0, 0, cell.width, cell.height);
                tops.add(box.y);
                verify(box.x >= 10 && box.y >= 10 && box.x + box.width <= card.width - 10
                       && box.y + box.height <= card.height - 10, k.key + " at " + [box.x, box.y, box.width, box.height]);
            }
            compare(tops.size, data.lines);
        }

        function dropFile(keys, fileName) {
            const source = createTemporaryObject(sourceComponent, stage);
            source.Drag.keys = keys;
            source.fileName = fileName;
            source.Drag.active = true;
            return source;
        }

        function test_without_a_sound_the_well_asks_for_one() {
            compare(findChild(card, "soundName").text, "Drop a sound here");
            sameColor(findChild(card, "soundName").color, theme.colors.textMuted, "sound name");
            sameColor(findChild(card, "soundIcon").color, theme.colors.textMuted, "sound icon");
            verify(!findChild(card, "clearSound").visible);
        }

        function test_a_dropped_sound_is_one_step_and_the_cross_takes_it_out() {
            const source = dropFile(["ostrel/sample"], "kick.wav");
            sameColor(card.border.color, theme.colors.accent2, "card border");
            source.Drag.drop();
            compare(config().sample, "kick.wav");
            compare(project.undoText, "Set instrument settings");
            compare(findChild(card, "soundName").text, "kick.wav");
            sameColor(findChild(card, "soundIcon").color, theme.colors.accent2, "sound icon");
            verify(findChild(card, "clearSound").visible);
            mouseClick(findChild(card, "clearSound"));
            compare(config().sample, "");
            compare(findChild(card, "soundName").text, "Drop a sound here");
            project.undo();
            compare(findChild(card, "soundName").text, "kick.wav");
        }

        function test_other_drags_neither_highlight_nor_call() {
            for (const key of ["ostrel/instrument", "ostrel/effect"]) {
                const source = dropFile([key], "kick.wav");
                sameColor(card.border.color, theme.colors.border, key);
                source.Drag.drop();
                source.Drag.active = false;
            }
            compare(config().sample, "");
            // The effect went past the card to the chain around it.
            compare(panel.chain.length, 1);
            project.undo();
            compare(project.undoText, "Set instrument");
        }

        function test_a_sound_that_cannot_be_read_changes_nothing() {
            testHost.writeFile(project.samplesDirectory + "/broken.wav", "not a sound");
            dropFile(["ostrel/sample"], "broken.wav").Drag.drop();
            verify(project.problem);
            compare(config().sample, "");
            compare(project.undoText, "Set instrument");
        }

        function test_the_well_and_its_buttons_explain_themselves() {
            const well = findChild(card, "soundWell");
            mouseMove(well, 60, 17);
            compare(app.helpText, "Drag a sound file here from the browser's SAMPLES list. Play it with the keys below or a MIDI keyboard.");
            mouseMove(findChild(card, "loopButton"), 10, 10);
            tryCompare(app, "helpText", "On: the sound repeats for as long as the key is held. Off: it plays once.");
            mouseMove(stage, stage.width - 1, stage.height - 1);
            compare(app.helpText, "");
        }

        function test_loop_flips_between_on_and_off() {
            const loop = findChild(card, "loopButton");
            verify(!loop.selected);
            mouseClick(loop);
            compare(config().loop, true);
            verify(loop.selected);
            mouseClick(loop);
            compare(config().loop, false);
            verify(!loop.selected);
            project.undo();
            verify(loop.selected);
        }



        function test_the_knob_shows_what_the_project_kept() {
            // A turn past the top is clamped by the knob; the project rounds the root key.
            const k = knob("root_note");
            turn(k, 7);
            compare(config().root_note, 66);
            compare(k.value, 66);
        }



        function test_a_long_name_is_shortened_in_the_middle() {
            const name = "a-very-long-recording-of-a-grand-piano-in-a-church-hall.wav";
            verify(testHost.writeSample(name));
            project.setSamplerSample(trackId, name);
            const text = findChild(card, "soundName");
            compare(text.elide, Text.ElideMiddle);
            verify(text.truncated);
        }
    }
}
