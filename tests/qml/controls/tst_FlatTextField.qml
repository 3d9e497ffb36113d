import QtQuick
import QtTest
import Ostrel.App
import "../Contrast.js" as Contrast

Item {
    id: stage

    width: 480
    height: 160

    // An owner whose model the field shows, as the name box shows the project's name.
    Component {
        id: ownedComponent

        Item {
            property string model: "Song"
            property alias field: owned

            FlatTextField { id: owned; x: 20; y: 20; width: 200; text: parent.model }
        }
    }

    Component { id: otherComponent; Rectangle { x: 300; y: 20; width: 60; height: 32; activeFocusOnTab: true } }

    TestCase {
        name: "FlatTextField"
        when: windowShown

        SignalSpy { id: editedSpy; signalName: "edited" }

        function makeOwned() {
            const owner = createTemporaryObject(ownedComponent, stage);
            verify(owner);
            editedSpy.target = owner.field;
            editedSpy.clear();
            return owner;
        }

        function typeAtEnd(field, letters) {
            mouseClick(field);
            verify(field.activeFocus);
            field.cursorPosition = field.length;
            for (const letter of letters)
                keyClick(letter);
        }

        // Each way of ending an edit reports the text once; typing reports nothing.
        function test_ending_an_edit_commits_once_data() {
            return [
                {tag: "Return", end: () => keyClick(Qt.Key_Return)},
                {tag: "Tab", end: () => keyClick(Qt.Key_Tab)},
                {tag: "focus elsewhere", end: other => other.forceActiveFocus()}
            ];
        }

        function test_ending_an_edit_commits_once(data) {
            const field = makeOwned().field;
            const other = createTemporaryObject(otherComponent, stage);
            compare(field.committedText, "Song");
            typeAtEnd(field, "s!");
            compare(editedSpy.count, 0, "nothing is reported while typing");
            compare(field.committedText, "Song");
            const typing = Qt.lighter(field.background.border.color, 1);
            data.end(other);
            verify(!field.activeFocus);
            compare(editedSpy.count, 1);
            compare(editedSpy.signalArguments[0][0], "Songs!");
            compare(field.committedText, "Songs!");
            // The edge tells the field being typed in; at rest it still stands 3:1 off the panel.
            verify(!Qt.colorEqual(field.background.border.color, typing));
            verify(Contrast.ratio(field.background.border.color, Qt.lighter(theme.colors.surface, 1)) >= 3);
        }

        function test_escape_restores_the_text_keeps_the_owner_binding_and_reports_nothing() {
            const owner = makeOwned();
            typeAtEnd(owner.field, "xy");
            compare(owner.field.text, "Songxy");
            keyClick(Qt.Key_Escape);
            compare(owner.field.text, "Song");
            verify(!owner.field.activeFocus);
            compare(editedSpy.count, 0);
            owner.model = "Renamed";
            compare(owner.field.text, "Renamed");
        }

        // An undo or an opened project is not the person's edit: Return reports nothing.
        function test_a_change_from_outside_is_committed_silently() {
            const owner = makeOwned();
            owner.model = "Undone name";
            compare(owner.field.committedText, "Undone name");
            mouseClick(owner.field);
            keyClick(Qt.Key_Return);
            verify(!owner.field.activeFocus);
            compare(editedSpy.count, 0);
        }
    
        // A long name not being edited shows its start, ended by an ellipsis, whether typed or
        // given from outside; a click then lands on the character drawn under it.
        function test_a_long_text_shows_its_start_when_not_edited_data() {
            return [{tag: "typed", typed: true}, {tag: "given", typed: false}];
        }

        function test_a_long_text_shows_its_start_when_not_edited(data) {
            const owner = makeOwned();
            const field = owner.field;
            const name = "Driving through the city with the windows down";
            if (data.typed) {
                mouseClick(field);
                keyClick(Qt.Key_A, Qt.ControlModifier);
                for (const letter of name)
                    keyClick(letter);
                keyClick(Qt.Key_Return);
                compare(editedSpy.count, 1);
            } else {
                owner.model = name;
            }
            verify(!field.activeFocus);
            compare(field.text, name);
            verify(field.contentWidth > field.width);
            // The first character stands at the box's left edge.
            compare(field.positionAt(field.leftPadding + 1, field.height / 2), 0);
            const shown = findChild(field, "elidedText");
            verify(shown && shown.visible, "no elided text over the box");
            verify(shown.truncated);
            compare(shown.x, field.leftPadding);
            verify(shown.x + shown.width <= field.width - field.rightPadding);
            compare(field.color.a, 0);
            // Editing shows the text itself again, the cursor where the click was.
            mouseClick(field, field.leftPadding + 2, field.height / 2);
            verify(field.activeFocus);
            verify(!shown.visible);
            verify(field.cursorPosition <= 1);
            verify(field.color.a > 0);
        }
    }
}
