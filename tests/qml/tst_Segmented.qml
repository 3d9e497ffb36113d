import QtQuick
import QtTest
import Ostrel.App

Item {
    id: stage

    width: 480
    height: 160

    Component {
        id: rowComponent

        Segmented {
            x: 20
            y: 20
            help: "How many bars to show."
            options: [{value: "1", label: "One"}, {value: "2", label: "Two"}, {value: "4", label: "Four"}]
            current: "2"
        }
    }

    TestCase {
        id: testCase

        name: "Segmented"
        when: windowShown

        SignalSpy {
            id: pickedSpy

            signalName: "picked"
        }

        function init() {
            settings.setValue("appearance.reduce_motion", true);
            app.helpText = "";
            mouseMove(stage, stage.width - 1, stage.height - 1);
        }

        function makeRow(properties) {
            const row = createTemporaryObject(rowComponent, stage, properties || {});
            verify(row);
            pickedSpy.target = row;
            pickedSpy.clear();
            return row;
        }

        function buttonsOf(row) {
            const found = [];
            for (let i = 0; i < row.children.length; ++i) {
                const child = row.children[i];
                if (child.hasOwnProperty("primary") && child.visible)
                    found.push(child);
            }
            return found;
        }

        function test_one_button_per_option_in_order() {
            const buttons = buttonsOf(makeRow());
            compare(buttons.length, 3);
            compare(buttons.map(b => b.text), ["One", "Two", "Four"]);
            for (const button of buttons) {
                compare(button.height, 32);
                compare(button.help, "How many bars to show.");
            }
            verify(buttons[1].x - (buttons[0].x + buttons[0].width) === theme.spacing);
        }

        function test_the_current_option_is_selected() {
            const buttons = buttonsOf(makeRow());
            compare(buttons.map(b => b.selected), [false, true, false]);
        }

        function test_a_click_picks_without_changing_current() {
            const row = makeRow();
            const buttons = buttonsOf(row);
            mouseClick(buttons[2]);
            compare(pickedSpy.count, 1);
            compare(pickedSpy.signalArguments[0][0], "4");
            compare(row.current, "2");
            compare(buttons.map(b => b.selected), [false, true, false]);
        }

        function test_the_owner_setting_current_moves_the_selection() {
            const row = makeRow();
            row.current = "4";
            compare(buttonsOf(row).map(b => b.selected), [false, false, true]);
            compare(pickedSpy.count, 0);
        }

        function test_a_current_that_matches_no_option_selects_none() {
            const row = makeRow({current: "3"});
            compare(buttonsOf(row).map(b => b.selected), [false, false, false]);
        }

        function test_values_compare_strictly() {
            const row = makeRow({options: [{value: 1, label: "One"}, {value: "2", label: "Two"}], current: "1"});
            compare(buttonsOf(row).map(b => b.selected), [false, false]);
        }

        function test_an_empty_list_shows_nothing() {
            const row = makeRow({options: []});
            compare(buttonsOf(row).length, 0);
            compare(row.implicitWidth, 0);
        }

        function test_hover_shows_the_shared_help() {
            const buttons = buttonsOf(makeRow());
            mouseMove(buttons[0], 5, 5);
            compare(app.helpText, "How many bars to show.");
            mouseMove(stage, stage.width - 1, stage.height - 1);
            compare(app.helpText, "");
        }

        function test_a_jump_between_buttons_keeps_the_help() {
            const buttons = buttonsOf(makeRow());
            mouseMove(buttons[0], 5, 5);
            mouseMove(buttons[1], 5, 5);
            tryCompare(app, "helpText", "How many bars to show.");
        }

        function test_a_disabled_row_picks_nothing() {
            const row = makeRow({enabled: false});
            mouseClick(buttonsOf(row)[0]);
            compare(pickedSpy.count, 0);
        }
    }
}
