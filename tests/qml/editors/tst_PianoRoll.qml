import QtQuick
import QtTest
import Ostrel.App
import "../NoteSongs.js" as Songs

// Against the real project controller: songs are opened from files, every gesture goes
// through the real note edits and their undo history.
Item {
    id: stage

    width: 900
    height: 520

    // The grid is 800 pixels wide: an 8-beat clip gives 100 pixels a beat, 25 a sixteenth.
    Component { id: rollComponent; PianoRoll { width: 848; height: 460 } }

    TestCase {
        name: "PianoRoll"
        when: windowShown

        property var roll: null
        property var grid: null
        property var ids: null

        function init() {
            testHost.resetControllers();
            app.helpText = "";
        }

        function cleanup() {
            testHost.resetControllers();
        }

        // Opens a one-track song and shows its first clip.
        function show(clips, instrumentName) {
            ids = Songs.open(project, testHost, [{instrument: instrumentName || "", clips: clips}]);
            roll = createTemporaryObject(rollComponent, stage, {trackId: ids.tracks[0], clipId: ids.clips[0][0]});
            verify(roll);
            grid = findChild(roll, "gridMouse");
            verify(grid);
            compare(grid.width, 800);
            return ids;
        }

        function noteIds() {
            return ids.notes[0][0];
        }

        function stored() {
            return Songs.clipNotes(project, ids.tracks[0], ids.clips[0][0]);
        }

        function velocities() {
            const texts = project.clipNotes(ids.tracks[0], ids.clips[0][0]);
            const found = [];
            for (let i = 0; i + 4 < texts.length; i += 5)
                found.push(parseInt(texts[i + 2]));
            return found;
        }

        function xOf(beat) {
            return beat / roll.clipLength * grid.width;
        }

        function yOf(pitch) {
            return (roll.highPitch - pitch) * roll.laneHeight + 8;
        }

        function click(beat, pitch) {
            mouseClick(grid, xOf(beat), yOf(pitch));
        }

        function drag(from, to) {
            mousePress(grid, from.x, from.y);
            mouseMove(grid, (from.x + to.x) / 2, (from.y + to.y) / 2, -1, Qt.LeftButton);
            mouseMove(grid, to.x, to.y, -1, Qt.LeftButton);
            mouseRelease(grid, to.x, to.y);
        }

        function gridButton(label) {
            const chooser = findChild(roll, "gridChooser");
            for (let i = 0; i < chooser.children.length; ++i) {
                if (chooser.children[i].text === label)
                    return chooser.children[i];
            }
            return null;
        }

        // ---- Reading the clip ----

        // The roll reads its clip again only when that clip changed.
        function test_an_edit_elsewhere_leaves_the_notes_as_read() {
            show([{length: 8, notes: [[60, 100, 0, 1]]}, {start: 8, length: 8}]);
            const read = roll.notes;
            project.addTrack();
            verify(project.addNote(ids.tracks[0], ids.clips[0][1], 62, 100, 0, 1) !== "");
            verify(roll.notes === read, "the notes were read again");
            verify(project.addNote(ids.tracks[0], ids.clips[0][0], 64, 100, 2, 1) !== "");
            compare(roll.notes.map(n => n.pitch), [60, 64]);
        }

        function test_the_range_fits_the_notes_data() {
            return [{tag: "no notes", pitches: [], low: 48, high: 72},
                    {tag: "a third above middle C", pitches: [64, 67], low: 60, high: 72},
                    {tag: "low notes", pitches: [30, 40], low: 28, high: 42},
                    {tag: "the top of the range", pitches: [126, 127], low: 60, high: 127}];
        }

        function test_the_range_fits_the_notes(data) {
            show([{length: 8, notes: data.pitches.map(p => [p, 100, 0, 1])}]);
            compare([roll.lowPitch, roll.highPitch], [data.low, data.high]);
            compare(roll.notes.length, data.pitches.length);
        }

        function test_without_a_clip_the_roll_shows_what_to_click_and_takes_no_press() {
            show([{length: 8}]);
            roll.clipId = "";
            verify(findChild(roll, "emptyState").visible);
            compare(roll.clipLength, 0);
            mouseClick(grid, 100, yOf(60));
            compare(stored(), []);
            compare(project.canUndo, false);
            roll.clipId = ids.clips[0][0];
            verify(!findChild(roll, "emptyState").visible);
            compare(roll.clipLength, 8);
        }

        function test_the_editor_reads_times_exactly_though_the_texts_are_rounded() {
            show([{length: 2000, notes: [[60, 90, 1234.5678, 0.3333333]]}]);
            compare(project.clipNotes(ids.tracks[0], ids.clips[0][0]).slice(3), ["1234.57", "0.333333"]);
            compare([roll.notes[0].start, roll.notes[0].length], [1234.5678, 0.3333333]);
            compare(roll.notes[0].velocity, 90);
        }

        function test_the_pointer_over_the_grid_writes_the_help_strip() {
            show([{length: 8}]);
            mouseMove(grid, 100, 100);
            verify(app.helpText.startsWith("The piano roll: every bar is a note of the selected clip."));
            mouseMove(stage, 880, 510);
            compare(app.helpText, "");
        }

        // ---- Adding ----

        function test_a_click_on_an_empty_cell_adds_a_snapped_sixteenth_in_one_undo_step_data() {
            return [{tag: "on a grid line", x: 100, start: 1},
                    {tag: "a little right of a cell's middle", x: 113, start: 1.25},
                    {tag: "a little left of a cell's middle", x: 112, start: 1},
                    {tag: "in the last cell", x: 799, start: 7.75}];
        }

        function test_a_click_on_an_empty_cell_adds_a_snapped_sixteenth_in_one_undo_step(data) {
            show([{length: 8}]);
            mouseClick(grid, data.x, yOf(62));
            compare(stored(), [[62, data.start, 0.25]]);
            compare(velocities(), [100]);
            compare(project.undoText, "Add note");
            project.undo();
            compare(stored(), []);
            compare(project.canUndo, false);
        }

        function test_the_grid_choice_sets_the_length_of_new_notes() {
            show([{length: 8}]);
            mouseClick(gridButton("1/32"));
            compare(roll.resolution, 8);
            mouseClick(grid, 113, yOf(60));
            compare(stored(), [[60, 1.125, 0.125]]);
            mouseClick(gridButton("1/8"));
            compare(roll.resolution, 2);
            mouseClick(grid, 330, yOf(64));
            compare(stored()[1], [64, 3.5, 0.5]);
        }

        function test_an_added_note_is_heard_and_the_next_one_stops_it() {
            show([{length: 8}]);
            click(1, 60);
            compare(instrument.pressedKeys, [1060]);
            compare(roll.auditionPitch, 60);
            click(2, 64);
            compare(instrument.pressedKeys, [1064]);
        }

        // ---- Moving ----

        function test_a_drag_moves_a_note_in_time_and_pitch_as_one_undo_step() {
            show([{length: 8, notes: [[60, 90, 1, 1]]}]);
            // Grabbed 0.5 beat into the note; every row and grid step on the way is an edit.
            drag({x: 150, y: yOf(60)}, {x: 262, y: yOf(63)});
            compare(stored(), [[63, 2.0, 1]]);
            compare(velocities(), [90]);
            compare(project.undoText, "Edit note");
            project.undo();
            compare(stored(), [[60, 1, 1]]);
            compare(project.canUndo, false);
        }

        function test_a_move_keeps_the_note_inside_the_clip() {
            show([{length: 8, notes: [[60, 100, 1, 2]]}]);
            drag({x: 150, y: yOf(60)}, {x: 790, y: yOf(60)});
            compare(stored(), [[60, 6, 2]]);
            drag({x: 650, y: yOf(60)}, {x: -300, y: yOf(60)});
            compare(stored(), [[60, 0, 2]]);
        }

        function test_a_note_off_the_grid_keeps_its_exact_time_when_only_its_pitch_moves() {
            show([{length: 8, notes: [[60, 80, 3.4567891, 0.3333333]]}]);
            drag({x: 350, y: yOf(60)}, {x: 350, y: yOf(62)});
            compare(stored(), [[62, 3.4567891, 0.3333333]]);
            compare(velocities(), [80]);
        }

        function test_a_note_off_the_grid_snaps_once_it_moves_in_time() {
            show([{length: 8, notes: [[60, 80, 3.4567891, 0.3333333]]}]);
            drag({x: 350, y: yOf(60)}, {x: 400, y: yOf(60)});
            compare(stored(), [[60, 4.0, 0.3333333]]);
        }

        function test_the_rows_hold_still_while_a_note_is_dragged_past_the_top() {
            show([{length: 8, notes: [[60, 100, 0, 1], [64, 100, 2, 1]]}]);
            compare([roll.lowPitch, roll.highPitch], [58, 70]);
            mousePress(grid, 250, yOf(64));
            // Five rows above the top row: pitch 75, however often the pointer reports there.
            for (let i = 0; i < 4; ++i) {
                mouseMove(grid, 250, -5 * 16 + 8, -1, Qt.LeftButton);
                compare(stored()[1], [75, 2, 1]);
                compare([roll.lowPitch, roll.highPitch], [58, 70]);
            }
            // Far beyond: the highest note there is.
            mouseMove(grid, 250, -200 * 16, -1, Qt.LeftButton);
            compare(stored()[1], [127, 2, 1]);
            mouseMove(grid, 250, -5 * 16 + 8, -1, Qt.LeftButton);
            compare(stored()[1], [75, 2, 1]);
            mouseRelease(grid, 250, -5 * 16 + 8);
            // The release fits the rows to the notes again.
            compare([roll.lowPitch, roll.highPitch], [58, 77]);
            compare(stored(), [[60, 0, 1], [75, 2, 1]]);
            project.undo();
            compare(stored(), [[60, 0, 1], [64, 2, 1]]);
            compare(project.canUndo, false);
        }

        function test_a_note_dragged_below_the_shown_rows_goes_down_with_the_pointer() {
            show([{length: 8, notes: [[60, 100, 0, 1]]}]);
            compare([roll.lowPitch, roll.highPitch], [58, 70]);
            // Two rows under the lowest shown row (58), where the grid shows no rows.
            const bottom = (roll.highPitch - roll.lowPitch + 1) * 16;
            drag({x: 50, y: yOf(60)}, {x: 50, y: bottom + 2 * 16 + 8});
            compare(stored(), [[55, 0, 1]]);
            compare([roll.lowPitch, roll.highPitch], [53, 65]);
        }

        // ---- Stretching ----

        function test_a_drag_at_a_notes_right_end_stretches_it_as_one_undo_step() {
            show([{length: 8, notes: [[60, 100, 1, 1]]}]);
            drag({x: 195, y: yOf(60)}, {x: 349, y: yOf(66)});
            compare(stored(), [[60, 1, 2.5]]);
            compare(project.undoText, "Edit note");
            project.undo();
            compare(stored(), [[60, 1, 1]]);
            compare(project.canUndo, false);
        }

        function test_a_stretch_stays_between_one_step_and_the_clips_end() {
            show([{length: 8, notes: [[60, 100, 6, 1]]}]);
            drag({x: 695, y: yOf(60)}, {x: 600, y: yOf(60)});
            compare(stored(), [[60, 6, 0.25]]);
            drag({x: 622, y: yOf(60)}, {x: 1200, y: yOf(60)});
            compare(stored(), [[60, 6, 2]]);
        }

        function test_a_stretch_of_a_note_off_the_grid_keeps_its_exact_start() {
            show([{length: 8, notes: [[60, 100, 1.2345678, 1]]}]);
            drag({x: 220, y: yOf(60)}, {x: 300, y: yOf(60)});
            compare(stored(), [[60, 1.2345678, 3 - 1.2345678]]);
        }

        // ---- Removing ----

        function test_a_click_on_a_note_removes_it_as_one_undo_step() {
            show([{length: 8, notes: [[60, 100, 0, 1], [62, 70, 1.2345678, 0.3333333]]}]);
            click(1.3, 62);
            compare(stored(), [[60, 0, 1]]);
            compare(project.undoText, "Remove note");
            project.undo();
            compare(stored(), [[60, 0, 1], [62, 1.2345678, 0.3333333]]);
            compare(velocities(), [100, 70]);
        }

        function test_a_press_wiggled_within_its_grid_step_still_removes_the_note() {
            show([{length: 8, notes: [[60, 100, 1, 1]]}]);
            drag({x: 150, y: yOf(60)}, {x: 160, y: yOf(60) + 4});
            compare(stored(), []);
        }

        function test_of_two_overlapping_notes_the_later_one_is_hit() {
            show([{length: 8, notes: [[60, 100, 0, 2], [60, 100, 1, 2]]}]);
            click(1.5, 60);
            compare(stored(), [[60, 0, 2]]);
        }

        // ---- Quantizing ----

        function test_quantize_moves_the_notes_onto_quarter_beats_as_one_undo_step() {
            show([{length: 8, notes: [[60, 100, 0.3, 1], [62, 100, 1.1, 0.5], [64, 100, 2, 1]]}]);
            mouseClick(findChild(roll, "quantizeButton"));
            compare(stored(), [[60, 0.25, 1], [62, 1, 0.5], [64, 2, 1]]);
            compare(project.undoText, "Quantize clip");
            project.undo();
            compare(stored(), [[60, 0.3, 1], [62, 1.1, 0.5], [64, 2, 1]]);
            compare(project.canUndo, false);
        }

        function test_quantize_with_everything_on_the_grid_makes_no_undo_step() {
            show([{length: 8, notes: [[60, 100, 0.25, 1]]}]);
            mouseClick(findChild(roll, "quantizeButton"));
            compare(stored(), [[60, 0.25, 1]]);
            compare(project.canUndo, false);
        }

        // ---- Drawing ----

        function test_the_fine_lines_give_way_when_closer_than_five_pixels() {
            show([{length: 8, notes: [[60, 100, 0, 1]]}]);
            roll.resolution = 8;
            const canvas = findChild(roll, "notesCanvas");
            verify(waitForRendering(canvas));
            const image = grabImage(findChild(roll, "gridArea"));
            // 12.5 px apart at 1/32: the line of beat 1/8 is drawn, at x 13.
            const lined = (picture, from, to, y) => {
                const found = [];
                for (let x = from; x <= to; ++x) {
                    if (!Qt.colorEqual(picture.pixel(x, y), theme.colors.surface))
                        found.push(x);
                }
                return found;
            };
            // 12.5 px apart at 1/32: one line near x 12.5, none between it and the next.
            compare(lined(image, 10, 16, 300).length, 1);
            compare(lined(image, 16, 23, 300), []);
            // A long clip: fine lines would be under 5 px apart, so only the beat lines, 2 px
            // apart, are drawn and every other pixel column stays clear.
            ids = Songs.open(project, testHost, [{clips: [{length: 400}]}]);
            roll.trackId = ids.tracks[0];
            roll.clipId = ids.clips[0][0];
            verify(waitForRendering(canvas));
            const sparse = grabImage(findChild(roll, "gridArea"));
            // In the row of a white key, which is not filled.
            compare(lined(sparse, 10, 19, yOf(60)).length, 5);
        }

        function test_a_dense_clip_for_the_eye() {
            const notes = [];
            for (let i = 0; i < 128; ++i)
                notes.push([48 + (i * 7) % 25, i % 3 === 0 ? 110 : 80, i * 0.25, 0.25 + (i % 4) * 0.25]);
            show([{length: 32, notes: notes}]);
            verify(waitForRendering(roll));
            grabImage(roll).save(testHost.galleryFolder + "/piano-roll-dense.png");
            roll.clipId = "";
            verify(waitForRendering(roll));
            grabImage(roll).save(testHost.galleryFolder + "/piano-roll-empty.png");
        }
    }
}
