import QtQuick
import QtTest
import Ostrel.App

Item {
    id: stage

    width: 320
    height: 160

    Component {
        id: toggleComponent

        Toggle {
            x: 20
            y: 20
            name: "Metronome"
            help: "Clicks on every beat."
        }
    }

    // An owner that applies every wish to its model, as the screens do.
    Component {
        id: ownedComponent

        Item {
            property bool model: false
            property alias toggle: owned

            Toggle {
                id: owned

                x: 20
                y: 20
                checked: parent.model
                onToggled: value => parent.model = value
            }
        }
    }

    Component {
        id: otherComponent

        Rectangle {
            x: 200
            y: 20
            width: 40
            height: 26
            activeFocusOnTab: true
        }
    }

    TestCase {
        id: testCase

        name: "Toggle"
        when: windowShown

        SignalSpy {
            id: toggledSpy

            signalName: "toggled"
        }

        function init() {
            settings.setValue("appearance.reduce_motion", true);
            app.helpText = "";
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

        function test_a_click_asks_for_the_opposite_and_changes_nothing() {
            const toggle = makeToggle();
            mouseClick(toggle);
            compare(toggledSpy.count, 1);
            compare(toggledSpy.signalArguments[0][0], true);
            verify(!toggle.checked);
            compare(knobOf(toggle).x, 4);
        }

        function test_a_checked_toggle_asks_to_switch_off() {
            const toggle = makeToggle({checked: true});
            mouseClick(toggle);
            compare(toggledSpy.signalArguments[0][0], false);
            verify(toggle.checked);
        }

        function test_an_owner_that_applies_the_wish_moves_the_knob() {
            const owner = createTemporaryObject(ownedComponent, stage);
            mouseClick(owner.toggle);
            verify(owner.model);
            verify(owner.toggle.checked);
            compare(knobOf(owner.toggle).x, owner.toggle.width - 18 - 4);
            mouseClick(owner.toggle);
            verify(!owner.model);
        }

        function test_flip_emits_without_changing_checked() {
            const toggle = makeToggle();
            toggle.flip();
            toggle.flip();
            compare(toggledSpy.count, 2);
            compare(toggledSpy.signalArguments[1][0], true);
            verify(!toggle.checked);
        }

        function test_setting_checked_from_outside_emits_nothing() {
            const toggle = makeToggle();
            toggle.checked = true;
            toggle.checked = false;
            compare(toggledSpy.count, 0);
        }

        // Motion

        function test_outside_change_moves_the_knob_at_once_with_reduced_motion() {
            const toggle = makeToggle();
            toggle.checked = true;
            compare(knobOf(toggle).x, 24);
        }

        function test_outside_change_animates_the_knob_otherwise() {
            settings.setValue("appearance.reduce_motion", false);
            const toggle = makeToggle();
            toggle.checked = true;
            verify(knobOf(toggle).x < 24);
            tryCompare(knobOf(toggle), "x", 24);
            compare(toggledSpy.count, 0);
        }

        function test_track_colour_follows_checked() {
            const toggle = makeToggle();
            const track = toggle.children[0];
            verify(Qt.colorEqual(track.color, theme.colors.surfaceRaised));
            verify(Qt.colorEqual(track.border.color, theme.colors.border));
            verify(Qt.colorEqual(knobOf(toggle).color, theme.colors.textMuted));
            toggle.checked = true;
            verify(Qt.colorEqual(track.color, theme.colors.accent));
            verify(Qt.colorEqual(knobOf(toggle).color, theme.colors.onAccent));
        }

        // Keys

        function test_space_and_return_flip_a_focused_toggle() {
            const toggle = makeToggle();
            toggle.forceActiveFocus();
            keyClick(Qt.Key_Space);
            keyClick(Qt.Key_Return);
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

        function test_the_keypad_enter_key_does_not_flip() {
            const toggle = makeToggle();
            toggle.forceActiveFocus();
            keyClick(Qt.Key_Enter, Qt.KeypadModifier);
            compare(toggledSpy.count, 0);
        }

        function test_a_click_takes_the_focus_and_shows_the_ring() {
            const toggle = makeToggle();
            const ring = findChild(toggle, "toggleFocusRing");
            verify(!ring.visible);
            mouseClick(toggle);
            verify(toggle.activeFocus);
            verify(ring.visible);
        }

        function test_tab_reaches_the_toggle() {
            const other = createTemporaryObject(otherComponent, stage);
            const toggle = makeToggle();
            other.forceActiveFocus();
            keyClick(Qt.Key_Tab);
            verify(toggle.activeFocus);
        }

        // Help and disabled state

        function test_hover_writes_help_and_leaving_clears_it() {
            const toggle = makeToggle();
            mouseMove(toggle, 10, 10);
            compare(app.helpText, "Clicks on every beat.");
            mouseMove(stage, stage.width - 1, stage.height - 1);
            compare(app.helpText, "");
        }

        function test_a_disabled_toggle_ignores_clicks_keys_and_hover() {
            const toggle = makeToggle({enabled: false});
            mouseMove(toggle, 10, 10);
            mouseClick(toggle);
            toggle.forceActiveFocus();
            keyClick(Qt.Key_Space);
            compare(toggledSpy.count, 0);
            compare(app.helpText, "");
            verify(toggle.opacity < 1);
        }

        function test_accessibility_describes_the_switch() {
            const toggle = makeToggle({checked: true});
            compare(toggle.Accessible.role, Accessible.CheckBox);
            compare(toggle.Accessible.name, "Metronome");
            compare(toggle.Accessible.description, "Clicks on every beat.");
            verify(toggle.Accessible.checked);
        }
    }
}
