import QtQuick
import QtTest
import Ostrel.App

Item {
    id: stage

    width: 400
    height: 300

    Component {
        id: knobComponent

        Knob {
            x: 100
            y: 120
            help: "How bright it sounds."
        }
    }

    // A screen that feeds `moved` back into its model, as the device cards do.
    Component {
        id: ownedComponent

        Item {
            property real model: 0
            property alias knob: owned

            Knob {
                id: owned

                x: 100
                y: 120
                help: "How bright it sounds."
                value: parent.model
                onMoved: newValue => parent.model = newValue
            }
        }
    }

    // A knob in a list that scrolls vertically, as on the instrument screen.
    Component {
        id: scrolledComponent

        Flickable {
            property real model: 0
            property alias knob: scrolled

            x: 0
            y: 0
            width: 300
            height: 200
            contentHeight: 1000

            Knob {
                id: scrolled

                x: 100
                y: 60
                value: parent.parent.model
                onMoved: newValue => parent.parent.model = newValue
            }
        }
    }

    // A parent that sees the keys the knob lets pass.
    Component {
        id: parentComponent

        FocusScope {
            property var passedKeys: []
            property alias knob: inner

            Keys.onPressed: event => passedKeys.push(event.key)

            Knob {
                id: inner

                x: 100
                y: 120
                focus: true
            }
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

            Knob {
                id: drawn
            }
        }
    }

    TestCase {
        id: testCase

        name: "Knob"
        when: windowShown

        SignalSpy {
            id: movedSpy

            signalName: "moved"
        }

        SignalSpy {
            id: committedSpy

            signalName: "committed"
        }

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

        function makeKnob(properties) {
            const knob = createTemporaryObject(knobComponent, stage, properties || {});
            verify(knob);
            return watch(knob);
        }

        function makeOwned(model) {
            const owner = createTemporaryObject(ownedComponent, stage, {model: model});
            verify(owner);
            watch(owner.knob);
            return owner;
        }

        function lastMoved() {
            return movedSpy.signalArguments[movedSpy.count - 1][0];
        }

        function committedValues() {
            return committedSpy.signalArguments.map(a => a[0]);
        }

        // Drag

        function test_dragging_80_pixels_up_asks_for_half_the_range() {
            const owner = makeOwned(0);
            const knob = owner.knob;
            mousePress(knob, 25, 21);
            mouseMove(knob, 25, 21 - 80, -1, Qt.LeftButton);
            fuzzyCompare(lastMoved(), 0.5, 1e-9);
            compare(committedSpy.count, 0, "nothing is committed during the drag");
            mouseRelease(knob, 25, 21 - 80);
            compare(committedValues().length, 1);
            fuzzyCompare(committedValues()[0], 0.5, 1e-9);
        }

        function test_shift_makes_the_drag_five_times_finer() {
            const knob = makeOwned(0).knob;
            mousePress(knob, 25, 21);
            testHost.moveMouse(knob, 25, 21 - 80, Qt.LeftButton, Qt.ShiftModifier);
            fuzzyCompare(lastMoved(), 0.1, 1e-9);
            // Letting go of Shift rescales the whole distance from the press.
            testHost.moveMouse(knob, 25, 21 - 80, Qt.LeftButton, Qt.NoModifier);
            fuzzyCompare(lastMoved(), 0.5, 1e-9);
            mouseRelease(knob, 25, 21 - 80);
        }

        function test_dragging_past_the_range_asks_for_the_clamped_end() {
            const knob = makeOwned(0.5).knob;
            mousePress(knob, 25, 21);
            mouseMove(knob, 25, 21 - 400, -1, Qt.LeftButton);
            compare(lastMoved(), 1);
            const count = movedSpy.count;
            mouseMove(knob, 25, 21 - 420, -1, Qt.LeftButton);
            compare(movedSpy.count, count, "at the end nothing more is asked");
            mouseMove(knob, 25, 21 + 400, -1, Qt.LeftButton);
            compare(lastMoved(), 0);
            mouseRelease(knob, 25, 21 + 400);
            compare(committedValues(), [0]);
        }

        function test_dragging_down_lowers_over_any_range() {
            const knob = makeOwned(100).knob;
            knob.from = 20;
            knob.to = 420;
            mousePress(knob, 25, 21);
            mouseMove(knob, 25, 21 + 16, -1, Qt.LeftButton);
            fuzzyCompare(lastMoved(), 100 - 16 * 400 / 160, 1e-9);
            mouseRelease(knob, 25, 21 + 16);
        }

        function test_a_drag_the_screen_ignores_commits_the_unchanged_value() {
            const knob = makeKnob({value: 0.25});
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

        function test_a_press_takes_the_keyboard_focus() {
            const knob = makeKnob();
            mousePress(knob, 25, 21);
            verify(knob.activeFocus);
            mouseRelease(knob, 25, 21);
        }

        function test_a_double_click_puts_it_back_to_its_default() {
            const owner = makeOwned(0.9);
            owner.knob.defaultValue = 0.3;
            mouseDoubleClickSequence(owner.knob, 25, 21);
            compare(owner.model, 0.3);
            compare(committedValues(), [0.9, 0.3, 0.3]);
        }

        // Wheel

        function test_one_wheel_notch_steps_two_percent_and_commits() {
            const owner = makeOwned(0.5);
            mouseWheel(owner.knob, 25, 21, 0, 120);
            fuzzyCompare(owner.model, 0.52, 1e-9);
            compare(committedSpy.count, 1);
            fuzzyCompare(committedValues()[0], 0.52, 1e-9);
            mouseWheel(owner.knob, 25, 21, 0, -120);
            fuzzyCompare(owner.model, 0.5, 1e-9);
            verify(owner.knob.activeFocus);
        }

        function test_shift_wheel_steps_half_a_percent() {
            const owner = makeOwned(0.5);
            mouseWheel(owner.knob, 25, 21, 0, 120, Qt.NoButton, Qt.ShiftModifier);
            fuzzyCompare(owner.model, 0.505, 1e-9);
        }

        function test_the_wheel_at_the_ends_commits_the_end_without_moving() {
            const owner = makeOwned(1);
            mouseWheel(owner.knob, 25, 21, 0, 120);
            compare(movedSpy.count, 0);
            compare(committedValues(), [1]);
            owner.model = 0;
            mouseWheel(owner.knob, 25, 21, 0, -120);
            compare(movedSpy.count, 0);
            compare(committedValues(), [1, 0]);
        }

        function test_the_wheel_step_follows_the_range() {
            const owner = makeOwned(0);
            owner.knob.from = -12;
            owner.knob.to = 12;
            mouseWheel(owner.knob, 25, 21, 0, 120);
            fuzzyCompare(owner.model, 0.48, 1e-9);
        }

        function test_sideways_scrolling_leaves_the_knob_alone() {
            const owner = makeOwned(0.5);
            mouseWheel(owner.knob, 25, 21, 120, 0);
            compare(owner.model, 0.5);
            compare(committedSpy.count, 0);
        }

        // Keys

        function test_arrow_and_page_keys_step_and_commit_each_time() {
            const owner = makeOwned(0.5);
            owner.knob.forceActiveFocus();
            keyClick(Qt.Key_Up);
            fuzzyCompare(owner.model, 0.52, 1e-9);
            keyClick(Qt.Key_Left);
            keyClick(Qt.Key_Down);
            fuzzyCompare(owner.model, 0.48, 1e-9);
            keyClick(Qt.Key_Right);
            keyClick(Qt.Key_Plus);
            keyClick(Qt.Key_Minus);
            fuzzyCompare(owner.model, 0.5, 1e-9);
            keyClick(Qt.Key_PageUp);
            fuzzyCompare(owner.model, 0.6, 1e-9);
            keyClick(Qt.Key_PageDown);
            keyClick(Qt.Key_PageDown);
            fuzzyCompare(owner.model, 0.4, 1e-9);
            compare(committedSpy.count, 9);
        }

        function test_home_end_and_delete_jump() {
            const owner = makeOwned(0.5);
            owner.knob.defaultValue = 0.7;
            owner.knob.forceActiveFocus();
            keyClick(Qt.Key_End);
            compare(owner.model, 1);
            keyClick(Qt.Key_Home);
            compare(owner.model, 0);
            keyClick(Qt.Key_Delete);
            compare(owner.model, 0.7);
            owner.model = 0.1;
            keyClick(Qt.Key_Backspace);
            compare(owner.model, 0.7);
            compare(committedValues(), [1, 0, 0.7, 0.7]);
        }

        function test_up_at_the_top_commits_without_moving() {
            const knob = makeKnob({value: 1});
            knob.forceActiveFocus();
            keyClick(Qt.Key_Up);
            compare(movedSpy.count, 0);
            compare(committedValues(), [1]);
        }

        function test_a_step_from_outside_the_range_is_clamped_into_it() {
            const knob = makeKnob({value: 1.5});
            knob.forceActiveFocus();
            keyClick(Qt.Key_Down);
            compare(movedSpy.signalArguments[0][0], 1);
            knob.value = -3;
            keyClick(Qt.Key_Up);
            compare(lastMoved(), 0);
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

        function test_a_disabled_knob_ignores_the_pointer() {
            const owner = makeOwned(0.5);
            owner.knob.enabled = false;
            mouseWheel(owner.knob, 25, 21, 0, 120);
            mouseDrag(owner.knob, 25, 21, 0, -60);
            compare(owner.model, 0.5);
            compare(committedSpy.count, 0);
            mouseMove(owner.knob, 25, 21);
            compare(app.helpText, "");
        }

        // Value text, help and reading

        function test_the_value_text_shows_only_while_active() {
            const knob = makeKnob({value: 0.5});
            const label = findChild(knob, "knobValueText");
            verify(!label.visible);
            mouseMove(knob, 25, 21);
            verify(label.visible);
            compare(label.text, "50 %");
            mouseMove(stage, stage.width - 1, stage.height - 1);
            verify(!label.visible);
            knob.forceActiveFocus();
            verify(label.visible);
            knob.value = 1;
            compare(label.text, "100 %");
        }

        function test_the_default_format_rounds_halves_up() {
            const knob = makeKnob();
            compare(knob.format(0.125), "13 %");
            compare(knob.format(-0.125), "-12 %");
        }

        function test_a_screen_can_pass_its_own_format() {
            const knob = makeKnob({value: 440, to: 1000, format: v => v.toFixed(0) + " Hz"});
            knob.forceActiveFocus();
            compare(findChild(knob, "knobValueText").text, "440 Hz");
        }

        function test_hover_writes_help_and_leaving_clears_it() {
            const knob = makeKnob();
            mouseMove(knob, 25, 21);
            compare(app.helpText, "How bright it sounds.");
            mouseMove(stage, stage.width - 1, stage.height - 1);
            compare(app.helpText, "");
        }

        function test_fraction_is_clamped_and_zero_for_an_empty_range() {
            const knob = makeKnob({from: -1, to: 1, value: 0});
            compare(knob.fraction, 0.5);
            knob.value = 5;
            compare(knob.fraction, 1);
            knob.to = -1;
            compare(knob.fraction, 0);
        }

        function test_size_sets_the_room_it_takes() {
            const knob = makeKnob({size: 60});
            compare(knob.implicitWidth, 68);
            compare(knob.implicitHeight, 76);
        }

        function test_accessibility_names_the_slider() {
            const knob = makeKnob();
            compare(knob.Accessible.role, Accessible.Slider);
            compare(knob.Accessible.name, "How bright it sounds.");
            knob.name = "Brightness";
            compare(knob.Accessible.name, "Brightness");
        }

        // Drawing: a 42 px dial centred in a 50 px wide knob; centre (21, 21), radius 16.

        function near(actual, expected) {
            const e = Qt.color(expected);
            return Math.abs(actual.r - e.r) < 0.06 && Math.abs(actual.g - e.g) < 0.06 && Math.abs(actual.b - e.b) < 0.06;
        }

        // The colour of the dial at angle a (canvas radians) and distance d from its centre.
        function dialPixel(image, angle, distance) {
            return image.pixel(4 + Math.round(21 + distance * Math.cos(angle)), Math.round(21 + distance * Math.sin(angle)));
        }

        function drawn(properties, probe) {
            const holder = createTemporaryObject(drawnComponent, stage);
            for (const key in properties)
                holder.knob[key] = properties[key];
            let image = null;
            tryVerify(() => {
                image = grabImage(holder);
                return probe(image);
            }, 5000, "the knob never painted as expected");
            return image;
        }

        function test_the_value_arc_runs_from_the_start_to_the_value() {
            // Half way: the arc covers the left half of the track, up to the top.
            const image = drawn({value: 0.5}, img => near(dialPixel(img, 1.1 * Math.PI, 16), theme.colors.accent));
            verify(near(dialPixel(image, 1.9 * Math.PI, 16), theme.colors.border));
            // The pointer points straight up.
            verify(near(dialPixel(image, 1.5 * Math.PI, 7), theme.colors.text));
        }

        function test_an_empty_range_points_at_the_start() {
            const empty = drawn({from: 1, to: 1, value: 1}, img => near(dialPixel(img, 0.75 * Math.PI, 7), theme.colors.text));
            verify(!near(dialPixel(empty, 1.1 * Math.PI, 16), theme.colors.accent), "no value arc");
            const atStart = drawn({value: 0}, img => near(dialPixel(img, 0.75 * Math.PI, 7), theme.colors.text));
            verify(empty.equals(atStart));
        }

        function test_a_bipolar_knob_at_its_middle_draws_no_arc() {
            const image = drawn({bipolar: true, value: 0.5}, img => near(dialPixel(img, 1.5 * Math.PI, 7), theme.colors.text));
            verify(near(dialPixel(image, 1.4 * Math.PI, 16), theme.colors.border));
            verify(near(dialPixel(image, 1.6 * Math.PI, 16), theme.colors.border));
        }

        function test_a_bipolar_arc_runs_between_the_top_and_the_value() {
            const above = drawn({bipolar: true, value: 0.75}, img => near(dialPixel(img, 1.7 * Math.PI, 16), theme.colors.accent));
            verify(near(dialPixel(above, 1.3 * Math.PI, 16), theme.colors.border));
            const below = drawn({bipolar: true, value: 0.25}, img => near(dialPixel(img, 1.3 * Math.PI, 16), theme.colors.accent));
            verify(near(dialPixel(below, 1.7 * Math.PI, 16), theme.colors.border));
        }

        function test_the_pointer_shows_the_keyboard_focus() {
            const holder = createTemporaryObject(drawnComponent, stage);
            holder.knob.value = 0.5;
            holder.knob.forceActiveFocus();
            tryVerify(() => near(dialPixel(grabImage(holder), 1.5 * Math.PI, 7), theme.colors.accent2));
        }

        function test_a_theme_change_repaints_the_dial() {
            const holder = createTemporaryObject(drawnComponent, stage);
            tryVerify(() => near(dialPixel(grabImage(holder), 0, 5), theme.colors.surfaceRaised));
            theme.currentId = "light";
            tryVerify(() => near(dialPixel(grabImage(holder), 0, 5), theme.colors.surfaceRaised));
            theme.currentId = "graphite";
        }
    }
}
