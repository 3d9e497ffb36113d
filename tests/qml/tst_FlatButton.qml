import QtQuick
import QtTest
import Ostrel.App

// Controls live on the stage: a TestCase is never visible, nor are its children.
Item {
    id: stage

    width: 480
    height: 240

    Component {
        id: buttonComponent

        FlatButton {
            x: 20
            y: 20
            text: "OK"
            help: "Confirms the choice."
        }
    }

    TestCase {
        id: testCase

        name: "FlatButton"
        when: windowShown

        SignalSpy {
            id: clickedSpy

            signalName: "clicked"
        }

        function init() {
            settings.setValue("appearance.reduce_motion", true);
            app.helpText = "";
            mouseMove(stage, stage.width - 1, stage.height - 1);
        }

        function makeButton(properties) {
            const button = createTemporaryObject(buttonComponent, stage, properties || {});
            verify(button);
            clickedSpy.target = button;
            clickedSpy.clear();
            return button;
        }

        function sameColor(actual, expected) {
            return Qt.colorEqual(actual, expected);
        }

        // Size

        function test_short_text_is_still_84_wide() {
            const button = makeButton();
            compare(button.implicitWidth, 84);
            compare(button.implicitHeight, 36);
        }

        function test_long_text_adds_32_to_its_width() {
            const button = makeButton({text: "A much longer label for a button"});
            verify(button.implicitWidth > 84);
            const plain = button.implicitWidth;
            button.iconName = "synth";
            compare(button.implicitWidth, plain + 22);
        }

        function test_icon_moves_a_left_aligned_text_22_to_the_right() {
            const button = makeButton({textAlign: Text.AlignLeft});
            compare(button.contentItem.leftPadding, 6);
            button.iconName = "fx";
            compare(button.contentItem.leftPadding, 28);
        }

        function test_icon_sits_just_left_of_a_centred_text() {
            const button = makeButton({text: "Synth", iconName: "synth", width: 200});
            const icon = findChild(button, "buttonIcon");
            verify(icon.visible);
            const label = button.contentItem;
            // The centred text starts where its free room begins, half of it after the padding.
            const textLeft = label.leftPadding + (label.width - label.leftPadding - label.contentWidth) / 2;
            verify(icon.x + icon.width <= textLeft, "icon ends at " + (icon.x + icon.width) + ", text starts at " + textLeft);
            verify(textLeft - (icon.x + icon.width) <= 8);
        }

        function test_no_icon_name_draws_no_icon() {
            const button = makeButton();
            verify(!findChild(button, "buttonIcon").visible);
        }

        // Clicks

        function test_a_click_emits_clicked_once() {
            const button = makeButton();
            mouseClick(button);
            compare(clickedSpy.count, 1);
        }

        function test_a_disabled_button_neither_clicks_nor_shows_help() {
            const button = makeButton({enabled: false});
            mouseMove(button, 10, 10);
            mouseClick(button);
            compare(clickedSpy.count, 0);
            compare(app.helpText, "");
            verify(button.opacity < 1);
        }

        function test_space_clicks_a_focused_button() {
            const button = makeButton();
            button.forceActiveFocus();
            keyClick(Qt.Key_Space);
            compare(clickedSpy.count, 1);
        }

        // Help strip

        function test_hover_writes_help_and_leaving_clears_it() {
            const button = makeButton();
            mouseMove(button, 10, 10);
            compare(app.helpText, "Confirms the choice.");
            mouseMove(stage, stage.width - 1, stage.height - 1);
            compare(app.helpText, "");
        }

        function test_a_button_reached_by_tab_shows_its_help_and_ring() {
            const first = makeButton({help: "First."});
            const second = makeButton({x: 200, help: "Second."});
            first.forceActiveFocus();
            app.helpText = "";
            keyClick(Qt.Key_Tab);
            verify(second.activeFocus);
            verify(second.visualFocus);
            compare(app.helpText, "Second.");
            verify(findChild(second, "focusRing").visible);
            // Losing the focus clears nothing.
            keyClick(Qt.Key_Tab);
            compare(app.helpText, "First.");
        }

        function test_a_pointer_click_shows_no_focus_ring() {
            const button = makeButton();
            mouseClick(button);
            verify(button.activeFocus);
            verify(!findChild(button, "focusRing").visible);
        }

        function test_a_jump_to_a_neighbour_shows_the_neighbours_help() {
            const first = makeButton({help: "First."});
            const second = makeButton({x: 110, help: "Second."});
            mouseMove(first, 10, 10);
            mouseMove(second, 10, 10);
            tryCompare(app, "helpText", "Second.");
            mouseMove(first, 10, 10);
            tryCompare(app, "helpText", "First.");
        }

        function test_help_follows_a_change_while_hovered() {
            const button = makeButton();
            mouseMove(button, 10, 10);
            button.help = "Now something else.";
            compare(app.helpText, "Now something else.");
        }

        // Look

        function test_ghost_button_is_transparent_with_a_border() {
            const button = makeButton();
            verify(sameColor(button.background.color, "transparent"));
            verify(sameColor(button.background.border.color, theme.colors.border));
            compare(button.background.border.width, 1);
            verify(sameColor(button.contentItem.color, theme.colors.text));
        }

        function test_selected_button_is_outlined_in_the_accent() {
            const button = makeButton({selected: true});
            verify(sameColor(button.background.color, theme.colors.surfaceRaised));
            verify(sameColor(button.background.border.color, theme.colors.accent));
        }

        function test_primary_button_darkens_while_pressed_and_lightens_on_hover() {
            const button = makeButton({primary: true});
            verify(sameColor(button.background.color, theme.colors.accent));
            compare(button.background.border.width, 0);
            verify(sameColor(button.contentItem.color, theme.colors.onAccent));
            mouseMove(button, 10, 10);
            verify(sameColor(button.background.color, Qt.lighter(theme.colors.accent, 1.12)));
            mousePress(button, 10, 10);
            verify(sameColor(button.background.color, Qt.darker(theme.colors.accent, 1.2)));
            mouseRelease(button, 10, 10);
        }

        function test_colour_changes_animate_unless_motion_is_reduced() {
            settings.setValue("appearance.reduce_motion", false);
            const button = makeButton();
            mouseMove(button, 10, 10);
            verify(!sameColor(button.background.color, theme.colors.surfaceRaised));
            tryVerify(() => sameColor(button.background.color, theme.colors.surfaceRaised));

            settings.setValue("appearance.reduce_motion", true);
            mouseMove(stage, stage.width - 1, stage.height - 1);
            verify(sameColor(button.background.color, "transparent"));
        }

        function test_colours_follow_the_theme() {
            const button = makeButton({primary: true});
            theme.currentId = "light";
            verify(sameColor(button.background.color, theme.colors.accent));
            theme.currentId = "graphite";
            verify(sameColor(button.background.color, theme.colors.accent));
        }

        // Accessibility

        function test_accessible_name_is_the_text_and_description_the_help() {
            const button = makeButton();
            compare(button.Accessible.name, "OK");
            compare(button.Accessible.description, "Confirms the choice.");
        }
    }
}
