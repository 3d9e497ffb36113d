import QtQuick
import QtTest
import Ostrel.App

// What every basic control shares: its help in the strip while the pointer is on it (also
// after a jump from a neighbour), nothing at all while disabled, and the window's shortcuts
// stepping aside while it has the keyboard focus.
Item {
    id: stage

    width: 480
    height: 200

    Component { id: buttonComponent; FlatButton { x: 20; y: 60; text: "OK"; help: "Its help." } }
    Component { id: toggleComponent; Toggle { x: 20; y: 60; help: "Its help." } }
    Component { id: sliderComponent; FlatSlider { x: 20; y: 60; from: 0; to: 10; stepSize: 1; value: 5; help: "Its help." } }
    Component { id: fieldComponent; FlatTextField { x: 20; y: 60; width: 200; text: "Song"; help: "Its help." } }
    Component { id: knobComponent; Knob { x: 20; y: 60; value: 0.5; help: "Its help." } }
    Component {
        id: rowComponent
        Segmented {
            x: 20
            y: 60
            help: "Its help."
            options: [{value: "1", label: "One"}, {value: "2", label: "Two"}]
            current: "2"
        }
    }
    Component { id: neighbourComponent; FlatButton { x: 20; y: 10; text: "Next"; help: "Neighbour." } }

    TestCase {
        name: "ControlConventions"
        when: windowShown

        SignalSpy { id: spy }

        function init() {
            settings.setValue("appearance.reduce_motion", true);
            app.helpText = "";
            mouseMove(stage, stage.width - 1, stage.height - 1);
        }

        // signal: what the control reports; target: the part the pointer and keys aim at.
        function controls() {
            return [
                {tag: "FlatButton", component: buttonComponent, signal: "clicked"},
                {tag: "Toggle", component: toggleComponent, signal: "toggled"},
                {tag: "FlatSlider", component: sliderComponent, signal: "committed"},
                {tag: "FlatTextField", component: fieldComponent, signal: "edited"},
                // The knob passes Space on to the window itself, and does not dim.
                {tag: "Knob", component: knobComponent, signal: "committed", passesSpace: true},
                {tag: "Segmented", component: rowComponent, signal: "picked", target: firstButton}
            ];
        }

        function firstButton(row) {
            for (let i = 0; i < row.children.length; ++i) {
                if (row.children[i].hasOwnProperty("primary"))
                    return row.children[i];
            }
            return null;
        }

        function make(data, properties) {
            const control = createTemporaryObject(data.component, stage, properties || {});
            verify(control);
            // The name first, with no target, so the spy never looks for it on another control.
            spy.target = null;
            spy.signalName = data.signal;
            spy.target = control;
            spy.clear();
            return data.target ? data.target(control) : control;
        }

        function test_help_is_written_on_entering_and_cleared_on_leaving_data() {
            return controls();
        }

        function test_help_is_written_on_entering_and_cleared_on_leaving(data) {
            const neighbour = createTemporaryObject(neighbourComponent, stage);
            const target = make(data);
            mouseMove(target, 5, 5);
            compare(app.helpText, "Its help.");
            mouseMove(stage, stage.width - 1, stage.height - 1);
            compare(app.helpText, "");
            // Qt delivers the leave of the control the pointer came from after the enter of
            // the next one: the strip must not end blank.
            mouseMove(neighbour, 5, 5);
            mouseMove(target, 5, 5);
            tryCompare(app, "helpText", "Its help.");
            mouseMove(neighbour, 5, 5);
            tryCompare(app, "helpText", "Neighbour.");
        }

        function test_a_disabled_control_ignores_every_gesture_and_keeps_quiet_data() {
            return controls();
        }

        function test_a_disabled_control_ignores_every_gesture_and_keeps_quiet(data) {
            const target = make(data, {enabled: false});
            const before = spy.target.value !== undefined ? spy.target.value : spy.target.text;
            mouseMove(target, 5, 5);
            mouseClick(target, 5, 5);
            mouseWheel(target, 5, 5, 0, 120);
            mouseDrag(target, 5, 5, 60, -60);
            target.forceActiveFocus();
            for (const key of [Qt.Key_Space, Qt.Key_Up, Qt.Key_Right, Qt.Key_Q, Qt.Key_Return])
                keyClick(key);
            compare(spy.count, 0);
            compare(app.helpText, "");
            compare(spy.target.value !== undefined ? spy.target.value : spy.target.text, before);
            verify(target.opacity < 1);
        }

        function test_a_focused_control_makes_the_shortcuts_step_aside_data() {
            return controls().filter(row => !row.passesSpace);
        }

        // The window's Space shortcut steps aside while the focused item has
        // `cursorPosition`, `checked` or `pressed`.
        function test_a_focused_control_makes_the_shortcuts_step_aside(data) {
            const target = make(data);
            target.forceActiveFocus(Qt.TabFocusReason);
            const focused = target.Window.activeFocusItem;
            verify(focused === target);
            verify(focused.cursorPosition !== undefined || focused.checked !== undefined || focused.pressed !== undefined);
        }
    }
}
