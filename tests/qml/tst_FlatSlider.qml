import QtQuick
import QtTest
import Ostrel.App

Item {
    id: stage

    width: 320
    height: 120

    Component {
        id: sliderComponent

        FlatSlider {
            x: 20
            y: 20
            from: 0
            to: 10
            stepSize: 1
            help: "How loud it plays."
        }
    }

    TestCase {
        id: testCase

        name: "FlatSlider"
        when: windowShown

        SignalSpy {
            id: committedSpy

            signalName: "committed"
        }

        function init() {
            settings.setValue("appearance.reduce_motion", true);
            app.helpText = "";
            mouseMove(stage, stage.width - 1, stage.height - 1);
        }

        function makeSlider(properties) {
            const slider = createTemporaryObject(sliderComponent, stage, properties || {});
            verify(slider);
            committedSpy.target = slider;
            committedSpy.clear();
            return slider;
        }

        function handleCentre(slider) {
            return Qt.point(slider.handle.x + slider.handle.width / 2, slider.handle.y + slider.handle.height / 2);
        }

        // Commit, not stream

        function test_a_drag_end_to_end_commits_once_on_release() {
            const slider = makeSlider();
            const start = handleCentre(slider);
            const y = start.y;
            mousePress(slider, start.x, y);
            for (let x = start.x + 10; x <= slider.width; x += 10) {
                mouseMove(slider, x, y, -1, Qt.LeftButton);
                compare(committedSpy.count, 0, "nothing is reported during the drag");
            }
            mouseMove(slider, slider.width + 20, y, -1, Qt.LeftButton);
            compare(slider.value, 10, "the value follows the handle live");
            mouseRelease(slider, slider.width + 20, y);
            compare(committedSpy.count, 1);
            compare(committedSpy.signalArguments[0][0], 10);
        }

        function test_a_click_on_the_handle_commits_the_unchanged_value() {
            const slider = makeSlider({value: 4});
            const centre = handleCentre(slider);
            mouseClick(slider, centre.x, centre.y);
            compare(committedSpy.count, 1);
            compare(committedSpy.signalArguments[0][0], 4);
        }

        function test_a_click_on_the_groove_commits_once_on_release() {
            const slider = makeSlider();
            mousePress(slider, slider.width - slider.rightPadding - 1, slider.height / 2);
            compare(committedSpy.count, 0);
            mouseRelease(slider, slider.width - slider.rightPadding - 1, slider.height / 2);
            compare(committedSpy.count, 1);
            compare(committedSpy.signalArguments[0][0], slider.value);
            verify(slider.value > 5);
        }

        // Keyboard

        function test_each_arrow_key_step_commits_once() {
            const slider = makeSlider({value: 5});
            slider.forceActiveFocus();
            keyClick(Qt.Key_Right);
            compare(committedSpy.count, 1);
            compare(committedSpy.signalArguments[0][0], 6);
            keyClick(Qt.Key_Left);
            keyClick(Qt.Key_Left);
            compare(committedSpy.count, 3);
            compare(committedSpy.signalArguments[2][0], 4);
        }

        function test_a_step_past_the_end_keeps_the_value_and_commits_it_once() {
            const slider = makeSlider({value: 10});
            slider.forceActiveFocus();
            keyClick(Qt.Key_Right);
            compare(slider.value, 10);
            compare(committedSpy.count, 1);
            compare(committedSpy.signalArguments[0][0], 10);
            slider.value = 0;
            keyClick(Qt.Key_Left);
            compare(committedSpy.count, 2);
            compare(committedSpy.signalArguments[1][0], 0);
        }

        function test_a_held_key_reports_nothing_until_it_is_let_go() {
            const slider = makeSlider({value: 5});
            slider.forceActiveFocus();
            keyPress(Qt.Key_Right);
            compare(slider.value, 6);
            compare(committedSpy.count, 0);
            keyRelease(Qt.Key_Right);
            compare(committedSpy.count, 1);
            compare(committedSpy.signalArguments[0][0], 6);
        }

        function test_a_value_set_from_outside_is_not_reported() {
            const slider = makeSlider();
            slider.value = 7;
            compare(committedSpy.count, 0);
        }

        // Help, focus and disabled state

        function test_hover_writes_help_and_leaving_clears_it() {
            const slider = makeSlider();
            mouseMove(slider, 30, slider.height / 2);
            compare(app.helpText, "How loud it plays.");
            mouseMove(stage, stage.width - 1, stage.height - 1);
            compare(app.helpText, "");
        }

        function test_keyboard_focus_rings_the_handle() {
            const slider = makeSlider();
            compare(slider.handle.border.width, 0);
            slider.forceActiveFocus(Qt.TabFocusReason);
            compare(slider.handle.border.width, 2);
            verify(Qt.colorEqual(slider.handle.border.color, theme.colors.accent2));
        }

        function test_a_disabled_slider_ignores_drags_and_keys() {
            const slider = makeSlider({enabled: false, value: 3});
            const start = handleCentre(slider);
            mouseDrag(slider, start.x, start.y, 100, 0);
            slider.forceActiveFocus();
            keyClick(Qt.Key_Right);
            compare(slider.value, 3);
            compare(committedSpy.count, 0);
            compare(app.helpText, "");
        }

        // Look

        function test_the_groove_fills_up_to_the_handle() {
            const slider = makeSlider({value: 5});
            const fill = slider.background.children[0];
            compare(fill.width, slider.background.width / 2);
            verify(Qt.colorEqual(fill.color, theme.colors.accent));
            compare(slider.background.height, 4);
            compare(slider.handle.width, 18);
        }

        function test_the_accessible_name_is_the_help() {
            compare(makeSlider().Accessible.name, "How loud it plays.");
        }
    }
}
