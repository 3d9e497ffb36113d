import QtQuick
import QtTest
import Ostrel.App

Item {
    id: stage

    width: 640
    height: 480

    Component {
        id: menuComponent

        FlatMenu {
            property alias saveItem: save
            property alias tickItem: tick
            property alias undoItem: undo
            property alias separator: line
            property alias subMenu: themes

            x: 20
            y: 20

            FlatMenuItem {
                id: save

                text: "Save project"
                keys: "Ctrl+S"
                help: "Save the project."
            }

            FlatMenuItem {
                id: tick

                text: "Metronome"
                checkable: true
                help: "A click on every beat."
            }

            FlatMenuItem {
                id: undo

                text: "Undo"
                enabled: false
                help: "Take back the last change."
            }

            FlatMenuSeparator {
                id: line
            }

            FlatMenu {
                id: themes

                title: "Theme"

                FlatMenuItem {
                    text: "Ostrel Dark"
                }
            }
        }
    }

    TestCase {
        id: testCase

        name: "FlatMenu"
        when: windowShown

        SignalSpy {
            id: triggeredSpy

            signalName: "triggered"
        }

        function init() {
            app.helpText = "";
            mouseMove(stage, stage.width - 1, stage.height - 1);
        }

        function openMenu() {
            const menu = createTemporaryObject(menuComponent, stage);
            verify(menu);
            menu.open();
            tryCompare(menu, "opened", true);
            triggeredSpy.target = menu.saveItem;
            triggeredSpy.clear();
            return menu;
        }

        // The entry the menu made for its sub-menu.
        function subMenuEntry(menu) {
            const entry = menu.itemAt(4);
            verify(entry && entry.subMenu === menu.subMenu);
            return entry;
        }

        // Menu

        function test_the_menu_is_290_wide_and_not_modal() {
            const menu = openMenu();
            compare(menu.width, 290);
            compare(menu.topPadding, 4);
            compare(menu.bottomPadding, 4);
            verify(!menu.modal);
            compare(menu.background.radius, 6);
            verify(Qt.colorEqual(menu.background.border.color, theme.colors.border));
        }

        function test_a_sub_menus_entry_is_a_flat_item_with_an_arrow() {
            const menu = openMenu();
            const entry = subMenuEntry(menu);
            verify(entry.hasOwnProperty("keys"), "the entry is a FlatMenuItem");
            verify(entry.arrow.visible);
            compare(entry.arrow.text, "\u203A");
            compare(entry.arrow.x + entry.arrow.width, entry.width - 10);
            verify(!menu.saveItem.arrow.visible);
        }

        // Items

        function test_an_item_is_260_by_28_with_its_paddings() {
            const menu = openMenu();
            compare(menu.saveItem.implicitHeight, 28);
            compare(menu.saveItem.leftPadding, 28);
            compare(menu.saveItem.rightPadding, 14);
            const plain = menu.tickItem;
            compare(plain.implicitWidth, 260);
        }

        function test_the_shortcut_label_sits_at_the_right() {
            const menu = openMenu();
            const label = findChild(menu.saveItem, "menuKeys");
            verify(label.visible);
            compare(label.text, "Ctrl+S");
            compare(label.font.pixelSize, 12);
            compare(label.x + label.width, menu.saveItem.width - menu.saveItem.rightPadding);
            verify(Qt.colorEqual(label.color, theme.colors.textMuted));
            verify(!findChild(menu.tickItem, "menuKeys").visible);
        }

        function test_the_tick_shows_only_on_a_checked_tick_item() {
            const menu = openMenu();
            verify(!menu.saveItem.indicator.visible);
            verify(menu.tickItem.indicator.visible);
            const dot = menu.tickItem.indicator.children[0];
            verify(!dot.visible);
            menu.tickItem.checked = true;
            verify(dot.visible);
            compare(dot.width, 8);
            verify(Qt.colorEqual(dot.color, theme.colors.accent2));
        }

        function test_hovering_an_item_highlights_it_and_shows_its_help() {
            const menu = openMenu();
            mouseMove(menu.saveItem, 40, 14);
            verify(menu.saveItem.highlighted);
            compare(app.helpText, "Save the project.");
            verify(menu.saveItem.background.children[0].visible);
            mouseMove(menu.tickItem, 40, 14);
            tryCompare(app, "helpText", "A click on every beat.");
            verify(!menu.saveItem.highlighted);
        }

        function test_the_keyboard_moves_the_highlight_and_its_help() {
            const menu = openMenu();
            keyClick(Qt.Key_Down);
            verify(menu.saveItem.highlighted);
            compare(app.helpText, "Save the project.");
            keyClick(Qt.Key_Down);
            tryCompare(app, "helpText", "A click on every beat.");
        }

        function test_closing_the_menu_clears_the_help() {
            const menu = openMenu();
            mouseMove(menu.saveItem, 40, 14);
            compare(app.helpText, "Save the project.");
            menu.close();
            tryCompare(app, "helpText", "");
        }

        function test_a_click_triggers_the_item() {
            const menu = openMenu();
            mouseClick(menu.saveItem);
            compare(triggeredSpy.count, 1);
        }

        function test_a_disabled_item_is_greyed_and_never_lights_up() {
            const menu = openMenu();
            const undo = menu.undoItem;
            verify(Qt.colorEqual(undo.contentItem.color, theme.colors.textMuted));
            compare(undo.contentItem.opacity, 0.55);
            mouseMove(undo, 40, 14);
            verify(!undo.background.children[0].visible);
            compare(app.helpText, "");
            triggeredSpy.target = undo;
            mouseClick(undo);
            compare(triggeredSpy.count, 0);
        }

        // Separator

        function test_the_separator_is_a_hair_line_with_room_above_and_below() {
            const menu = openMenu();
            const line = menu.separator;
            compare(line.contentItem.height, 1);
            compare(line.topPadding, 4);
            compare(line.bottomPadding, 4);
            compare(line.height, 9);
            verify(Qt.colorEqual(line.contentItem.color, theme.colors.border));
        }
    }
}
