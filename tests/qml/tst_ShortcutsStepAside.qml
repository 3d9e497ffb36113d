import QtQuick
import QtTest
import Ostrel.App

// The window's shortcuts that a focused control could use itself (Space for play) step
// aside while the focused item has `cursorPosition`, `checked` or `pressed`: every control
// that takes such keys must show one of them when it has the focus.
Item {
    id: stage

    width: 480
    height: 200

    Component {
        id: buttonComponent
        FlatButton { text: "OK" }
    }

    Component {
        id: toggleComponent
        Toggle {}
    }

    Component {
        id: sliderComponent
        FlatSlider {}
    }

    Component {
        id: fieldComponent
        FlatTextField {}
    }

    Component {
        id: rowComponent
        Segmented { options: [{value: "a", label: "A"}] }
    }

    TestCase {
        name: "ShortcutsStepAside"
        when: windowShown

        function stepsAside(item) {
            return item.cursorPosition !== undefined || item.checked !== undefined || item.pressed !== undefined;
        }

        function test_a_focused_control_makes_the_shortcuts_step_aside_data() {
            return [
                {tag: "FlatButton", component: buttonComponent},
                {tag: "Toggle", component: toggleComponent},
                {tag: "FlatSlider", component: sliderComponent},
                {tag: "FlatTextField", component: fieldComponent}
            ];
        }

        function test_a_focused_control_makes_the_shortcuts_step_aside(data) {
            const control = createTemporaryObject(data.component, stage);
            control.forceActiveFocus(Qt.TabFocusReason);
            const focused = control.Window.activeFocusItem;
            verify(focused === control);
            verify(stepsAside(focused));
        }

        function test_a_segmented_button_makes_them_step_aside() {
            const row = createTemporaryObject(rowComponent, stage);
            keyClick(Qt.Key_Tab);
            const focused = row.Window.activeFocusItem;
            verify(focused !== null && focused.parent === row);
            verify(stepsAside(focused));
        }
    }
}
