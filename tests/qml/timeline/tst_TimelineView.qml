import QtQuick
import QtTest
import Ostrel.App
import "../Contrast.js" as Contrast

// The arrangement against the real project and transport controllers, with real mouse,
// wheel and key events.
Item {
    id: stage

    width: 1400
    height: 900

    Component { id: viewComponent; TimelineView { width: 1000; height: 500 } }
    Component { id: knobComponent; Knob { x: 1100; y: 600 } }

    // A browser row as it is dragged: the key and what it names.
    Component {
        id: sourceComponent

        Rectangle {
            property string patchName: ""
            property string deviceId: ""
            property string presetName: ""
            property string fileName: ""
            width: 28
            height: 28
            Drag.hotSpot.x: 14
            Drag.hotSpot.y: 14
            Drag.supportedActions: Qt.CopyAction
            Drag.proposedAction: Qt.CopyAction
        }
    }

    TestCase {
        id: test

        name: "TimelineView"
        when: windowShown

        SignalSpy { id: selectedSpy; signalName: "clipSelected" }
        SignalSpy { id: effectsAddedSpy; signalName: "effectsAdded" }
        SignalSpy { id: showEffectsSpy; signalName: "showEffects" }

        function initTestCase() {
            // Window shortcuts answer only in the window that has the keyboard.
            stage.Window.window.requestActivate();
            tryVerify(() => stage.Window.window.active, 5000, "the test window never became active");
        }

        function init() {
            testHost.resetControllers();
            settings.setValue("appearance.reduce_motion", true);
            app.helpText = "";
            mouseMove(stage, stage.width - 1, stage.height - 1);
        }

        function cleanup() {
            wait(0);
            testHost.resetControllers();
            theme.currentId = "graphite";
        }

        function makeView(properties) {
            const view = createTemporaryObject(viewComponent, stage, properties || {});
            verify(view);
            selectedSpy.target = view;
            selectedSpy.clear();
            effectsAddedSpy.target = view;
            effectsAddedSpy.clear();
            showEffectsSpy.target = view;
            showEffectsSpy.clear();
            waitForRendering(view);
            return view;
        }

        function part(item, name) {
            const found = findChild(item, name);
            verify(found, "no " + name);
            return found;
        }

        function body(view) {
            return part(view, "timelineBody");
        }

        // Rows replaced by a project change go at the next turn of the event loop.
        function rowItem(view, index) {
            wait(0);
            return part(view, "trackRow_" + index);
        }

        function headerPart(view, index, name) {
            return part(rowItem(view, index), name);
        }

        function clipBox(view, clipId) {
            wait(0);
            return part(view, "clip_" + clipId);
        }

        // A pixel of a clip's picture (x, y from the picture's top left) as the window shows it.
        function pictureAt(box, x, y) {
            waitForRendering(box);
            const at = box.mapToItem(stage, x, 14 + y);
            return grabImage(stage).pixel(Math.floor(at.x), Math.floor(at.y));
        }

        function clipsOf(trackIndex) {
            return project.tracks[trackIndex].clipList;
        }

        function clipById(clipId) {
            for (const track of project.tracks) {
                for (const clip of track.clipList) {
                    if (clip.id === clipId)
                        return {track: track.id, start: clip.start, length: clip.length};
                }
            }
            return null;
        }

        // Two MIDI tracks; the first holds one clip at `start`, `length` beats long.
        function songWithClip(start, length) {
            const first = project.addTrack();
            const second = project.addTrack();
            const clip = project.addEmptyClip(first, start, length);
            return {first: first, second: second, clip: clip};
        }

        // A press on the clip's box (box coordinates), then moves and the release in body
        // coordinates, which stay put while the box follows the drag.
        function dragClip(view, clipId, pressX, pressY, moves) {
            const box = clipBox(view, clipId);
            const from = box.mapToItem(body(view), pressX, pressY);
            mousePress(box, pressX, pressY);
            let last = from;
            for (const m of moves) {
                last = Qt.point(from.x + m[0], from.y + m[1]);
                testHost.moveMouse(body(view), last.x, last.y, Qt.LeftButton, Qt.NoModifier);
            }
            mouseRelease(body(view), last.x, last.y);
        }

        function dropOn(view, key, fields, viewX, viewY) {
            const source = createTemporaryObject(sourceComponent, stage, fields);
            source.Drag.keys = [key];
            const at = view.mapToItem(stage, viewX, viewY);
            source.x = at.x - 14;
            source.y = at.y - 14;
            source.Drag.active = true;
            const action = source.Drag.drop();
            source.Drag.active = false;
            return action;
        }

        // Frame: sizes, length and the snap grid

        function test_frame_sizes_follow_the_view() {
            const view = makeView();
            compare(view.headerWidth, 288);
            compare(view.rowHeight, 68);
            compare(view.rulerHeight, 28);
            // The view less its right border and the headers.
            compare(view.lanesWidth, 711);
            compare(view.visibleBeats, 711 / 28);
            view.width = 200;
            compare(view.lanesWidth, 1);
        }

        function test_total_beats_round_the_song_up_to_a_bar_with_room_data() {
            return [{tag: "empty", end: 0, total: 32}, {tag: "beat 17", end: 17, total: 36},
                    {tag: "beat 33.5", end: 33.5, total: 52}];
        }

        function test_total_beats_round_the_song_up_to_a_bar_with_room(data) {
            const view = makeView();
            if (data.end > 0)
                project.addEmptyClip(project.addTrack(), data.end - 1, 1);
            compare(view.totalBeats, data.total);
        }

        function test_an_empty_song_in_a_wide_view_cannot_scroll() {
            const view = makeView({width: 1400});
            const bar = part(view, "hScrollBar");
            compare(bar.size, 1);
            mouseWheel(part(view, "rulerMouse"), 100, 14, 0, -120, Qt.NoButton, Qt.ShiftModifier);
            compare(view.viewStart, 0);
        }

        function test_snap_grid_gets_finer_when_zoomed_in_data() {
            return [{ppb: 31.9, grid: 1}, {ppb: 32, grid: 0.5}, {ppb: 63.9, grid: 0.5}, {ppb: 64, grid: 0.25},
                    {ppb: 160, grid: 0.25}];
        }

        function test_snap_grid_gets_finer_when_zoomed_in(data) {
            const view = makeView();
            view.ppb = data.ppb;
            compare(view.snapGrid, data.grid);
            compare(view.snap(1.3 * data.grid), data.grid);
            compare(view.snap(1.5 * data.grid), 2 * data.grid);
        }

        function test_a_selected_clip_is_washed_in_the_selection_colour() {
            const view = makeView();
            const song = songWithClip(4, 4);
            mouseClick(clipBox(view, song.clip), 20, 20);
            const box = clipBox(view, song.clip);
            const selection = Qt.lighter(theme.colors.selection, 1);
            fuzzyCompare(box.color.r, selection.r, 0.01);
            fuzzyCompare(box.color.g, selection.g, 0.01);
            fuzzyCompare(box.color.a, 0.25, 0.01);
            verify(Qt.colorEqual(box.border.color, theme.colors.selection));
        }

        function test_the_rows_scroll_bar_shows_only_when_they_overflow() {
            const view = makeView();
            const bar = part(view, "vScrollBar");
            verify(!bar.visible);
            for (let i = 0; i < 8; ++i)
                project.addTrack();
            verify(bar.visible);
        }

        function test_track_colours_repeat_every_eight_rows() {
            const view = makeView();
            compare(view.trackColor(0), theme.colors.track1);
            compare(view.trackColor(7), theme.colors.track8);
            compare(view.trackColor(8), theme.colors.track1);
        }

        // Zoom and scroll

        function test_zoom_stops_at_its_bounds_data() {
            return [{tag: "in at 160", ppb: 160, factor: 1.3}, {tag: "out at 8", ppb: 8, factor: 1 / 1.3}];
        }

        function test_zoom_stops_at_its_bounds(data) {
            const view = makeView();
            project.addEmptyClip(project.addTrack(), 300, 4);
            view.ppb = data.ppb;
            view.viewStart = 20;
            view.zoomBy(data.factor, 100);
            compare(view.ppb, data.ppb);
            compare(view.viewStart, 20);
        }

        function test_zoom_buttons_keep_the_middle_beat_in_place() {
            const view = makeView();
            project.addEmptyClip(project.addTrack(), 200, 4);
            view.viewStart = 40;
            const middle = view.viewStart + view.lanesWidth / 2 / view.ppb;
            mouseClick(part(view, "zoomInButton"));
            fuzzyCompare(view.ppb, 28 * 1.3, 1e-9);
            fuzzyCompare(view.viewStart + view.lanesWidth / 2 / view.ppb, middle, 1e-9);
            mouseClick(part(view, "zoomOutButton"));
            mouseClick(part(view, "zoomOutButton"));
            fuzzyCompare(view.ppb, 28 / 1.3, 1e-9);
            fuzzyCompare(view.viewStart + view.lanesWidth / 2 / view.ppb, middle, 1e-9);
        }

        function test_zooming_near_the_start_is_clamped_to_beat_zero() {
            const view = makeView();
            project.addEmptyClip(project.addTrack(), 200, 4);
            view.viewStart = 1;
            mouseClick(part(view, "zoomOutButton"));
            compare(view.viewStart, 0);
        }

        function test_ruler_wheel_zooms_about_the_pointer() {
            const view = makeView();
            project.addEmptyClip(project.addTrack(), 200, 4);
            view.viewStart = 10;
            const ruler = part(view, "rulerMouse");
            const under = 10 + 280 / 28;
            mouseWheel(ruler, 280, 14, 0, 120);
            fuzzyCompare(view.ppb, 28 * 1.15, 1e-9);
            fuzzyCompare(view.viewStart + 280 / view.ppb, under, 1e-9);
            mouseWheel(ruler, 280, 14, 0, -120);
            fuzzyCompare(view.ppb, 28, 1e-9);
            fuzzyCompare(view.viewStart, 10, 1e-9);
        }

        function test_ctrl_wheel_over_the_body_zooms_about_the_lane_x() {
            const view = makeView();
            project.addEmptyClip(project.addTrack(), 200, 4);
            view.viewStart = 10;
            mouseWheel(body(view), 288 + 140, 200, 0, 120, Qt.NoButton, Qt.ControlModifier);
            fuzzyCompare(view.ppb, 28 * 1.15, 1e-9);
            fuzzyCompare(view.viewStart + 140 / view.ppb, 15, 1e-9);
            // Over the headers the anchor is the lanes' left edge.
            mouseWheel(body(view), 100, 200, 0, -120, Qt.NoButton, Qt.ControlModifier);
            fuzzyCompare(view.ppb, 28, 1e-9);
            fuzzyCompare(view.viewStart, 15 - 140 / (28 * 1.15), 1e-9);
        }

        function test_shift_wheel_scrolls_four_beats_within_the_song() {
            const view = makeView();
            project.addEmptyClip(project.addTrack(), 40, 4);
            compare(view.totalBeats, 60);
            const ruler = part(view, "rulerMouse");
            mouseWheel(ruler, 100, 14, 0, -120, Qt.NoButton, Qt.ShiftModifier);
            compare(view.viewStart, 4);
            mouseWheel(body(view), 400, 100, 0, -120, Qt.NoButton, Qt.ShiftModifier);
            compare(view.viewStart, 8);
            mouseWheel(body(view), 400, 100, 0, 120, Qt.NoButton, Qt.ShiftModifier);
            compare(view.viewStart, 4);
            for (let i = 0; i < 20; ++i)
                mouseWheel(ruler, 100, 14, 0, -120, Qt.NoButton, Qt.ShiftModifier);
            fuzzyCompare(view.viewStart, 60 - view.visibleBeats, 1e-9);
            for (let i = 0; i < 20; ++i)
                mouseWheel(ruler, 100, 14, 0, 120, Qt.NoButton, Qt.ShiftModifier);
            compare(view.viewStart, 0);
        }

        // A wheel turned only sideways has no vertical part, which counts as towards the person,
        // as over the piano keys: out, or four beats on.
        function test_a_sideways_wheel_counts_as_turned_towards_the_person_data() {
            const rows = [];
            for (const dx of [120, -120]) {
                rows.push({tag: "ruler zooms out " + dx, over: "rulerMouse", dx: dx, modifiers: Qt.NoModifier,
                           ppb: 28 / 1.15, viewStart: null});
                rows.push({tag: "ctrl over the body zooms out " + dx, over: "timelineBody", dx: dx,
                           modifiers: Qt.ControlModifier, ppb: 28 / 1.15, viewStart: null});
                rows.push({tag: "shift over the ruler scrolls on " + dx, over: "rulerMouse", dx: dx,
                           modifiers: Qt.ShiftModifier, ppb: 28, viewStart: 14});
                rows.push({tag: "shift over the body scrolls on " + dx, over: "timelineBody", dx: dx,
                           modifiers: Qt.ShiftModifier, ppb: 28, viewStart: 14});
            }
            return rows;
        }

        function test_a_sideways_wheel_counts_as_turned_towards_the_person(data) {
            const view = makeView();
            project.addEmptyClip(project.addTrack(), 200, 4);
            view.viewStart = 10;
            const target = part(view, data.over);
            const x = data.over === "rulerMouse" ? 280 : 288 + 280;
            mouseWheel(target, x, 14, data.dx, 0, Qt.NoButton, data.modifiers);
            fuzzyCompare(view.ppb, data.ppb, 1e-9);
            if (data.viewStart !== null)
                fuzzyCompare(view.viewStart, data.viewStart, 1e-9);
        }

        function test_plain_wheel_over_the_body_scrolls_the_rows() {
            const view = makeView();
            for (let i = 0; i < 12; ++i)
                project.addTrack();
            mouseWheel(body(view), 400, 100, 0, -120);
            tryVerify(() => view.contentY > 0);
            compare(view.viewStart, 0);
            compare(view.ppb, 28);
        }

        function test_the_rows_keep_their_scroll_through_a_project_change() {
            const view = makeView();
            for (let i = 0; i < 12; ++i)
                project.addTrack();
            part(view, "trackList").contentY = 150;
            const y = view.contentY;
            compare(y, 150);
            project.setTrackMuted(project.tracks[11].id, true);
            wait(0);
            compare(view.contentY, y);
        }

        function test_scroll_bar_shows_and_moves_the_view() {
            // Lanes 712 wide, so a quarter of the bar is a whole number of pixels.
            const view = makeView({width: 1001});
            project.addEmptyClip(project.addTrack(), 96, 4);
            compare(view.totalBeats, 116);
            const bar = part(view, "hScrollBar");
            fuzzyCompare(bar.size, view.visibleBeats / 116, 1e-9);
            view.viewStart = 29;
            fuzzyCompare(bar.position, 0.25, 1e-9);
            // Drag the handle a quarter of the bar's width to the right.
            const handleX = bar.position * bar.width + 10;
            mousePress(bar, handleX, 7);
            testHost.moveMouse(bar, handleX + bar.width / 8, 7, Qt.LeftButton, Qt.NoModifier);
            testHost.moveMouse(bar, handleX + bar.width / 4, 7, Qt.LeftButton, Qt.NoModifier);
            mouseRelease(bar, handleX + bar.width / 4, 7);
            fuzzyCompare(view.viewStart, 58, 0.01);
            // Past the end the view stops at the song's room.
            mousePress(bar, bar.position * bar.width + 10, 7);
            testHost.moveMouse(bar, bar.width + 200, 7, Qt.LeftButton, Qt.NoModifier);
            mouseRelease(bar, bar.width + 200, 7);
            fuzzyCompare(view.viewStart, 116 - view.visibleBeats, 1e-9);
        }

        // Ruler: start beat and loop

        function test_a_ruler_click_puts_the_start_on_the_nearest_grid_point() {
            const view = makeView();
            const ruler = part(view, "rulerMouse");
            mouseClick(ruler, 5.6 * 28, 14);
            compare(transport.startBeat, 6);
            view.ppb = 64;
            mouseClick(ruler, 2.4 * 64, 14);
            compare(transport.startBeat, 2.5);
        }

        function test_a_ruler_drag_moves_the_resting_playhead_and_stops_at_zero() {
            const view = makeView();
            const ruler = part(view, "rulerMouse");
            const playhead = part(view, "playhead");
            mousePress(ruler, 10 * 28, 14);
            compare(transport.startBeat, 10);
            testHost.moveMouse(ruler, 4 * 28, 14, Qt.LeftButton, Qt.NoModifier);
            compare(transport.startBeat, 4);
            compare(view.playheadBeat, 4);
            compare(playhead.x, 1 + 288 + 4 * 28 - 1);
            testHost.moveMouse(ruler, -80, 14, Qt.LeftButton, Qt.NoModifier);
            compare(transport.startBeat, 0);
            mouseRelease(ruler, -80, 14);
            compare(transport.startBeat, 0);
            verify(!transport.loopEnabled);
        }

        function test_a_shift_drag_chooses_the_loop() {
            const view = makeView();
            const ruler = part(view, "rulerMouse");
            transport.setStartBeat(2);
            mousePress(ruler, 8 * 28, 14, Qt.LeftButton, Qt.ShiftModifier);
            testHost.moveMouse(ruler, 6 * 28, 14, Qt.LeftButton, Qt.ShiftModifier);
            testHost.moveMouse(ruler, 4 * 28, 14, Qt.LeftButton, Qt.ShiftModifier);
            mouseRelease(ruler, 4 * 28, 14, Qt.LeftButton, Qt.ShiftModifier);
            verify(transport.loopEnabled);
            compare(transport.loopStart, 4);
            compare(transport.loopEnd, 8);
            // The start beat stays where it was.
            compare(transport.startBeat, 2);
            const band = part(view, "loopBand");
            compare(band.x, 4 * 28);
            compare(band.width, 4 * 28);
            verify(part(view, "loopWash").visible);
        }

        function test_a_shift_drag_back_onto_its_anchor_keeps_a_quarter_beat_loop() {
            const view = makeView();
            const ruler = part(view, "rulerMouse");
            mousePress(ruler, 8 * 28, 14, Qt.LeftButton, Qt.ShiftModifier);
            testHost.moveMouse(ruler, 10 * 28, 14, Qt.LeftButton, Qt.ShiftModifier);
            testHost.moveMouse(ruler, 8 * 28, 14, Qt.LeftButton, Qt.ShiftModifier);
            mouseRelease(ruler, 8 * 28, 14, Qt.LeftButton, Qt.ShiftModifier);
            compare(transport.loopStart, 8);
            compare(transport.loopEnd, 8.25);
        }

        function test_a_shift_click_leaves_the_loop_alone() {
            const view = makeView();
            const ruler = part(view, "rulerMouse");
            const loopStart = transport.loopStart;
            const loopEnd = transport.loopEnd;
            mouseClick(ruler, 8 * 28, 14, Qt.LeftButton, Qt.ShiftModifier);
            verify(!transport.loopEnabled);
            compare(transport.loopStart, loopStart);
            compare(transport.loopEnd, loopEnd);
            compare(transport.startBeat, 0);
            verify(!part(view, "loopWash").visible);
            compare(part(view, "loopBand").opacity, 0.35);
        }

        // The header column and what lies left of the view, pixel by pixel, with the loop far
        // out of sight and with it starting left of the scrolled view.
        function test_a_loop_left_of_the_view_keeps_to_the_ruler_and_the_lanes() {
            const view = makeView({x: 120});
            project.addTrack();
            project.addTrack();
            project.addEmptyClip(project.addTrack(), 80, 4);
            view.viewStart = 30;
            transport.setLoopRange(100, 104);
            waitForRendering(view);
            const away = grabImage(stage);
            transport.setLoopRange(0, 40);
            verify(transport.loopEnabled);
            waitForRendering(view);
            const over = grabImage(stage);
            const left = view.x + 1 + view.headerWidth;
            let spilt = 0;
            for (let y = view.y; y < view.y + view.height; y += 2) {
                for (let x = 0; x < left; x += 3) {
                    if (!Qt.colorEqual(away.pixel(x, y), over.pixel(x, y)))
                        ++spilt;
                }
            }
            compare(spilt, 0, "pixels left of the lanes changed with the loop");
            // The band and the wash do show over the ruler and the lanes.
            const band = view.mapToItem(stage, left + 20, view.rulerHeight - 2);
            const lane = view.mapToItem(stage, left + 20, view.rulerHeight + 150);
            verify(!Qt.colorEqual(away.pixel(band.x, band.y), over.pixel(band.x, band.y)));
            verify(!Qt.colorEqual(away.pixel(lane.x, lane.y), over.pixel(lane.x, lane.y)));
        }

        function test_the_ruler_writes_its_help_while_the_pointer_is_over_it() {
            const view = makeView();
            const ruler = part(view, "rulerMouse");
            mouseMove(ruler, 50, 14);
            verify(app.helpText.startsWith("Click the ruler to put the playhead there"));
            mouseMove(stage, stage.width - 1, stage.height - 1);
            compare(app.helpText, "");
        }

        // Playhead

        function test_the_playhead_hides_outside_the_lanes() {
            const view = makeView();
            project.addEmptyClip(project.addTrack(), 100, 4);
            const playhead = part(view, "playhead");
            transport.setStartBeat(10);
            verify(playhead.visible);
            view.viewStart = 11;
            verify(!playhead.visible);
            view.viewStart = 10;
            verify(playhead.visible);
            transport.setStartBeat(10 + view.visibleBeats + 1);
            verify(!playhead.visible);
        }

        function test_the_view_pages_to_follow_a_playing_transport() {
            const view = makeView();
            project.addEmptyClip(project.addTrack(), 60, 4);
            compare(view.totalBeats, 80);
            const playhead = part(view, "playhead");
            // Stopped, the view stays where it is.
            transport.setStartBeat(30);
            compare(view.viewStart, 0);
            verify(!playhead.visible);
            transport.play();
            verify(transport.playing);
            compare(view.viewStart, 30);
            compare(view.playheadBeat, transport.positionBeats);
            testHost.renderPeak(200);
            testHost.tickTransport();
            verify(transport.positionBeats > 30);
            compare(view.viewStart, 30);
            fuzzyCompare(playhead.x, 1 + 288 + (transport.positionBeats - 30) * 28 - 1, 1e-6);
            verify(playhead.visible);
            transport.stop();
            compare(view.playheadBeat, 30);
        }

        function test_near_the_end_the_paged_view_keeps_its_right_edge_at_the_song_end() {
            const view = makeView();
            project.addEmptyClip(project.addTrack(), 60, 4);
            transport.setStartBeat(70);
            transport.play();
            fuzzyCompare(view.viewStart, 80 - view.visibleBeats, 1e-9);
            verify(part(view, "playhead").x > 1 + 288 + 28);
        }

        // Clips: selection and gestures

        function test_a_click_on_a_clip_selects_it_and_changes_nothing() {
            const view = makeView();
            const song = songWithClip(4, 4);
            const steps = project.undoText;
            selectedSpy.clear();
            mouseClick(clipBox(view, song.clip), 20, 20);
            compare(view.selectedTrack, song.first);
            compare(view.selectedClip, song.clip);
            compare(selectedSpy.count, 1);
            compare(selectedSpy.signalArguments[0][0], song.clip);
            compare(selectedSpy.signalArguments[0][1], song.first);
            compare(project.undoText, steps);
            compare(clipBox(view, song.clip).border.width, 2);
        }

        function test_other_buttons_do_nothing_on_a_clip() {
            const view = makeView();
            const song = songWithClip(4, 4);
            selectedSpy.clear();
            mouseClick(clipBox(view, song.clip), 20, 20, Qt.RightButton);
            compare(view.selectedClip, "");
            compare(selectedSpy.count, 0);
        }

        function test_a_drag_begins_at_four_pixels_sideways_data() {
            return [{tag: "3 px", dx: 3, moved: false}, {tag: "4 px", dx: 4, moved: true}];
        }

        function test_a_drag_begins_at_four_pixels_sideways(data) {
            const view = makeView();
            const song = songWithClip(4, 4);
            const box = clipBox(view, song.clip);
            const from = box.mapToItem(body(view), 20, 28);
            mousePress(box, 20, 28);
            testHost.moveMouse(body(view), from.x + data.dx, from.y, Qt.LeftButton, Qt.NoModifier);
            compare(view.dragActive, data.moved);
            compare(part(view, "dragGhost").visible, data.moved);
            mouseRelease(body(view), from.x + data.dx, from.y);
            verify(!view.dragActive);
            // Either way the start stays on its beat: 4 px is under half a beat.
            compare(clipById(song.clip).start, 4);
        }

        function test_a_press_far_from_the_middle_drags_with_the_first_move() {
            const view = makeView();
            const song = songWithClip(4, 4);
            const box = clipBox(view, song.clip);
            const from = box.mapToItem(body(view), 20, 2);
            mousePress(box, 20, 2);
            testHost.moveMouse(body(view), from.x + 1, from.y, Qt.LeftButton, Qt.NoModifier);
            verify(view.dragActive);
            mouseRelease(body(view), from.x + 1, from.y);
        }

        function test_a_moved_clip_snaps_to_the_grid_in_one_undo_step_data() {
            return [{tag: "20 px right", start: 2.5, dx: 20, result: 3},
                    {tag: "far left", start: 2.5, dx: -400, result: 0},
                    {tag: "half-beat grid", start: 2, dx: 40, ppb: 32, result: 3.5}];
        }

        function test_a_moved_clip_snaps_to_the_grid_in_one_undo_step(data) {
            const view = makeView();
            if (data.ppb)
                view.ppb = data.ppb;
            const song = songWithClip(data.start, 4);
            dragClip(view, song.clip, 30, 28, [[data.dx / 2, 0], [data.dx, 0]]);
            compare(clipById(song.clip).start, data.result);
            compare(clipById(song.clip).length, 4);
            compare(project.undoText, "Edit clip");
            project.undo();
            compare(clipById(song.clip).start, data.start);
            compare(project.undoText, "Add clip");
        }

        function test_the_dragged_box_follows_within_its_row() {
            const view = makeView();
            const song = songWithClip(2, 4);
            const box = clipBox(view, song.clip);
            const from = box.mapToItem(body(view), 30, 28);
            mousePress(box, 30, 28);
            testHost.moveMouse(body(view), from.x + 56, from.y, Qt.LeftButton, Qt.NoModifier);
            compare(view.dragStartBeat, 4);
            compare(box.x, 4 * 28 + 1);
            compare(box.opacity, 1);
            mouseRelease(body(view), from.x + 56, from.y);
        }

        function test_a_clip_dragged_onto_another_track_moves_there_and_stays_selected() {
            const view = makeView();
            const song = songWithClip(4, 4);
            const box = clipBox(view, song.clip);
            const from = box.mapToItem(body(view), 30, 28);
            mousePress(box, 30, 28);
            testHost.moveMouse(body(view), from.x + 56, from.y + 68, Qt.LeftButton, Qt.NoModifier);
            compare(view.dragRow, 1);
            // Over another row the box stays and only the ghost shows the target.
            compare(box.opacity, 0.4);
            compare(box.x, 4 * 28 + 1);
            compare(part(view, "dragGhost").y, 68 + 5);
            selectedSpy.clear();
            mouseRelease(body(view), from.x + 56, from.y + 68);
            compare(clipById(song.clip).track, song.second);
            compare(clipById(song.clip).start, 6);
            compare(view.selectedTrack, song.second);
            compare(view.selectedClip, song.clip);
            const last = selectedSpy.signalArguments[selectedSpy.count - 1];
            compare(last[0], song.clip);
            compare(last[1], song.second);
            compare(project.undoText, "Move clip");
            // Back and forth is two undo steps.
            dragClip(view, song.clip, 30, 28, [[0, -40], [0, -68]]);
            compare(clipById(song.clip).track, song.first);
            project.undo();
            compare(clipById(song.clip).track, song.second);
            project.undo();
            compare(clipById(song.clip).track, song.first);
            compare(clipById(song.clip).start, 4);
        }

        function test_a_clip_dragged_past_the_rows_goes_to_the_first_or_last_track() {
            const view = makeView();
            const song = songWithClip(4, 4);
            const third = project.addTrack();
            dragClip(view, song.clip, 30, 28, [[0, 100], [0, 400]]);
            compare(clipById(song.clip).track, third);
            dragClip(view, song.clip, 30, 28, [[0, -100], [0, -400]]);
            compare(clipById(song.clip).track, song.first);
        }

        function test_a_resize_from_the_right_edge_snaps_in_one_undo_step_data() {
            return [{tag: "longer", dx: 60, length: 6},
                    {tag: "shorter", dx: -50, length: 2},
                    {tag: "below one grid step", dx: -400, length: 1},
                    {tag: "quarter grid", dx: -400, ppb: 64, length: 0.25}];
        }

        function test_a_resize_from_the_right_edge_snaps_in_one_undo_step(data) {
            const view = makeView();
            if (data.ppb)
                view.ppb = data.ppb;
            const song = songWithClip(2, 4);
            const box = clipBox(view, song.clip);
            dragClip(view, song.clip, box.width - 3, 28, [[data.dx / 2, 0], [data.dx, 0]]);
            compare(clipById(song.clip).start, 2);
            compare(clipById(song.clip).length, data.length);
            compare(project.undoText, "Edit clip");
            project.undo();
            compare(clipById(song.clip).length, 4);
        }

        function test_the_pointer_on_the_right_edge_shows_the_resize_arrow() {
            const view = makeView();
            const song = songWithClip(2, 4);
            const box = clipBox(view, song.clip);
            const mouse = part(box, "clipMouse");
            mouseMove(box, 20, 28);
            compare(mouse.cursorShape, Qt.OpenHandCursor);
            verify(app.helpText.startsWith("Click to select this clip"));
            mouseMove(box, box.width - 3, 28);
            compare(mouse.cursorShape, Qt.SizeHorCursor);
        }

        function test_a_clip_outside_the_visible_beats_is_hidden() {
            const view = makeView();
            const song = songWithClip(40, 4);
            verify(!clipBox(view, song.clip).visible);
            view.viewStart = 30;
            verify(clipBox(view, song.clip).visible);
        }

        function test_a_muted_track_draws_its_clips_faded() {
            const view = makeView();
            const song = songWithClip(2, 4);
            project.setTrackMuted(song.first, true);
            compare(clipBox(view, song.clip).opacity, 0.4);
        }

        // Clip keys and the clip functions

        function test_delete_removes_the_selected_clip_in_one_undo_step() {
            const view = makeView();
            const song = songWithClip(4, 4);
            mouseClick(clipBox(view, song.clip), 20, 20);
            verify(view.clipKeysOk);
            selectedSpy.clear();
            keyClick(Qt.Key_Delete);
            compare(clipsOf(0).length, 0);
            compare(view.selectedClip, "");
            compare(view.selectedTrack, song.first);
            compare(selectedSpy.signalArguments[selectedSpy.count - 1][0], "");
            compare(project.undoText, "Remove clip");
            project.undo();
            compare(clipsOf(0).length, 1);
        }

        function test_ctrl_d_copies_the_clip_after_itself_and_selects_the_copy() {
            const view = makeView();
            const song = songWithClip(4, 4);
            mouseClick(clipBox(view, song.clip), 20, 20);
            selectedSpy.clear();
            keyClick(Qt.Key_D, Qt.ControlModifier);
            compare(clipsOf(0).length, 2);
            const copy = clipsOf(0)[1];
            compare(copy.start, 8);
            compare(copy.length, 4);
            compare(view.selectedClip, copy.id);
            compare(view.selectedTrack, song.first);
            const last = selectedSpy.signalArguments[selectedSpy.count - 1];
            compare(last[0], copy.id);
            compare(project.undoText, "Add clip");
        }

        function test_ctrl_e_splits_at_the_playhead_and_clears_the_selection() {
            const view = makeView();
            const song = songWithClip(4, 4);
            mouseClick(part(view, "rulerMouse"), 6 * 28, 14);
            mouseClick(clipBox(view, song.clip), 20, 20);
            selectedSpy.clear();
            keyClick(Qt.Key_E, Qt.ControlModifier);
            compare(clipsOf(0).length, 2);
            compare(clipsOf(0)[0].length, 2);
            compare(clipsOf(0)[1].start, 6);
            compare(view.selectedClip, "");
            compare(selectedSpy.signalArguments[selectedSpy.count - 1][0], "");
            compare(project.undoText, "Split clip");
            project.undo();
            compare(clipsOf(0).length, 1);
            compare(clipsOf(0)[0].length, 4);
        }

        function test_a_split_outside_the_clip_keeps_the_selection_data() {
            return [{tag: "at its start", at: 4}, {tag: "0.2 before its end", at: 7.8}, {tag: "after it", at: 9}];
        }

        function test_a_split_outside_the_clip_keeps_the_selection(data) {
            const view = makeView();
            const song = songWithClip(4, 4);
            transport.setStartBeat(data.at);
            mouseClick(clipBox(view, song.clip), 5, 20);
            const steps = project.undoText;
            keyClick(Qt.Key_E, Qt.ControlModifier);
            compare(clipsOf(0).length, 1);
            compare(view.selectedClip, song.clip);
            compare(project.undoText, steps);
        }

        function test_the_split_button_works_only_with_a_selected_clip() {
            const view = makeView();
            const song = songWithClip(4, 4);
            const button = part(view, "splitButton");
            verify(!button.enabled);
            compare(button.opacity, 0.45);
            transport.setStartBeat(5);
            mouseClick(clipBox(view, song.clip), 5, 20);
            verify(button.enabled);
            mouseClick(button);
            compare(clipsOf(0).length, 2);
            compare(clipsOf(0)[1].start, 5);
        }

        function test_clip_keys_do_nothing_without_a_selected_clip() {
            const view = makeView();
            songWithClip(4, 4);
            view.forceActiveFocus();
            verify(!view.clipKeysOk);
            keyClick(Qt.Key_Delete);
            keyClick(Qt.Key_D, Qt.ControlModifier);
            compare(clipsOf(0).length, 1);
        }

        function test_delete_in_the_track_name_edits_the_text() {
            const view = makeView();
            const song = songWithClip(4, 4);
            mouseClick(clipBox(view, song.clip), 20, 20);
            const field = headerPart(view, 0, "nameField");
            mouseClick(field, field.width - 4, field.height / 2);
            verify(field.activeFocus);
            verify(!view.clipKeysOk);
            keyClick(Qt.Key_End);
            keyClick(Qt.Key_Delete);
            keyClick(Qt.Key_Backspace);
            compare(field.text, "Track ");
            compare(clipsOf(0).length, 1);
        }

        // A knob has no cursor, checked or pressed state, and uses Delete itself.
        function test_delete_on_a_focused_knob_leaves_the_clip_alone() {
            const view = makeView();
            const song = songWithClip(4, 4);
            const knob = createTemporaryObject(knobComponent, stage, {value: 0.8, defaultValue: 0.2});
            let committed = -1;
            knob.committed.connect(v => committed = v);
            mouseClick(clipBox(view, song.clip), 20, 20);
            mouseClick(knob, 25, 21);
            verify(knob.activeFocus);
            verify(!view.clipKeysOk);
            keyClick(Qt.Key_Delete);
            compare(clipsOf(0).length, 1);
            compare(view.selectedClip, song.clip);
            // The knob took the key: back to its default.
            compare(committed, 0.2);
            keyClick(Qt.Key_D, Qt.ControlModifier);
            compare(clipsOf(0).length, 1);
        }

        function test_a_focused_button_or_slider_keeps_the_clip_keys_data() {
            return [{tag: "button", name: "muteButton"}, {tag: "slider", name: "volumeSlider"}];
        }

        function test_a_focused_button_or_slider_keeps_the_clip_keys(data) {
            const view = makeView();
            const song = songWithClip(4, 4);
            mouseClick(clipBox(view, song.clip), 20, 20);
            headerPart(view, 0, data.name).forceActiveFocus(Qt.TabFocusReason);
            verify(!view.clipKeysOk);
            keyClick(Qt.Key_Delete);
            compare(clipsOf(0).length, 1);
        }

        // Selection against project changes

        function test_removing_the_selected_track_clears_the_selection() {
            const view = makeView();
            const song = songWithClip(4, 4);
            mouseClick(clipBox(view, song.clip), 20, 20);
            selectedSpy.clear();
            mouseClick(headerPart(view, 0, "removeButton"));
            compare(project.tracks.length, 1);
            compare(view.selectedTrack, "");
            compare(view.selectedClip, "");
            const last = selectedSpy.signalArguments[selectedSpy.count - 1];
            compare(last[0], "");
            compare(last[1], "");
            project.undo();
            compare(project.tracks.length, 2);
            compare(view.selectedTrack, "");
        }

        function test_undoing_a_new_track_clears_its_selection() {
            const view = makeView();
            mouseClick(part(view, "emptyAddMidiButton"));
            verify(view.selectedTrack !== "");
            project.undo();
            compare(view.selectedTrack, "");
        }

        // Track headers

        function test_an_empty_song_says_what_to_click() {
            const view = makeView();
            const message = part(view, "emptyMessage");
            verify(message.visible);
            fuzzyCompare(message.x, 288 + (view.lanesWidth - message.width) / 2, 1e-9);
            mouseClick(part(view, "emptyAddMidiButton"));
            compare(project.tracks.length, 1);
            compare(project.tracks[0].kind, "midi");
            compare(view.selectedTrack, project.tracks[0].id);
            verify(!message.visible);
            project.undo();
            verify(message.visible);
            mouseClick(part(view, "emptyAddAudioButton"));
            compare(project.tracks[0].kind, "audio");
            compare(view.selectedTrack, project.tracks[0].id);
        }

        function test_the_track_menu_adds_either_kind_data() {
            return [{tag: "midi", index: 0, item: "addMidiTrackItem", kind: "midi", name: "Track 1"},
                    {tag: "audio", index: 1, item: "addAudioTrackItem", kind: "audio", name: "Audio 1"}];
        }

        function test_the_track_menu_adds_either_kind(data) {
            const view = makeView();
            mouseClick(part(view, "addTrackButton"));
            const menu = part(view, "trackMenu");
            tryVerify(() => menu.opened);
            compare(menu.width, 220);
            const item = menu.itemAt(data.index);
            compare(item.objectName, data.item);
            mouseClick(item);
            compare(project.tracks.length, 1);
            compare(project.tracks[0].kind, data.kind);
            compare(project.tracks[0].name, data.name);
            compare(view.selectedTrack, project.tracks[0].id);
        }

        function test_a_click_on_a_header_selects_its_track() {
            const view = makeView();
            project.addTrack();
            const second = project.addTrack();
            const header = headerPart(view, 1, "trackHeader");
            mouseClick(header, 150, 64);
            compare(view.selectedTrack, second);
            verify(Qt.colorEqual(header.color, theme.colors.surfaceRaised));
            verify(Qt.colorEqual(headerPart(view, 0, "trackHeader").color, theme.colors.surface));
        }

        // Edge pixels against the selected header's fill and against an unselected header.
        function test_the_selected_header_is_edged_3_to_1_in_every_theme_data() {
            return Contrast.themeRows();
        }

        function test_the_selected_header_is_edged_3_to_1_in_every_theme(data) {
            theme.currentId = data.themeId;
            const view = makeView();
            project.addTrack();
            project.addTrack();
            mouseClick(headerPart(view, 0, "trackHeader"), 150, 64);
            compare(view.selectedTrack, project.tracks[0].id);
            const selected = headerPart(view, 0, "trackHeader");
            const other = headerPart(view, 1, "trackHeader");
            waitForRendering(view);
            const picture = grabImage(stage);
            const at = (item, x, y) => {
                const p = item.mapToItem(stage, x, y);
                return picture.pixel(Math.floor(p.x), Math.floor(p.y));
            };
            const edge = at(selected, 150, 0.5);
            const fill = at(selected, 10, 34);
            const otherFill = at(other, 10, 34);
            const inside = Contrast.ratio(edge, fill);
            const outside = Contrast.ratio(edge, otherFill);
            verify(inside >= 3, "edge against its fill " + inside.toFixed(2));
            verify(outside >= 3, "edge against another header " + outside.toFixed(2));
            // The header of another track has no edge.
            verify(Qt.colorEqual(at(other, 150, 0.5), otherFill));
        }

        function test_the_name_box_renames_the_track_on_enter() {
            const view = makeView();
            const id = project.addTrack();
            const field = headerPart(view, 0, "nameField");
            mouseClick(field);
            compare(view.selectedTrack, id);
            keyClick(Qt.Key_A, Qt.ControlModifier);
            keyClick(Qt.Key_B);
            keyClick(Qt.Key_A);
            keyClick(Qt.Key_S);
            keyClick(Qt.Key_S);
            keyClick(Qt.Key_Return);
            compare(project.tracks[0].name, "bass");
            compare(project.undoText, "Rename track");
            project.undo();
            compare(headerPart(view, 0, "nameField").text, "Track 1");
        }

        function test_a_blank_or_padded_name_shows_what_the_project_kept_data() {
            return [{tag: "blank", typed: "   ", kept: "Track 1"}, {tag: "padded", typed: " bass ", kept: "bass"}];
        }

        function test_a_blank_or_padded_name_shows_what_the_project_kept(data) {
            const view = makeView();
            project.addTrack();
            const field = headerPart(view, 0, "nameField");
            mouseClick(field);
            keyClick(Qt.Key_A, Qt.ControlModifier);
            for (const c of data.typed)
                keyClick(c === " " ? Qt.Key_Space : c.toUpperCase().charCodeAt(0));
            keyClick(Qt.Key_Return);
            compare(project.tracks[0].name, data.kept);
            tryCompare(field, "text", data.kept);
        }

        // Rows stay while the song keeps its number of tracks, so a name being typed in one
        // survives a change made elsewhere.
        function test_a_name_being_typed_survives_another_change() {
            const view = makeView();
            project.addTrack();
            const other = project.addTrack();
            const field = headerPart(view, 0, "nameField");
            mouseClick(field);
            keyClick(Qt.Key_End);
            keyClick(Qt.Key_X);
            project.setTrackMuted(other, true);
            verify(field.activeFocus);
            compare(field.text, "Track 1x");
            keyClick(Qt.Key_Return);
            compare(project.tracks[0].name, "Track 1x");
        }

        function test_mute_and_solo_toggle_in_one_undo_step_each_data() {
            return [{tag: "mute", button: "muteButton", field: "muted", on: "Mute track", off: "Unmute track"},
                    {tag: "solo", button: "soloButton", field: "solo", on: "Solo track", off: "Unsolo track"}];
        }

        function test_mute_and_solo_toggle_in_one_undo_step_each(data) {
            const view = makeView();
            project.addTrack();
            mouseClick(headerPart(view, 0, data.button));
            verify(project.tracks[0][data.field]);
            compare(project.undoText, data.on);
            verify(headerPart(view, 0, data.button).selected);
            mouseClick(headerPart(view, 0, data.button));
            verify(!project.tracks[0][data.field]);
            compare(project.undoText, data.off);
            project.undo();
            verify(project.tracks[0][data.field]);
            // The selection stays where it was.
            compare(view.selectedTrack, "");
        }

        function test_the_volume_slider_applies_when_let_go() {
            const view = makeView();
            project.addTrack();
            const slider = headerPart(view, 0, "volumeSlider");
            const x0 = slider.leftPadding + 9;
            const span = slider.availableWidth - 18;
            mousePress(slider, x0 + span * 0.5, 13);
            testHost.moveMouse(slider, x0 + span * 0.2, 13, Qt.LeftButton, Qt.NoModifier);
            testHost.moveMouse(slider, x0 + span * 0.1, 13, Qt.LeftButton, Qt.NoModifier);
            // Nothing reaches the project while the handle is held.
            compare(project.undoText, "Add track");
            mouseRelease(slider, x0 + span * 0.1, 13);
            compare(project.undoText, "Set track volume");
            fuzzyCompare(project.tracks[0].volume, 0.15, 0.011);
            project.undo();
            compare(project.tracks[0].volume, 1);
        }

        function test_the_fx_button_selects_the_track_and_asks_for_its_effects() {
            const view = makeView();
            project.addTrack();
            const id = project.addTrack();
            const fx = headerPart(view, 1, "fxButton");
            compare(fx.text, "fx");
            verify(!fx.selected);
            mouseClick(fx);
            compare(view.selectedTrack, id);
            compare(showEffectsSpy.count, 1);
        }

        function test_ten_effects_or_more_show_their_number_data() {
            return [{tag: "one", count: 1}, {tag: "twelve", count: 12}, {tag: "a hundred", count: 100}];
        }

        function test_ten_effects_or_more_show_their_number(data) {
            const view = makeView();
            const id = project.addTrack();
            for (let i = 0; i < data.count; ++i)
                project.addDevice(id, "ostrel.delay", "");
            const fx = headerPart(view, 0, "fxButton");
            compare(fx.text, "fx " + data.count);
            verify(!fx.contentItem.truncated, "the count gave way to an ellipsis");
            verify(fx.contentItem.contentWidth <= fx.width);
            // The row still fits the header, with the volume slider beside it.
            const header = headerPart(view, 0, "trackHeader");
            const removeButton = headerPart(view, 0, "removeButton");
            verify(removeButton.mapToItem(header, removeButton.width, 0).x <= header.width - 8);
            verify(headerPart(view, 0, "volumeSlider").width >= 40);
        }

        function test_the_remove_button_removes_the_track() {
            const view = makeView();
            const first = project.addTrack();
            project.addTrack();
            mouseClick(headerPart(view, 1, "removeButton"));
            compare(project.tracks.length, 1);
            compare(project.tracks[0].id, first);
            compare(project.undoText, "Remove track");
        }

        function test_an_audio_track_shows_no_instrument_or_pattern_button() {
            const view = makeView();
            project.addAudioTrack();
            project.addTrack();
            verify(headerPart(view, 0, "audioButton").visible);
            verify(!headerPart(view, 0, "audioButton").enabled);
            verify(!headerPart(view, 0, "instrumentButton").visible);
            verify(!headerPart(view, 0, "patternButton").visible);
            verify(!headerPart(view, 1, "audioButton").visible);
            verify(headerPart(view, 1, "instrumentButton").visible);
            compare(headerPart(view, 1, "instrumentButton").text, "no sound");
            verify(headerPart(view, 1, "patternButton").visible);
        }

        // The headers grow where the lanes keep three quarters of the view, and every row's
        // instrument button is as wide as the longest name needs: "FM E-Piano" read "FM E…"
        // even at 2560 wide. An audio track keeps the ♪ button's place empty, so its fx and ×
        // buttons stand in the columns of the other rows (its fx sat in the ♪ column).
        function test_the_rows_give_the_instrument_the_width_there_is_in_one_set_of_columns_data() {
            return [{tag: "narrow", width: 1000, header: 288, whole: false},
                    {tag: "wide", width: 2000, header: 0, whole: true}];
        }

        function test_the_rows_give_the_instrument_the_width_there_is_in_one_set_of_columns(data) {
            const view = makeView({width: data.width});
            project.setTrackInstrument(project.addTrack(), "FM E-Piano");
            project.setTrackInstrument(project.addTrack(), "Drum Rack");
            project.addAudioTrack();
            const rows = [0, 1, 2];
            const xOf = (index, name) => {
                const item = headerPart(view, index, name);
                return item.mapToItem(view, 0, 0).x;
            };
            if (data.header > 0)
                compare(view.headerWidth, data.header);
            else
                verify(view.headerWidth > 288 && view.headerWidth <= data.width / 4);
            const fm = headerPart(view, 0, "instrumentButton");
            compare(fm.contentItem.truncated, !data.whole);
            compare(headerPart(view, 1, "instrumentButton").width, fm.width);
            compare(headerPart(view, 2, "audioButton").width, fm.width);
            for (const name of ["fxButton", "removeButton"])
                compare(rows.map(index => xOf(index, name)), rows.map(() => xOf(0, name)));
            compare(xOf(2, "volumeSlider"), xOf(0, "volumeSlider"));
        }

        function test_the_instrument_menu_lists_no_sound_and_six_kinds() {
            const view = makeView();
            const id = project.addTrack();
            mouseClick(headerPart(view, 0, "instrumentButton"));
            const menu = part(view, "instrumentMenu");
            tryVerify(() => menu.opened);
            compare(menu.track, id);
            compare(view.selectedTrack, id);
            compare(menu.width, 240);
            compare(menu.count, 8);
            compare(menu.itemAt(0).text, "No sound");
            const titles = [];
            for (let i = 2; i < 8; ++i)
                titles.push(menu.itemAt(i).subMenu.title);
            compare(titles, ["Synth", "Bass", "Pad", "Drums", "Sampler", "Fm"]);
            // Every instrument of the list sits in its kind's sub-menu, without "Modular ".
            let listed = 0;
            for (let i = 2; i < 8; ++i) {
                const sub = menu.itemAt(i).subMenu;
                compare(sub.width, 240);
                for (let j = 0; j < sub.count; ++j) {
                    const item = sub.itemAt(j);
                    verify(!item.text.startsWith("Modular "), item.text);
                    verify(item.help.startsWith("Put “"));
                    ++listed;
                }
            }
            let known = 0;
            for (const name of instrument.patchNames) {
                const category = instrument.patchCategories[name];
                if (["synth", "bass", "pad", "drums", "sampler", "fm", undefined].indexOf(category) >= 0)
                    ++known;
            }
            compare(listed, known);
            menu.close();
        }

        function test_the_pattern_button_selects_the_track() {
            const view = makeView();
            project.addTrack();
            const id = project.addTrack();
            mouseClick(headerPart(view, 1, "patternButton"));
            compare(view.selectedTrack, id);
        }

        function test_header_controls_write_their_help_data() {
            return [{name: "muteButton", text: "Mute: silence this track in the mix."},
                    {name: "soloButton", text: "Solo: hear only the soloed tracks."},
                    {name: "removeButton", text: "Remove this track and everything on it. Undo brings it back."},
                    {name: "nameField", text: "The name of this track. Press Enter to keep the change (it can be undone)."},
                    {name: "volumeSlider", text: "This track's volume in the mix. Applied when you let go; one undo step."}];
        }

        function test_header_controls_write_their_help(data) {
            const view = makeView();
            project.addTrack();
            const control = headerPart(view, 0, data.name);
            mouseMove(control, control.width / 2, control.height / 2);
            tryVerify(() => app.helpText === data.text);
        }

        // Drops from the browser

        function test_an_instrument_dropped_on_a_row_goes_on_that_track() {
            const view = makeView();
            project.addTrack();
            const id = project.addTrack();
            const name = instrument.patchNames[3];
            dropOn(view, "ostrel/instrument", {patchName: name}, 500, 29 + 68 + 30);
            compare(view.selectedTrack, id);
            compare(instrument.patchName, name);
            compare(project.tracks.length, 2);
            compare(project.trackInstrument(id), name);
        }

        function test_an_instrument_dropped_below_the_rows_makes_a_track() {
            const view = makeView();
            project.addTrack();
            const name = instrument.patchNames[2];
            dropOn(view, "ostrel/instrument", {patchName: name}, 500, 29 + 68 + 100);
            compare(project.tracks.length, 2);
            const id = project.tracks[1].id;
            compare(view.selectedTrack, id);
            compare(instrument.patchName, name);
            compare(project.trackInstrument(id), name);
        }

        function test_an_instrument_dropped_in_an_empty_song_makes_a_track() {
            const view = makeView();
            const name = instrument.patchNames[1];
            dropOn(view, "ostrel/instrument", {patchName: name}, 300, 200);
            compare(project.tracks.length, 1);
            compare(view.selectedTrack, project.tracks[0].id);
        }

        function test_an_instrument_dropped_on_an_audio_track_only_plays() {
            const view = makeView();
            const id = project.addAudioTrack();
            const steps = project.undoText;
            const name = instrument.patchNames[4];
            dropOn(view, "ostrel/instrument", {patchName: name}, 500, 29 + 30);
            compare(project.tracks.length, 1);
            compare(project.trackInstrument(id), "");
            compare(project.undoText, steps);
            compare(instrument.patchName, name);
            compare(view.selectedTrack, id);
        }

        function test_a_sample_dropped_on_an_audio_track_lands_on_the_snapped_beat_data() {
            return [{tag: "in the lane", viewStart: 8, rowX: 288 + 100, beat: 12},
                    {tag: "on the header", viewStart: 8, rowX: 0, beat: 0},
                    {tag: "on the header further on", viewStart: 20, rowX: 0, beat: 10}];
        }

        function test_a_sample_dropped_on_an_audio_track_lands_on_the_snapped_beat(data) {
            const view = makeView();
            verify(testHost.writeTone(project.samplesDirectory + "/tone.wav", 1.0));
            project.refreshSamples();
            const id = project.addAudioTrack();
            project.addEmptyClip(project.addTrack(), 60, 4);
            view.viewStart = data.viewStart;
            compare(view.viewStart, data.viewStart);
            dropOn(view, "ostrel/sample", {fileName: "tone.wav"}, 1 + data.rowX, 29 + 30);
            compare(view.selectedTrack, id);
            const clips = clipsOf(0);
            compare(clips.length, 1);
            compare(clips[0].start, data.beat);
            verify(clips[0].audio);
        }

        function test_an_audio_clip_draws_a_picture_of_its_sound() {
            const view = makeView();
            verify(testHost.writeTone(project.samplesDirectory + "/tone.wav", 1.0));
            project.refreshSamples();
            const id = project.addAudioTrack();
            verify(project.dropSample(id, "tone.wav", 0));
            const clip = clipsOf(0)[0];
            compare(clip.peaks.length, 400);
            verify(clip.audioSeconds > 0.99);
            const box = clipBox(view, clip.id);
            const colour = Qt.lighter(view.trackColor(0), 1);
            const middle = Math.floor((box.height - 16) / 2);
            // A tone at half scale: a band half the picture's height round its middle.
            const x = Math.floor(box.width / 2);
            verify(Qt.colorEqual(pictureAt(box, x, middle), colour));
            verify(Qt.colorEqual(pictureAt(box, x, middle - 8), colour));
            verify(!Qt.colorEqual(pictureAt(box, x, 2), colour));
        }

        // One note on a scale of 12 pitches sits at the bottom of the picture, along its beat.
        function test_a_midi_clip_draws_its_notes() {
            const view = makeView();
            const song = songWithClip(0, 4);
            verify(project.addNote(song.first, song.clip, 60, 100, 0, 1) !== "");
            const box = clipBox(view, song.clip);
            const colour = Qt.lighter(view.trackColor(0), 1);
            const painted = (x, y) => {
                const c = pictureAt(box, x, y);
                return Math.abs(c.r - colour.r) < 0.02 && Math.abs(c.g - colour.g) < 0.02
                        && Math.abs(c.b - colour.b) < 0.02;
            };
            const bottom = box.height - 16 - 3;
            verify(painted(10, bottom));
            verify(!painted(10, 10));
            // The note ends after its one beat of four.
            verify(!painted(Math.round(box.width * 0.4), bottom));
        }

        // An edit reads its own track again; every other row keeps its map and its clip
        // boxes, and a clip's box is made anew, with its notes, only when the clip changed.
        function test_an_edit_of_one_track_leaves_the_other_rows_as_they_were() {
            const view = makeView();
            const song = songWithClip(0, 4);
            const other = project.addEmptyClip(song.second, 0, 4);
            verify(project.addNote(song.second, other, 62, 100, 0, 1) !== "");
            const otherMap = rowItem(view, 1).modelData;
            const otherBox = clipBox(view, other);
            const firstMap = rowItem(view, 0).modelData;
            const firstBox = clipBox(view, song.clip);

            project.setTrackVolume(song.first, 0.5);
            compare(rowItem(view, 0).modelData.volume, 0.5);
            verify(rowItem(view, 0).modelData !== firstMap);
            verify(clipBox(view, song.clip) === firstBox, "a volume leaves the track's clips as they were");
            verify(rowItem(view, 1).modelData === otherMap, "the other row's map was read again");
            verify(clipBox(view, other) === otherBox, "the other row's clip was made again");

            verify(project.addNote(song.first, song.clip, 60, 100, 0, 1) !== "");
            verify(clipBox(view, song.clip) !== firstBox, "the changed clip keeps its old picture");
            verify(rowItem(view, 1).modelData === otherMap);
            verify(clipBox(view, other) === otherBox);
        }

        function test_an_effect_dropped_on_a_row_selects_it_and_shows_the_effects() {
            const view = makeView();
            const id = project.addTrack();
            dropOn(view, "ostrel/effect", {deviceId: "ostrel.delay", presetName: ""}, 500, 29 + 30);
            compare(view.selectedTrack, id);
            compare(effectsAddedSpy.count, 1);
            compare(project.tracks[0].deviceList.length, 1);
            compare(headerPart(view, 0, "fxButton").text, "fx 1");
            verify(headerPart(view, 0, "fxButton").selected);
        }

        function test_a_row_lights_up_only_for_its_own_keys() {
            const view = makeView();
            project.addTrack();
            const source = createTemporaryObject(sourceComponent, stage, {patchName: instrument.patchNames[0]});
            source.Drag.keys = ["ostrel/instrument"];
            const at = view.mapToItem(stage, 500, 29 + 30);
            source.x = at.x - 14;
            source.y = at.y - 14;
            source.Drag.active = true;
            const row = rowItem(view, 0);
            verify(part(part(row, "instrumentDrop"), "dropHighlight").visible);
            verify(!part(part(row, "sampleDrop"), "dropHighlight").visible);
            verify(!part(part(row, "effectDrop"), "dropHighlight").visible);
            source.Drag.cancel();
            verify(!part(part(row, "instrumentDrop"), "dropHighlight").visible);
        }
    }
}
