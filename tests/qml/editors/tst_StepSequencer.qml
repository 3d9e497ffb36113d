import QtQuick
import QtTest
import Ostrel.App
import "../NoteSongs.js" as Songs
import "../Contrast.js" as Contrast

// Against the real project and instrument controllers: songs are opened from files, every
// click goes through the real note edits and their undo history.
Item {
    id: stage

    width: 1000
    height: 520

    property string selectedClip: ""

    Component { id: gridComponent; StepSequencer { width: 960; height: 480 } }
    Component { id: boundComponent; StepSequencer { width: 960; height: 480; clipId: stage.selectedClip } }

    // A transport that stands wherever a test puts it.
    QtObject {
        id: standInTransport

        property bool playing: false
        property real positionBeats: 0
    }

    TestCase {
        name: "StepSequencer"
        when: windowShown

        property var seq: null
        property var ids: null

        SignalSpy { id: createdSpy; signalName: "clipCreated" }

        function init() {
            testHost.resetControllers();
            app.helpText = "";
            standInTransport.playing = false;
            standInTransport.positionBeats = 0;
        }

        function cleanup() {
            testHost.resetControllers();
            theme.currentId = "graphite";
        }

        // Opens a one-track song and shows its first clip (none when the track has none).
        function show(track) {
            ids = Songs.open(project, testHost, [track]);
            const clips = ids.clips[0];
            seq = createTemporaryObject(gridComponent, stage,
                                        {trackId: ids.tracks[0], clipId: clips.length > 0 ? clips[0] : ""});
            verify(seq);
            createdSpy.target = seq;
            createdSpy.clear();
            return ids;
        }

        function stored() {
            return Songs.clipNotes(project, ids.tracks[0], seq.shownClipId);
        }

        function velocities() {
            const texts = project.clipNotes(ids.tracks[0], seq.shownClipId);
            const found = [];
            for (let i = 0; i + 4 < texts.length; i += 5)
                found.push(parseInt(texts[i + 2]));
            return found;
        }

        function labels() {
            const found = [];
            for (let r = 0; r < seq.rows.length; ++r)
                found.push(findChild(findChild(seq, "row" + r), "rowLabel").text);
            return found;
        }

        function cell(rowIndex, index) {
            const row = findChild(seq, "row" + rowIndex);
            verify(row, "row " + rowIndex);
            return findChild(row, "cell" + index);
        }

        // The row index of a pitch.
        function rowOf(pitch) {
            return seq.rows.findIndex(r => r.pitch === pitch);
        }

        function cellCount(rowIndex) {
            let count = 0;
            while (findChild(findChild(seq, "row" + rowIndex), "cell" + count))
                ++count;
            return count;
        }

        function clickCell(pitch, index, button) {
            mouseClick(cell(rowOf(pitch), index), 4, 4, button || Qt.LeftButton);
        }

        function chooserButton(chooserName, label) {
            const chooser = findChild(seq, chooserName);
            for (let i = 0; i < chooser.children.length; ++i) {
                if (chooser.children[i].text === label)
                    return chooser.children[i];
            }
            return null;
        }

        // ---- Empty states and new clips ----

        function test_without_a_track_the_grid_says_what_to_click() {
            seq = createTemporaryObject(gridComponent, stage);
            verify(findChild(seq, "emptyState").visible);
            compare(findChild(seq, "emptyTitle").text, "No track selected");
            verify(!findChild(seq, "newClipButton").visible);
        }

        function test_a_new_one_bar_clip_goes_after_the_tracks_last_clip_data() {
            return [{tag: "an empty track", clips: [], start: 0},
                    {tag: "a track with clips", clips: [{start: 8, length: 2}, {start: 0, length: 4}], start: 10}];
        }

        function test_a_new_one_bar_clip_goes_after_the_tracks_last_clip(data) {
            show({name: "Bass", instrument: "Modular Bass", clips: data.clips});
            seq.clipId = "";
            compare(findChild(seq, "emptyTitle").text, "No clip selected on “Bass”");
            const button = findChild(seq, "newClipButton");
            verify(button.visible);
            mouseClick(button);
            compare(createdSpy.count, 1);
            const id = createdSpy.signalArguments[0][0];
            compare(seq.shownClipId, id);
            compare([seq.clipStart, seq.clipLength], [data.start, 4]);
            compare(project.undoText, "Add clip");
            verify(!findChild(seq, "emptyState").visible);
            compare(cellCount(0), 16);
        }

        function test_a_new_clip_leaves_the_owners_clip_binding_working() {
            ids = Songs.open(project, testHost, [{instrument: "Modular Lead", clips: [{length: 4}, {start: 4, length: 8}]}]);
            stage.selectedClip = "";
            seq = createTemporaryObject(boundComponent, stage, {trackId: ids.tracks[0]});
            createdSpy.target = seq;
            createdSpy.clear();
            mouseClick(findChild(seq, "newClipButton"));
            const made = createdSpy.signalArguments[0][0];
            compare([seq.shownClipId, seq.clipStart, seq.clipLength], [made, 12, 4]);
            // The window selects another clip: the grid follows it.
            stage.selectedClip = ids.clips[0][1];
            compare([seq.shownClipId, seq.clipStart, seq.clipLength], [ids.clips[0][1], 4, 8]);
            // And the new clip, passed back by the window.
            stage.selectedClip = made;
            compare([seq.shownClipId, seq.clipStart], [made, 12]);
        }

        // The grid reads its track again only when that track changed.
        function test_an_edit_of_another_track_leaves_the_grid_as_read() {
            show({instrument: "Modular Lead", clips: [{length: 4, notes: [[60, 100, 0, 0.25]]}]});
            const read = seq.notes;
            project.setTrackVolume(project.addTrack(), 0.5);
            verify(seq.notes === read, "the notes were read again");
            verify(project.addNote(ids.tracks[0], ids.clips[0][0], 62, 100, 1, 0.25) !== "");
            compare(seq.notes.length, 2);
        }

        // ---- A drum clip ----

        function test_a_drum_kit_shows_its_drums_and_places_one_step_notes() {
            show({instrument: "Modular Drums", clips: [{length: 4}]});
            compare(labels(), ["Crash", "Open hat", "High tom", "Closed hat", "Low tom", "Clap", "Snare", "Kick"]);
            compare(findChild(seq, "instrumentLine").text, "· drum kit");
            verify(!findChild(seq, "scaleChooser").visible);
            // A kit ignores the note length.
            seq.noteSteps = 4;
            clickCell(38, 4);
            compare(stored(), [[38, 1, 0.25]]);
            compare(velocities(), [100]);
            compare(project.undoText, "Add note");
            compare(instrument.patchName, "Modular Drums");
            compare(instrument.pressedKeys, [1038]);
            verify(cell(rowOf(38), 4).Accessible.checked);
            clickCell(38, 4);
            compare(stored(), []);
            compare(project.undoText, "Remove note");
            project.undo();
            project.undo();
            compare(project.canUndo, false);
        }

        function test_a_drum_rack_names_its_rows_after_the_pad_sounds() {
            show({instrument: "Drum Rack", config: {pads: [{note: 36, sample: "Kick.WAV", gain: 1.0}]},
                  clips: [{length: 4}]});
            const expected = [];
            for (let pitch = 51; pitch > 36; --pitch)
                expected.push("Pad " + (pitch - 35));
            expected.push("Kick");
            compare(labels(), expected);
        }

        function test_an_audition_plays_the_tracks_own_settings() {
            show({instrument: "Drum Rack", config: {pads: [{note: 36, sample: "Kick.wav"}, {note: 40, sample: "Rim.wav"}]},
                  clips: [{length: 4}]});
            instrument.selectPatch("Modular Lead");
            clickCell(36, 0);
            compare(instrument.patchName, "Drum Rack");
            // The rack's pads as the track has them, not an empty rack of that name.
            compare([instrument.padLabels["36"], instrument.padLabels["40"]], ["Kick", "Rim"]);
            compare(instrument.pressedKeys, [1036]);
            // Another instrument picked elsewhere: the next audition gives the track's back.
            instrument.selectPatch("Modular Lead");
            clickCell(40, 1);
            compare([instrument.patchName, instrument.padLabels["40"]], ["Drum Rack", "Rim"]);
        }

        // ---- A melodic clip ----

        function test_a_melodic_instrument_shows_a_scale_from_its_root_data() {
            return [{tag: "a synth in minor", instrument: "Modular Lead", scale: "minor", shift: 0,
                     labels: ["C5", "A#4", "G#4", "G4", "F4", "D#4", "D4", "C4"]},
                    {tag: "a bass in major", instrument: "Modular Bass", scale: "major", shift: 0,
                     labels: ["C3", "B2", "A2", "G2", "F2", "E2", "D2", "C2"]},
                    {tag: "every semitone an octave up", instrument: "Modular Lead", scale: "chromatic", shift: 1,
                     labels: ["C6", "B5", "A#5", "A5", "G#5", "G5", "F#5", "F5", "E5", "D#5", "D5", "C#5", "C5"]}];
        }

        function test_a_melodic_instrument_shows_a_scale_from_its_root(data) {
            show({instrument: data.instrument, clips: [{length: 4}]});
            mouseClick(chooserButton("scaleChooser", {minor: "Minor", major: "Major", chromatic: "All"}[data.scale]));
            compare(seq.scale, data.scale);
            for (let i = 0; i < data.shift; ++i)
                mouseClick(findChild(seq, "octaveUp"));
            compare(labels(), data.labels);
        }

        function test_the_octave_buttons_stop_at_three_octaves() {
            show({instrument: "Modular Lead", clips: [{length: 4}]});
            for (let i = 0; i < 4; ++i)
                mouseClick(findChild(seq, "octaveDown"));
            compare(seq.octaveShift, -36);
            compare(seq.rows[seq.rows.length - 1].pitch, 24);
            for (let i = 0; i < 7; ++i)
                mouseClick(findChild(seq, "octaveUp"));
            compare(seq.octaveShift, 36);
            compare(seq.rows[seq.rows.length - 1].pitch, 96);
        }

        function test_a_melodic_note_lasts_the_chosen_length_and_ends_with_the_clip() {
            show({instrument: "Modular Lead", clips: [{length: 4}]});
            mouseClick(chooserButton("lengthChooser", "1/4"));
            compare(seq.noteSteps, 4);
            clickCell(60, 0);
            clickCell(63, 15);
            compare(stored(), [[60, 0, 1], [63, 3.75, 0.25]]);
        }

        function test_a_track_without_an_instrument_says_so() {
            show({clips: [{length: 4}]});
            compare(findChild(seq, "instrumentLine").text, "· no instrument yet: give the track one to hear the steps");
            compare(seq.category, "synth");
            clickCell(60, 2);
            compare(stored(), [[60, 0.5, 0.25]]);
        }

        // ---- Divisions and bars ----

        function test_a_division_sets_the_cells_and_where_notes_show_data() {
            return [{tag: "sixteenths", label: "1/16", cells: 16, notes: [[60, 1], [62, 1]]},
                    {tag: "eighths, halves rounding up", label: "1/8", cells: 8, notes: [[60, 1], [62, 1]]},
                    {tag: "eighth triplets", label: "1/8ᵗ", cells: 12, notes: [[60, 1], [62, 1]]},
                    {tag: "quarters", label: "1/4", cells: 4, notes: [[60, 0], [62, 0]]}];
        }

        function test_a_division_sets_the_cells_and_where_notes_show(data) {
            show({instrument: "Modular Lead", clips: [{length: 4, notes: [[60, 100, 0.25, 0.25], [62, 100, 1 / 3, 1 / 3]]}]});
            seq.bar = 0;
            mouseClick(chooserButton("divisionChooser", data.label));
            compare(cellCount(rowOf(60)), data.cells);
            for (const [pitch, index] of data.notes)
                verify(cell(rowOf(pitch), index).note !== null, pitch + " on cell " + index);
            // Only where the notes show changes, never where they are.
            compare(stored(), [[60, 0.25, 0.25], [62, 1 / 3, 1 / 3]]);
        }

        function test_a_longer_clip_pages_through_its_bars() {
            show({instrument: "Modular Lead", clips: [{length: 6, notes: [[60, 100, 4.5, 0.25]]}]});
            compare(seq.barCount, 2);
            compare(findChild(seq, "barCounter").text, "Bar 1 / 2");
            verify(!findChild(seq, "previousBar").enabled);
            mouseClick(findChild(seq, "nextBar"));
            compare(seq.bar, 1);
            compare(findChild(seq, "barCounter").text, "Bar 2 / 2");
            compare(cellCount(rowOf(60)), 8);
            verify(cell(rowOf(60), 2).note !== null);
            clickCell(62, 7);
            compare(stored()[1], [62, 5.75, 0.25]);
            // A new division goes back to the first bar.
            mouseClick(chooserButton("divisionChooser", "1/8"));
            compare(seq.bar, 0);
        }

        function test_the_bars_chooser_stretches_the_clip_in_one_undo_step() {
            show({instrument: "Modular Lead", clips: [{length: 4, notes: [[60, 100, 1, 1]]}]});
            compare(findChild(seq, "barsChooser").current, "1");
            mouseClick(chooserButton("barsChooser", "4"));
            compare([seq.clipLength, seq.clipBars, seq.barCount], [16, 4, 4]);
            compare(project.undoText, "Edit clip");
            compare(stored(), [[60, 1, 1]]);
            project.undo();
            compare(seq.clipLength, 4);
        }

        // ---- Accents ----

        function test_a_right_click_cycles_the_loudness_as_one_undo_step_data() {
            return [{tag: "a placed note", velocity: 100, cycle: [127, 60, 100]},
                    {tag: "a recorded soft note", velocity: 80, cycle: [127, 60, 100]},
                    {tag: "a quiet note", velocity: 40, cycle: [100, 127, 60]}];
        }

        function test_a_right_click_cycles_the_loudness_as_one_undo_step(data) {
            show({instrument: "Modular Lead", clips: [{length: 4, notes: [[60, data.velocity, 1, 0.25]]}]});
            const c = cell(rowOf(60), 4);
            for (const velocity of data.cycle) {
                clickCell(60, 4, Qt.RightButton);
                compare(velocities(), [velocity]);
                fuzzyCompare(c.color.a, 0.45 + 0.55 * velocity / 127, 0.01);
            }
            compare(stored(), [[60, 1, 0.25]]);
            compare(project.undoText, "Edit note");
            project.undo();
            compare(velocities(), [data.velocity]);
            compare(project.canUndo, false);
            // On an empty cell a right-click does nothing.
            clickCell(60, 5, Qt.RightButton);
            compare(stored(), [[60, 1, 0.25]]);
            compare(project.canUndo, false);
        }

        function test_a_loudness_change_keeps_the_exact_time_of_a_note_off_the_grid() {
            show({instrument: "Modular Lead", clips: [{length: 1240, notes: [[60, 90, 1234.5678, 0.3333333]]}]});
            // Step 4938 of the clip: bar 309 (0-based 308), cell 10.
            seq.bar = 308;
            verify(cell(rowOf(60), 10).note !== null);
            clickCell(60, 10, Qt.RightButton);
            compare(velocities(), [127]);
            compare(stored(), [[60, 1234.5678, 0.3333333]]);
        }

        // ---- The play column ----

        function test_the_play_column_follows_the_transport() {
            show({instrument: "Modular Drums", clips: [{start: 8, length: 8}]});
            testHost.replaceContextObject("transport", standInTransport);
            const lit = () => {
                const found = [];
                for (let i = 0; i < cellCount(0); ++i) {
                    if (cell(0, i).border.width === 2)
                        found.push(i);
                }
                return found;
            };
            standInTransport.positionBeats = 9.3;
            compare(lit(), []);
            standInTransport.playing = true;
            compare(seq.playStep, 5);
            compare(lit(), [5]);
            // The whole column lights, in the play colour.
            verify(Qt.colorEqual(cell(7, 5).border.color, theme.colors.accent2));
            standInTransport.positionBeats = 10;
            compare(lit(), [8]);
            // In the clip's second bar: nothing of the first bar lights until it is shown.
            standInTransport.positionBeats = 13;
            compare(lit(), []);
            seq.bar = 1;
            compare(lit(), [4]);
            // Before the clip or stopped: nothing.
            standInTransport.positionBeats = 2;
            compare(lit(), []);
            standInTransport.positionBeats = 13;
            standInTransport.playing = false;
            compare(seq.playStep, -1);
            compare(lit(), []);
        }

        // The edge of an empty cell, on the beat and off it, against the panel between cells;
        // a cell that holds a note keeps its own edge.
        function test_empty_cells_are_edged_3_to_1_off_the_panel_in_every_theme_data() {
            return Contrast.themeRows();
        }

        function test_empty_cells_are_edged_3_to_1_off_the_panel_in_every_theme(data) {
            theme.currentId = data.themeId;
            show({instrument: "Modular Drums", clips: [{length: 4}]});
            waitForRendering(seq);
            const picture = grabImage(seq);
            const at = (item, x, y) => {
                const p = item.mapToItem(seq, x, y);
                return picture.pixel(Math.floor(p.x), Math.floor(p.y));
            };
            for (const index of [0, 1]) {
                const c = cell(3, index);
                const ratio = Contrast.ratio(at(c, c.width / 2, 0.5), at(c, c.width + 1, c.height / 2));
                verify(ratio >= 3, "cell " + index + ": " + ratio.toFixed(2));
            }
        }

        function test_a_cell_writes_the_help_strip() {
            show({instrument: "Modular Drums", clips: [{length: 4}]});
            mouseMove(cell(rowOf(38), 2), 4, 4);
            compare(app.helpText, "Click to place or remove a note here (Snare, step 3). Right-click a note to make it softer or harder.");
            mouseMove(stage, 990, 510);
            compare(app.helpText, "");
        }

        // ---- For the eye ----

        function test_a_drum_pattern_for_the_eye() {
            const notes = [];
            for (let s = 0; s < 16; ++s) {
                if (s % 4 === 0) notes.push([36, 100, s * 0.25, 0.25]);
                if (s % 8 === 4) notes.push([38, 127, s * 0.25, 0.25]);
                if (s % 2 === 0) notes.push([42, s % 4 === 2 ? 60 : 90, s * 0.25, 0.25]);
            }
            notes.push([49, 110, 0, 0.25]);
            show({name: "Drums", instrument: "Modular Drums", clips: [{length: 8, notes: notes}]});
            testHost.replaceContextObject("transport", standInTransport);
            standInTransport.playing = true;
            standInTransport.positionBeats = 1.6;
            verify(waitForRendering(seq));
            grabImage(seq).save(testHost.galleryFolder + "/step-grid-drums.png");
            // As narrow as the play card's right half can be: the header wraps.
            seq.width = 560;
            seq.height = 300;
            verify(waitForRendering(seq));
            grabImage(seq).save(testHost.galleryFolder + "/step-grid-drums-narrow.png");
            seq.destroy();
            testHost.replaceContextObject("transport", null);
            show({name: "Lead", instrument: "Modular Lead", clips: [{length: 4, notes: [[60, 100, 0, 0.5], [63, 127, 1, 0.25]]}]});
            verify(waitForRendering(seq));
            grabImage(seq).save(testHost.galleryFolder + "/step-grid-melodic.png");
            seq.clipId = "";
            verify(waitForRendering(seq));
            grabImage(seq).save(testHost.galleryFolder + "/step-grid-empty.png");
        }
    }
}
