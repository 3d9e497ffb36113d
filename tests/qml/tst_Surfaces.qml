import QtQuick
import QtTest
import Ostrel.App

Item {
    id: stage

    width: 320
    height: 200

    Component {
        id: cardComponent

        Card {
            width: 100
            height: 60
        }
    }

    Component {
        id: panelComponent

        Panel {
            width: 100
            height: 60
        }
    }

    TestCase {
        name: "Surfaces"
        when: windowShown

        function cleanup() {
            theme.currentId = "graphite";
        }

        function test_a_card_is_a_rounded_surface_with_a_hair_line() {
            const card = createTemporaryObject(cardComponent, stage);
            verify(Qt.colorEqual(card.color, theme.colors.surface));
            compare(card.radius, theme.radius + 4);
            compare(card.border.width, 1);
            verify(Qt.colorEqual(card.border.color, theme.colors.border));
        }

        function test_a_panel_has_square_corners() {
            const panel = createTemporaryObject(panelComponent, stage);
            verify(Qt.colorEqual(panel.color, theme.colors.surface));
            compare(panel.radius, 0);
            compare(panel.border.width, 1);
            verify(Qt.colorEqual(panel.border.color, theme.colors.border));
        }

        function test_both_follow_the_theme() {
            const card = createTemporaryObject(cardComponent, stage);
            const panel = createTemporaryObject(panelComponent, stage);
            theme.currentId = "high-contrast";
            verify(Qt.colorEqual(card.color, theme.colors.surface));
            verify(Qt.colorEqual(panel.border.color, theme.colors.border));
            compare(card.radius, theme.radius + 4);
        }
    }
}
