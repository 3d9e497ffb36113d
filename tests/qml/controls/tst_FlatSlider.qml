import QtQuick
import QtTest
import Ostrel.App

Item {
    id: stage

    width: 320
    height: 120

    Component { id: sliderComponent; FlatSlider { x: 20; y: 20; from: 0; to: 10; stepSize: 1 } }

    TestCase {
        name: "FlatSlider"
        when: windowShown

        SignalSpy { id: committedSpy; signalName: "committed" }

        function makeSlider(properties) {
            const slider = createTemporaryObject(sliderComponent, stage, properties || {});
            verify(slider);
            committedSpy.target = slider;
            committedSpy.clear();
            return slider;
        }

        function committedValues() {
            return committedSpy.signalArguments.map(a => a[0]);
        }

        function handleCentre(slider) {
            return Qt.point(slider.handle.x + slider.handle.width / 2, slider.handle.y + slider.handle.height / 2);
        }

        function test_a_drag_end_to_end_commits_once_on_release() {
            const slider = makeSlider();
            const start = handleCentre(slider);
            mousePress(slider, start.x, start.y);
            for (let x = start.x + 10; x <= slider.width + 20; x += 10) {
                mouseMove(slider, x, start.y, -1, Qt.LeftButton);
                compare(committedSpy.count, 0, "nothing is reported during the drag");
            }
            compare(slider.value, 10, "the value follows the handle live");
            mouseRelease(slider, slider.width + 20, start.y);
            compare(committedValues(), [10]);
        }

        function test_a_click_commits_once_on_release() {
            const slider = makeSlider({value: 4});
            const centre = handleCentre(slider);
            mouseClick(slider, centre.x, centre.y);
            compare(committedValues(), [4]);
            const x = slider.width - slider.rightPadding - 1;
            mousePress(slider, x, slider.height / 2);
            compare(committedSpy.count, 1);
            mouseRelease(slider, x, slider.height / 2);
            compare(committedValues(), [4, slider.value]);
            verify(slider.value > 5);
        }

        function test_each_arrow_key_step_commits_once_data() {
            return [
                {tag: "Right", key: Qt.Key_Right, value: 5, expected: 6},
                {tag: "Left", key: Qt.Key_Left, value: 5, expected: 4},
                {tag: "Right at the end", key: Qt.Key_Right, value: 10, expected: 10},
                {tag: "Left at the start", key: Qt.Key_Left, value: 0, expected: 0}
            ];
        }

        function test_each_arrow_key_step_commits_once(data) {
            const slider = makeSlider({value: data.value});
            slider.forceActiveFocus();
            keyClick(data.key);
            compare(slider.value, data.expected);
            compare(committedValues(), [data.expected]);
        }

        function test_a_held_key_reports_nothing_until_it_is_let_go() {
            const slider = makeSlider({value: 5});
            slider.forceActiveFocus();
            keyPress(Qt.Key_Right);
            compare(slider.value, 6);
            compare(committedSpy.count, 0);
            keyRelease(Qt.Key_Right);
            compare(committedValues(), [6]);
        }

        function test_a_value_set_from_outside_is_not_reported() {
            const slider = makeSlider();
            slider.value = 7;
            compare(committedSpy.count, 0);
        }

        function test_keyboard_focus_rings_the_handle() {
            const slider = makeSlider();
            compare(slider.handle.border.width, 0);
            slider.forceActiveFocus(Qt.TabFocusReason);
            compare(slider.handle.border.width, 2);
        }
    }
}
