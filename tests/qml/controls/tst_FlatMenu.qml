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
            property alias subMenu: themes

            x: 20
            y: 20

            FlatMenuItem { id: save; text: "Save project"; keys: "Ctrl+S"; help: "Save the project." }
            FlatMenuItem { id: tick; text: "Metronome"; checkable: true; help: "A click on every beat." }
            FlatMenuItem { id: undo; text: "Undo"; enabled: false; help: "Take back the last change." }
            FlatMenuSeparator {}
            FlatMenu {
                id: themes
                title: "Theme"
                FlatMenuItem { text: "Ostrel Dark" }
            }
        }
    }

    TestCase {
        name: "FlatMenu"
        when: windowShown

        SignalSpy { id: triggeredSpy; signalName: "triggered" }

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

        function test_a_sub_menus_entry_is_a_flat_item_with_an_arrow() {
            const menu = openMenu();
            const entry = menu.itemAt(4);
            verify(entry && entry.subMenu === menu.subMenu);
            verify(entry.hasOwnProperty("keys"), "the entry is a FlatMenuItem");
            verify(entry.arrow.visible);
            verify(!menu.saveItem.arrow.visible);
        }

        function test_the_shortcut_label_sits_at_the_right() {
            const menu = openMenu();
            const label = findChild(menu.saveItem, "menuKeys");
            verify(label.visible);
            compare(label.text, "Ctrl+S");
            compare(label.x + label.width, menu.saveItem.width - menu.saveItem.rightPadding);
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
        }

        // Help strip: hover and keyboard highlight write it, closing clears it.

        function test_the_highlight_carries_the_help_and_closing_clears_it_data() {
            return [
                {tag: "pointer", next: menu => mouseMove(menu.tickItem, 40, 14), first: menu => mouseMove(menu.saveItem, 40, 14)},
                {tag: "keyboard", next: () => keyClick(Qt.Key_Down), first: () => keyClick(Qt.Key_Down)}
            ];
        }

        function test_the_highlight_carries_the_help_and_closing_clears_it(data) {
            const menu = openMenu();
            data.first(menu);
            verify(menu.saveItem.highlighted);
            verify(menu.saveItem.background.children[0].visible);
            compare(app.helpText, "Save the project.");
            data.next(menu);
            tryCompare(app, "helpText", "A click on every beat.");
            verify(!menu.saveItem.highlighted);
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
            verify(undo.contentItem.opacity < 1);
            mouseMove(undo, 40, 14);
            verify(!undo.background.children[0].visible);
            compare(app.helpText, "");
            triggeredSpy.target = undo;
            mouseClick(undo);
            compare(triggeredSpy.count, 0);
        }
    }
}
