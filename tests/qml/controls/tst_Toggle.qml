import QtQuick
import QtTest
import Ostrel.App

Item {
    id: stage

    width: 320
    height: 160

    Component { id: toggleComponent; Toggle { x: 20; y: 20 } }

    // An owner that applies every wish to its model, as the screens do.
    Component {
        id: ownedComponent

        Item {
            property bool model: false
            property alias toggle: owned

            Toggle { id: owned; x: 20; y: 20; checked: parent.model; onToggled: value => parent.model = value }
        }
    }

    Component { id: otherComponent; Rectangle { x: 200; y: 20; width: 40; height: 26; activeFocusOnTab: true } }

    TestCase {
        name: "Toggle"
        when: windowShown

        SignalSpy { id: toggledSpy; signalName: "toggled" }

        function init() {
            settings.setValue("appearance.reduce_motion", true);
            mouseMove(stage, stage.width - 1, stage.height - 1);
        }

        function makeToggle(properties) {
            const toggle = createTemporaryObject(toggleComponent, stage, properties || {});
            verify(toggle);
            toggledSpy.target = toggle;
            toggledSpy.clear();
            return toggle;
        }

        function knobOf(toggle) {
            return findChild(toggle, "toggleKnob");
        }

        // Asking, not changing

        function test_a_click_asks_for_the_opposite_and_changes_nothing_data() {
            return [{tag: "off", checked: false}, {tag: "on", checked: true}];
        }

        function test_a_click_asks_for_the_opposite_and_changes_nothing(data) {
            const toggle = makeToggle({checked: data.checked});
            const knobX = knobOf(toggle).x;
            mouseClick(toggle);
            compare(toggledSpy.count, 1);
            compare(toggledSpy.signalArguments[0][0], !data.checked);
            compare(toggle.checked, data.checked);
            compare(knobOf(toggle).x, knobX);
        }

        function test_an_owner_that_applies_the_wish_moves_the_knob() {
            const owner = createTemporaryObject(ownedComponent, stage);
            mouseClick(owner.toggle);
            verify(owner.model);
            verify(owner.toggle.checked);
            compare(knobOf(owner.toggle).x, owner.toggle.width - 18 - 4);
            mouseClick(owner.toggle);
            verify(!owner.model);
            compare(knobOf(owner.toggle).x, 4);
        }

        function test_an_outside_change_emits_nothing_and_animates_unless_motion_is_reduced() {
            const toggle = makeToggle();
            toggle.checked = true;
            compare(knobOf(toggle).x, 24);
            toggle.checked = false;
            settings.setValue("appearance.reduce_motion", false);
            toggle.checked = true;
            verify(knobOf(toggle).x < 24);
            tryCompare(knobOf(toggle), "x", 24);
            compare(toggledSpy.count, 0);
        }

        // Keys and focus

        function test_space_and_return_flip_but_keypad_enter_does_not() {
            const toggle = makeToggle();
            toggle.forceActiveFocus();
            keyClick(Qt.Key_Space);
            keyClick(Qt.Key_Return);
            keyClick(Qt.Key_Enter, Qt.KeypadModifier);
            compare(toggledSpy.count, 2);
        }

        function test_a_held_key_flips_once() {
            const toggle = makeToggle();
            toggle.forceActiveFocus();
            keyPress(Qt.Key_Space);
            testHost.pressRepeatedKey(toggle, Qt.Key_Space);
            testHost.pressRepeatedKey(toggle, Qt.Key_Space);
            keyRelease(Qt.Key_Space);
            compare(toggledSpy.count, 1);
        }

        function test_tab_or_a_click_takes_the_focus_and_shows_the_ring() {
            const other = createTemporaryObject(otherComponent, stage);
            const toggle = makeToggle();
            const ring = findChild(toggle, "toggleFocusRing");
            verify(!ring.visible);
            other.forceActiveFocus();
            keyClick(Qt.Key_Tab);
            verify(toggle.activeFocus);
            verify(ring.visible);
            other.forceActiveFocus();
            mouseClick(toggle);
            verify(toggle.activeFocus);
        }
    }
}
