import QtQuick
import QtTest
import Ostrel.App

Item {
    id: stage

    width: 320
    height: 200

    Component { id: cardComponent; Card { width: 100; height: 60 } }
    Component { id: panelComponent; Panel { width: 100; height: 60 } }

    TestCase {
        name: "Surfaces"
        when: windowShown

        function cleanup() {
            theme.currentId = "graphite";
        }

        // A card is rounded; a panel is square, so the window's areas tile edge to edge.
        function test_a_surface_with_a_hair_line_in_every_theme_data() {
            return [
                {tag: "Card", component: cardComponent, extraRadius: 4},
                {tag: "Panel", component: panelComponent}
            ];
        }

        function test_a_surface_with_a_hair_line_in_every_theme(data) {
            const surface = createTemporaryObject(data.component, stage);
            for (const id of ["graphite", "high-contrast"]) {
                theme.currentId = id;
                verify(Qt.colorEqual(surface.color, theme.colors.surface), id);
                verify(Qt.colorEqual(surface.border.color, theme.colors.border), id);
                compare(surface.border.width, 1);
                compare(surface.radius, data.extraRadius !== undefined ? theme.radius + data.extraRadius : 0);
            }
        }
    }
}
