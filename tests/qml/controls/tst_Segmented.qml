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
            options: [{value: "1", label: "One"}, {value: "2", label: "Two"}, {value: "4", label: "Four"}]
            current: "2"
        }
    }

    TestCase {
        name: "Segmented"
        when: windowShown

        SignalSpy { id: pickedSpy; signalName: "picked" }

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
                if (row.children[i].hasOwnProperty("primary") && row.children[i].visible)
                    found.push(row.children[i]);
            }
            return found;
        }

        function test_one_button_per_option_the_current_one_selected_data() {
            return [
                {tag: "as given", props: {}, labels: ["One", "Two", "Four"], selected: [false, true, false]},
                {tag: "a current matching no option", props: {current: "3"}, labels: ["One", "Two", "Four"],
                 selected: [false, false, false]},
                // An owner that keeps a number passes it as text.
                {tag: "values compare strictly", props: {options: [{value: 1, label: "One"}, {value: "2", label: "Two"}], current: "1"},
                 labels: ["One", "Two"], selected: [false, false]},
                {tag: "no options", props: {options: []}, labels: [], selected: []}
            ];
        }

        function test_one_button_per_option_the_current_one_selected(data) {
            const buttons = buttonsOf(makeRow(data.props));
            compare(buttons.map(b => b.text), data.labels);
            compare(buttons.map(b => b.selected), data.selected);
        }

        function test_a_click_picks_and_only_the_owner_moves_the_selection() {
            const row = makeRow();
            const buttons = buttonsOf(row);
            mouseClick(buttons[2]);
            compare(pickedSpy.count, 1);
            compare(pickedSpy.signalArguments[0][0], "4");
            compare(row.current, "2");
            compare(buttons.map(b => b.selected), [false, true, false]);
            row.current = "4";
            compare(buttons.map(b => b.selected), [false, false, true]);
            compare(pickedSpy.count, 1);
        }
    }
}
