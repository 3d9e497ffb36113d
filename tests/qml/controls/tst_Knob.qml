import QtQuick
import QtTest
import Ostrel.App

Item {
    id: stage

    width: 400
    height: 300

    Component { id: plainComponent; Knob {} }

    // A screen that feeds `moved` back into its model, as the device cards do.
    Component {
        id: ownedComponent

        Item {
            property real model: 0
            property alias knob: owned

            Knob { id: owned; x: 100; y: 120; value: parent.model; onMoved: newValue => parent.model = newValue }
        }
    }

    // A knob in a list that scrolls vertically, as on the instrument screen.
    Component {
        id: scrolledComponent

        Flickable {
            property real model: 0
            property alias knob: scrolled

            width: 300
            height: 200
            contentHeight: 1000

            Knob { id: scrolled; x: 100; y: 60; value: parent.parent.model; onMoved: newValue => parent.parent.model = newValue }
        }
    }

    // A parent that sees the keys the knob lets pass.
    Component {
        id: parentComponent

        FocusScope {
            property var passedKeys: []
            property alias knob: inner

            Keys.onPressed: event => passedKeys.push(event.key)

            Knob { id: inner; x: 100; y: 120; focus: true }
        }
    }

    // A knob on the theme's background, for looking at its drawing.
    Component {
        id: drawnComponent

        Rectangle {
            property alias knob: drawn

            x: 20
            y: 20
            width: drawn.width
            height: drawn.height
            color: theme.colors.background

            Knob { id: drawn }
        }
    }

    TestCase {
        name: "Knob"
        when: windowShown

        SignalSpy { id: movedSpy; signalName: "moved" }
        SignalSpy { id: committedSpy; signalName: "committed" }

        function init() {
            app.helpText = "";
            mouseMove(stage, stage.width - 1, stage.height - 1);
        }

        function watch(knob) {
            movedSpy.target = knob;
            committedSpy.target = knob;
            movedSpy.clear();
            committedSpy.clear();
            return knob;
        }

        // An owned knob; properties go to the knob, `model` to its owner.
        function makeOwned(properties) {
            const owner = createTemporaryObject(ownedComponent, stage);
            verify(owner);
            for (const key in properties) {
                if (key === "model")
                    owner.model = properties[key];
                else
                    owner.knob[key] = properties[key];
            }
            watch(owner.knob);
            return owner;
        }

        function lastMoved() {
            return movedSpy.signalArguments[movedSpy.count - 1][0];
        }

        function committedValues() {
            return committedSpy.signalArguments.map(a => a[0]);
        }

        // Drag: the whole range takes 160 pixels, 800 with Shift, from the press.

        function test_a_drag_asks_by_distance_and_commits_once_on_release_data() {
            return [
                {tag: "80 px up is half the range", model: 0, dy: -80, expected: 0.5},
                {tag: "Shift is five times finer", model: 0, dy: -80, shift: true, expected: 0.1},
                {tag: "down over a wider range", model: 100, from: 20, to: 420, dy: 16, expected: 60},
                {tag: "past the top is the top", model: 0.5, dy: -400, expected: 1},
                {tag: "past the bottom is the bottom", model: 0.5, dy: 400, expected: 0}
            ];
        }

        function test_a_drag_asks_by_distance_and_commits_once_on_release(data) {
            const knob = makeOwned({model: data.model, from: data.from || 0, to: data.to || 1}).knob;
            mousePress(knob, 25, 21);
            verify(knob.activeFocus);
            testHost.moveMouse(knob, 25, 21 + data.dy, Qt.LeftButton, data.shift ? Qt.ShiftModifier : Qt.NoModifier);
            fuzzyCompare(lastMoved(), data.expected, 1e-9);
            compare(committedSpy.count, 0, "nothing is committed during the drag");
            mouseRelease(knob, 25, 21 + data.dy);
            compare(committedSpy.count, 1);
            fuzzyCompare(committedValues()[0], data.expected, 1e-9);
        }

        function test_letting_go_of_shift_rescales_the_whole_drag() {
            const knob = makeOwned({}).knob;
            mousePress(knob, 25, 21);
            testHost.moveMouse(knob, 25, 21 - 80, Qt.LeftButton, Qt.ShiftModifier);
            testHost.moveMouse(knob, 25, 21 - 80, Qt.LeftButton, Qt.NoModifier);
            fuzzyCompare(lastMoved(), 0.5, 1e-9);
            mouseRelease(knob, 25, 21 - 80);
        }

        function test_a_drag_the_screen_ignores_commits_the_unchanged_value() {
            const knob = watch(createTemporaryObject(ownedComponent, stage).knob);
            knob.value = 0.25;
            mousePress(knob, 25, 21);
            mouseMove(knob, 25, 1, -1, Qt.LeftButton);
            verify(movedSpy.count > 0);
            mouseRelease(knob, 25, 1);
            compare(committedValues(), [0.25]);
        }

        function test_a_scrolling_list_does_not_take_the_turn() {
            const list = createTemporaryObject(scrolledComponent, stage);
            watch(list.knob);
            mousePress(list.knob, 25, 21);
            for (let dy = 10; dy <= 80; dy += 10)
                mouseMove(list.knob, 25, 21 - dy, -1, Qt.LeftButton);
            mouseRelease(list.knob, 25, 21 - 80);
            compare(list.contentY, 0);
            fuzzyCompare(list.model, 0.5, 1e-9);
            compare(committedSpy.count, 1);
        }

        function test_a_double_click_puts_it_back_to_its_default() {
            const owner = makeOwned({model: 0.9, defaultValue: 0.3});
            mouseDoubleClickSequence(owner.knob, 25, 21);
            compare(owner.model, 0.3);
            compare(committedValues(), [0.9, 0.3, 0.3]);
        }

        // Wheel and keys: one step is 2 % of the range, each commits; at an end the end is
        // committed without asking to move.

        function test_a_wheel_notch_steps_and_commits_data() {
            return [
                {tag: "up", model: 0.5, dy: 120, expected: 0.52},
                {tag: "down", model: 0.5, dy: -120, expected: 0.48},
                {tag: "Shift steps half a percent", model: 0.5, dy: 120, shift: true, expected: 0.505},
                {tag: "the step follows the range", model: 0, from: -12, to: 12, dy: 120, expected: 0.48},
                {tag: "up at the top", model: 1, dy: 120, expected: 1},
                {tag: "down at the bottom", model: 0, dy: -120, expected: 0}
            ];
        }

        function test_a_wheel_notch_steps_and_commits(data) {
            const owner = makeOwned({model: data.model, from: data.from || 0, to: data.to || 1});
            mouseWheel(owner.knob, 25, 21, 0, data.dy, Qt.NoButton, data.shift ? Qt.ShiftModifier : Qt.NoModifier);
            fuzzyCompare(owner.model, data.expected, 1e-9);
            compare(movedSpy.count, data.expected === data.model ? 0 : 1);
            compare(committedSpy.count, 1);
            fuzzyCompare(committedValues()[0], data.expected, 1e-9);
            verify(owner.knob.activeFocus);
        }

        function test_sideways_scrolling_leaves_the_knob_alone() {
            const owner = makeOwned({model: 0.5});
            mouseWheel(owner.knob, 25, 21, 120, 0);
            compare(owner.model, 0.5);
            compare(committedSpy.count, 0);
        }

        function test_a_key_steps_or_jumps_and_commits_data() {
            return [
                {tag: "Up", key: Qt.Key_Up, model: 0.5, expected: 0.52},
                {tag: "Right", key: Qt.Key_Right, model: 0.5, expected: 0.52},
                {tag: "Plus", key: Qt.Key_Plus, model: 0.5, expected: 0.52},
                {tag: "Down", key: Qt.Key_Down, model: 0.5, expected: 0.48},
                {tag: "Left", key: Qt.Key_Left, model: 0.5, expected: 0.48},
                {tag: "Minus", key: Qt.Key_Minus, model: 0.5, expected: 0.48},
                {tag: "PageUp", key: Qt.Key_PageUp, model: 0.5, expected: 0.6},
                {tag: "PageDown", key: Qt.Key_PageDown, model: 0.5, expected: 0.4},
                {tag: "Home", key: Qt.Key_Home, model: 0.5, expected: 0},
                {tag: "End", key: Qt.Key_End, model: 0.5, expected: 1},
                {tag: "Delete", key: Qt.Key_Delete, model: 0.5, expected: 0.7},
                {tag: "Backspace", key: Qt.Key_Backspace, model: 0.1, expected: 0.7},
                {tag: "Up at the top", key: Qt.Key_Up, model: 1, expected: 1},
                {tag: "Down from above the range", key: Qt.Key_Down, model: 1.5, expected: 1},
                {tag: "Up from below the range", key: Qt.Key_Up, model: -3, expected: 0}
            ];
        }

        function test_a_key_steps_or_jumps_and_commits(data) {
            const owner = makeOwned({model: data.model, defaultValue: 0.7});
            owner.knob.forceActiveFocus();
            keyClick(data.key);
            fuzzyCompare(owner.model, data.expected, 1e-9);
            compare(movedSpy.count, data.expected === data.model ? 0 : 1);
            compare(committedSpy.count, 1);
            fuzzyCompare(committedValues()[0], data.expected, 1e-9);
        }

        function test_other_keys_pass_on_to_the_parents() {
            const scope = createTemporaryObject(parentComponent, stage);
            scope.forceActiveFocus();
            verify(scope.knob.activeFocus);
            watch(scope.knob);
            keyClick(Qt.Key_A);
            // Space stays the window's play shortcut while a knob has the focus.
            keyClick(Qt.Key_Space);
            keyClick(Qt.Key_Up);
            compare(scope.passedKeys, [Qt.Key_A, Qt.Key_Space]);
            compare(committedSpy.count, 1);
        }

        // Value text and reading

        function test_the_value_text_shows_only_while_hovered_or_focused() {
            const knob = makeOwned({model: 0.5}).knob;
            const label = findChild(knob, "knobValueText");
            verify(!label.visible);
            mouseMove(knob, 25, 21);
            verify(label.visible);
            compare(label.text, "50 %");
            mouseMove(stage, stage.width - 1, stage.height - 1);
            verify(!label.visible);
            knob.forceActiveFocus();
            verify(label.visible);
            // Halves round up; a screen can pass its own format.
            compare(knob.format(0.125), "13 %");
            compare(knob.format(-0.125), "-12 %");
            const hertz = createTemporaryObject(plainComponent, stage, {value: 440, to: 1000, format: v => v.toFixed(0) + " Hz"});
            compare(findChild(hertz, "knobValueText").text, "440 Hz");
        }

        // Drawing: a 42 px dial centred in a 50 px wide knob; centre (21, 21), radius 16.

        function near(actual, expected) {
            const e = Qt.color(expected);
            return Math.abs(actual.r - e.r) < 0.06 && Math.abs(actual.g - e.g) < 0.06 && Math.abs(actual.b - e.b) < 0.06;
        }

        // Angles in canvas radians over pi: 0.75 is the start, 1.5 the top, 2.25 the end.
        // Distance 16 is the track, 7 the pointer. near: whether the pixel has that colour.
        function test_the_dial_draws_track_arc_and_pointer_data() {
            return [
                {tag: "half way", props: {value: 0.5}, probes: [[1.1, 16, "value"], [1.9, 16, "track"], [1.5, 7, "text"]]},
                {tag: "an empty range points at the start without an arc", props: {from: 1, to: 1, value: 1},
                 probes: [[0.75, 7, "text"], [1.1, 16, "value", false]]},
                {tag: "bipolar in the middle draws no arc", props: {bipolar: true, value: 0.5},
                 probes: [[1.5, 7, "text"], [1.4, 16, "track"], [1.6, 16, "track"]]},
                {tag: "bipolar above the middle", props: {bipolar: true, value: 0.75},
                 probes: [[1.7, 16, "value"], [1.3, 16, "track"]]},
                {tag: "bipolar below the middle", props: {bipolar: true, value: 0.25},
                 probes: [[1.3, 16, "value"], [1.7, 16, "track"]]},
                {tag: "the pointer shows the keyboard focus", props: {value: 0.5}, focus: true, probes: [[1.5, 7, "accent2"]]}
            ];
        }

        function test_the_dial_draws_track_arc_and_pointer(data) {
            const holder = createTemporaryObject(drawnComponent, stage);
            for (const key in data.props)
                holder.knob[key] = data.props[key];
            if (data.focus)
                holder.knob.forceActiveFocus();
            tryVerify(() => {
                const image = grabImage(holder);
                return data.probes.every(([turns, distance, colour, wanted]) => {
                    const angle = turns * Math.PI;
                    const pixel = image.pixel(4 + Math.round(21 + distance * Math.cos(angle)),
                                              Math.round(21 + distance * Math.sin(angle)));
                    const expected = colour === "track" ? holder.knob.trackColor
                                   : colour === "value" ? holder.knob.valueColor : theme.colors[colour];
                    return near(pixel, expected) === (wanted !== false);
                });
            }, 5000, "the dial never painted as expected");
        }

        function test_a_theme_change_repaints_the_dial() {
            const holder = createTemporaryObject(drawnComponent, stage);
            const face = () => near(grabImage(holder).pixel(4 + 21 + 5, 21), theme.colors.surfaceRaised);
            tryVerify(face);
            theme.currentId = "light";
            tryVerify(face);
            theme.currentId = "graphite";
        }
    }
}
