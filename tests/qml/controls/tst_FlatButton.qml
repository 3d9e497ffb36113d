import QtQuick
import QtTest
import Ostrel.App
import "../Contrast.js" as Contrast

Item {
    id: stage

    width: 480
    height: 240

    Component { id: buttonComponent; FlatButton { x: 20; y: 20; text: "OK" } }

    TestCase {
        name: "FlatButton"
        when: windowShown

        SignalSpy { id: clickedSpy; signalName: "clicked" }

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

        // Size and icon

        function test_width_is_84_or_the_text_plus_32_and_22_more_with_an_icon() {
            compare(makeButton().implicitWidth, 84);
            const button = makeButton({text: "A much longer label for a button"});
            verify(!findChild(button, "buttonIcon").visible);
            const plain = button.implicitWidth;
            verify(plain > 84);
            button.iconName = "synth";
            compare(button.implicitWidth, plain + 22);
        }

        function test_an_icon_moves_a_left_aligned_text_22_to_the_right() {
            const button = makeButton({textAlign: Text.AlignLeft});
            compare(button.contentItem.leftPadding, 6);
            button.iconName = "fx";
            compare(button.contentItem.leftPadding, 28);
        }

        function test_an_icon_sits_just_left_of_a_centred_text() {
            const button = makeButton({text: "Synth", iconName: "synth", width: 200});
            const icon = findChild(button, "buttonIcon");
            verify(icon.visible);
            const label = button.contentItem;
            // The centred text starts where its free room begins, half of it after the padding.
            const textLeft = label.leftPadding + (label.width - label.leftPadding - label.contentWidth) / 2;
            verify(icon.x + icon.width <= textLeft, "icon ends at " + (icon.x + icon.width) + ", text starts at " + textLeft);
            verify(textLeft - (icon.x + icon.width) <= 8);
        }

        // Clicks and focus

        function test_a_click_and_space_each_click_once() {
            const button = makeButton();
            mouseClick(button);
            compare(clickedSpy.count, 1);
            verify(button.activeFocus);
            // A pointer user sees no focus ring.
            verify(!findChild(button, "focusRing").visible);
            keyClick(Qt.Key_Space);
            compare(clickedSpy.count, 2);
        }

        function test_a_button_reached_by_tab_shows_its_help_and_ring() {
            const first = makeButton({help: "First."});
            const second = makeButton({x: 200, help: "Second."});
            first.forceActiveFocus();
            app.helpText = "";
            keyClick(Qt.Key_Tab);
            verify(second.visualFocus);
            compare(app.helpText, "Second.");
            verify(findChild(second, "focusRing").visible);
            keyClick(Qt.Key_Tab);
            compare(app.helpText, "First.");
        }

        // Look

        // A ghost or selected button is told by its edge, which stands 3:1 off every surface
        // a button sits on (the light theme's stood 1.14:1), and a selected one's differs.
        function test_the_background_shows_the_kind_of_button_data() {
            return [
                {tag: "ghost", props: {}, fill: "transparent"},
                {tag: "selected", props: {selected: true}, fill: "surfaceRaised"},
                {tag: "primary", props: {primary: true}, fill: "accent", noBorder: true}
            ];
        }

        function test_the_background_shows_the_kind_of_button(data) {
            const background = makeButton(data.props).background;
            verify(Qt.colorEqual(background.color, theme.colors[data.fill] || data.fill));
            if (data.noBorder) {
                compare(background.border.width, 0);
                return;
            }
            for (const surface of ["background", "surface", "surfaceRaised"])
                verify(Contrast.ratio(background.border.color, Qt.lighter(theme.colors[surface], 1)) >= 3, surface);
            const ghost = makeButton({}).background.border.color;
            compare(Qt.colorEqual(background.border.color, ghost), !data.props.selected);
        }

        function test_primary_button_lightens_on_hover_and_darkens_while_pressed() {
            const button = makeButton({primary: true});
            verify(Qt.colorEqual(button.contentItem.color, theme.colors.onAccent));
            mouseMove(button, 10, 10);
            verify(Qt.colorEqual(button.background.color, Qt.lighter(theme.colors.accent, 1.12)));
            mousePress(button, 10, 10);
            verify(Qt.colorEqual(button.background.color, Qt.darker(theme.colors.accent, 1.2)));
            mouseRelease(button, 10, 10);
        }

        function test_colour_changes_animate_unless_motion_is_reduced() {
            settings.setValue("appearance.reduce_motion", false);
            const button = makeButton();
            mouseMove(button, 10, 10);
            verify(!Qt.colorEqual(button.background.color, theme.colors.surfaceRaised));
            tryVerify(() => Qt.colorEqual(button.background.color, theme.colors.surfaceRaised));

            settings.setValue("appearance.reduce_motion", true);
            mouseMove(stage, stage.width - 1, stage.height - 1);
            verify(Qt.colorEqual(button.background.color, "transparent"));
        }
    }
}
