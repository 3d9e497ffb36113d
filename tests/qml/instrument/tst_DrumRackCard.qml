import QtQuick
import QtTest
import Ostrel.App
import "../Contrast.js" as Contrast

// The Drum Rack card inside the effects view, against the real project and instrument
// controllers, with real mouse events and sound files dragged from the browser.
Item {
    id: stage

    width: 800
    height: 320

    Component { id: panelComponent; DevicesPanel { width: stage.width; height: 300 } }

    Component {
        id: sourceComponent

        Rectangle {
            property string fileName: "kick.wav"
            width: 28
            height: 28
            Drag.keys: ["ostrel/sample"]
            Drag.hotSpot.x: 14
            Drag.hotSpot.y: 14
        }
    }

    TestCase {
        name: "DrumRackCard"
        when: windowShown

        property string trackId: ""
        property var panel: null
        property var card: null

        function init() {
            testHost.resetControllers();
            settings.setValue("appearance.reduce_motion", true);
            for (const name of ["kick.wav", "Snare.WAV", "hat.wav"])
                verify(testHost.writeSample(name));
            trackId = project.addTrack();
            project.setTrackInstrument(trackId, "Drum Rack");
            instrument.selectPatch("Drum Rack");
            panel = createTemporaryObject(panelComponent, stage);
            panel.trackId = trackId;
            card = findChild(panel, "drumRackCard");
            verify(card.visible);
        }

        function cleanup() {
            instrument.releaseAll();
        }

        function pads() {
            return project.tracks.find(t => t.id === trackId).instrumentConfig.pads;
        }

        function pad(note) {
            const found = findChild(card, "pad" + note);
            verify(found, "pad " + note);
            return found;
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

        // A sound dragged from the browser with its hot spot on the pad of that note.
        function dragOnto(note, fileName) {
            const source = createTemporaryObject(sourceComponent, stage);
            const at = pad(note).mapToItem(stage, 10, 10);
            source.x = at.x - 14 + 10;
            source.y = at.y - 14 + 10;
            source.fileName = fileName;
            source.Drag.active = true;
            return source;
        }

        // An empty pad is told by its clear fill; its label is whole, muted text that reads
        // 4.5:1 on the card (at 60 % opacity it read 2.13:1). The window test measures it in
        // every theme.
        function test_an_empty_rack_shows_sixteen_empty_pads_and_dimmed_knobs() {
            for (let note = 36; note <= 51; ++note) {
                const label = findChild(pad(note), "padText");
                compare(label.text, "empty");
                compare(label.opacity, 1);
                sameColor(pad(note).color, Qt.rgba(0, 0, 0, 0), "pad " + note);
                verify(Contrast.ratio(Qt.lighter(label.color, 1), Qt.lighter(card.color, 1)) >= 4.5, "pad " + note);
            }
            compare(findChild(card, "padCaption").text, "PAD 1: empty");
            const knobs = findChild(card, "padKnobs");
            verify(!knobs.enabled);
            compare(knobs.opacity, 0.4);
            turn(knob("gain"), 16);
            compare(project.undoText, "Set instrument");
        }

        function test_the_pads_read_from_the_bottom_left_data() {
            return [
                {tag: "top left", index: 0, note: 48, caption: "PAD 13: empty"},
                {tag: "top right", index: 3, note: 51, caption: "PAD 16: empty"},
                {tag: "bottom left", index: 12, note: 36, caption: "PAD 1: empty"},
                {tag: "bottom right", index: 15, note: 39, caption: "PAD 4: empty"},
            ];
        }

        // The effects view in the window's detail panel is about this short.
        function test_in_a_short_view_every_pad_stays_inside_the_card() {
            panel.height = 200;
            // The grid places its pads when the frame is prepared.
            waitForRendering(panel);
            const corners = [36, 39, 48, 51];
            for (const note of corners) {
                const item = pad(note);
                const bottom = item.mapToItem(card, 0, item.height).y;
                verify(bottom <= card.height - 1, "pad " + note + " ends at " + bottom + " of " + card.height);
                verify(item.height >= 24);
            }
            mouseClick(pad(36));
            compare(card.selectedNote, 36);
            // With room to spare the pads keep their full height.
            panel.height = 300;
            compare(pad(36).height, 48);
        }

        function test_the_pads_read_from_the_bottom_left(data) {
            const grid = findChild(card, "padGrid");
            const inOrder = [];
            for (let i = 0; i < grid.children.length; ++i) {
                if (grid.children[i].note !== undefined)
                    inOrder.push(grid.children[i]);
            }
            compare(inOrder.length, 16);
            const item = inOrder[data.index];
            compare(item.note, data.note);
            compare(item.Accessible.name, "Pad " + data.index);
            mouseMove(item, 20, 20);
            compare(app.helpText, "Click to hear this pad and pick it. Drop a sound file here to fill it. Right-click empties it. Key "
                    + data.note + ".");
            mouseClick(item);
            compare(card.selectedNote, data.note);
            compare(findChild(card, "padCaption").text, data.caption);
            compare(instrument.activeNotes, []);
        }

        function test_a_sound_dropped_on_a_pad_fills_and_picks_it_in_one_step() {
            const source = dragOnto(44, "Snare.WAV");
            sameColor(pad(44).border.color, theme.colors.accent2, "pad 44 border");
            source.Drag.drop();
            compare(pads(), [{note: 44, sample: "Snare.WAV", gain: 1, tune_cents: 0, release_ms: 80}]);
            compare(project.undoText, "Set instrument settings");
            compare(card.selectedNote, 44);
            compare(findChild(pad(44), "padText").text, "Snare");
            compare(findChild(pad(44), "padText").opacity, 1.0);
            sameColor(pad(44).color, theme.colors.surface, "pad 44");
            compare(pad(44).Accessible.name, "Pad 4, Snare");
            compare(findChild(card, "padCaption").text, "PAD 9: Snare");
            verify(findChild(card, "padKnobs").enabled);
            project.undo();
            compare(findChild(pad(44), "padText").text, "empty");
            compare(card.selectedNote, 44);
            compare(findChild(card, "padCaption").text, "PAD 9: empty");
        }

        function test_a_sound_from_the_samples_list_takes_the_first_free_pad() {
            project.setPad(trackId, 36, "kick.wav");
            verify(project.dropSample(trackId, "hat.wav", 0));
            compare(findChild(pad(37), "padText").text, "hat");
            compare(pads().map(p => p.note), [36, 37]);
        }

        function test_a_filled_pad_plays_while_pressed_and_lights() {
            project.setPad(trackId, 38, "kick.wav");
            mousePress(pad(38), 20, 20);
            compare(instrument.activeNotes, [38]);
            sameColor(pad(38).color, theme.colors.accent, "pad 38");
            sameColor(findChild(pad(38), "padText").color, theme.colors.onAccent, "pad 38 text");
            mouseRelease(pad(38), 20, 20);
            compare(instrument.activeNotes, []);
            sameColor(pad(38).color, theme.colors.surface, "pad 38");
        }

        function test_a_pad_lights_when_its_note_sounds_from_elsewhere_even_empty() {
            instrument.padDown(50);
            sameColor(pad(50).color, theme.colors.accent, "pad 50");
            instrument.padUp(50);
            sameColor(pad(50).color, Qt.rgba(0, 0, 0, 0), "pad 50");
        }

        function test_a_right_press_empties_a_pad_without_picking_it() {
            project.setPad(trackId, 36, "kick.wav");
            project.setPad(trackId, 40, "hat.wav");
            compare(card.selectedNote, 36);
            mousePress(pad(40), 20, 20, Qt.RightButton);
            mouseRelease(pad(40), 20, 20, Qt.RightButton);
            compare(pads().map(p => p.note), [36]);
            compare(card.selectedNote, 36);
            compare(instrument.activeNotes, []);
            // Emptying the picked pad keeps it picked and dims the knobs.
            mouseClick(pad(36), 20, 20, Qt.RightButton);
            compare(card.selectedNote, 36);
            compare(findChild(card, "padCaption").text, "PAD 1: empty");
            verify(!findChild(card, "padKnobs").enabled);
        }



        // The knobs' value texts are in tst_InstrumentCards.
        function test_sound_names_lose_a_wav_ending() {
            compare(card.stem("Kick.WAV"), "Kick");
            compare(card.stem("kick.wav"), "kick");
            compare(card.stem("snare.aif"), "snare.aif");
            compare(card.stem(undefined), "");
        }

        function test_entries_outside_the_rack_or_twice_for_a_note() {
            card.config = {pads: [{note: 30, sample: "low.wav"}, {note: 37, sample: "a.wav"},
                                  {note: 37, sample: "b.wav"}]};
            compare(findChild(pad(37), "padText").text, "a");
            card.selectedNote = 37;
            compare(findChild(card, "padCaption").text, "PAD 2: a");
        }

        function test_the_picked_pad_stays_when_another_rack_is_shown() {
            mouseClick(pad(47));
            const other = project.addTrack();
            project.setTrackInstrument(other, "Drum Rack");
            panel.trackId = other;
            compare(card.selectedNote, 47);
        }
    }
}
