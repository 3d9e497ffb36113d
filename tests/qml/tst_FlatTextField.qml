import QtQuick
import QtTest
import Ostrel.App

Item {
    id: stage

    width: 480
    height: 160

    Component {
        id: fieldComponent

        FlatTextField {
            x: 20
            y: 20
            width: 200
            text: "Song"
            placeholderText: "Name"
            help: "The project's name."
        }
    }

    // An owner whose model the field shows, as the name box shows the project's name.
    Component {
        id: ownedComponent

        Item {
            property string model: "Song"
            property alias field: owned

            FlatTextField {
                id: owned

                x: 20
                y: 20
                width: 200
                text: parent.model
            }
        }
    }

    Component {
        id: otherComponent

        Rectangle {
            x: 300
            y: 20
            width: 60
            height: 32
            activeFocusOnTab: true
        }
    }

    TestCase {
        id: testCase

        name: "FlatTextField"
        when: windowShown

        SignalSpy {
            id: editedSpy

            signalName: "edited"
        }

        function init() {
            app.helpText = "";
            mouseMove(stage, stage.width - 1, stage.height - 1);
        }

        function makeField(component, properties) {
            const made = createTemporaryObject(component || fieldComponent, stage, properties || {});
            verify(made);
            const field = made.field !== undefined ? made.field : made;
            editedSpy.target = field;
            editedSpy.clear();
            return made;
        }

        function typeAtEnd(field, letters) {
            mouseClick(field);
            verify(field.activeFocus);
            field.cursorPosition = field.length;
            for (const letter of letters)
                keyClick(letter);
        }

        function test_starts_with_its_creation_text_committed() {
            compare(makeField().committedText, "Song");
        }

        // Commit rules

        function test_enter_after_typing_commits_once_and_gives_up_the_focus() {
            const field = makeField();
            typeAtEnd(field, "s");
            compare(editedSpy.count, 0, "nothing is reported while typing");
            keyClick(Qt.Key_Return);
            compare(editedSpy.count, 1);
            compare(editedSpy.signalArguments[0][0], "Songs");
            compare(field.committedText, "Songs");
            verify(!field.activeFocus);
        }

        function test_enter_without_a_change_reports_nothing() {
            const field = makeField();
            mouseClick(field);
            keyClick(Qt.Key_Return);
            compare(editedSpy.count, 0);
            verify(!field.activeFocus);
        }

        function test_escape_restores_the_text_and_reports_nothing() {
            const field = makeField();
            typeAtEnd(field, "xy");
            compare(field.text, "Songxy");
            keyClick(Qt.Key_Escape);
            compare(field.text, "Song");
            verify(!field.activeFocus);
            compare(editedSpy.count, 0);
        }

        function test_escape_keeps_the_owner_binding() {
            const owner = makeField(ownedComponent);
            typeAtEnd(owner.field, "z");
            keyClick(Qt.Key_Escape);
            owner.model = "Renamed";
            compare(owner.field.text, "Renamed");
        }

        function test_clicking_elsewhere_commits() {
            const field = makeField();
            const other = createTemporaryObject(otherComponent, stage);
            typeAtEnd(field, "!");
            other.forceActiveFocus();
            compare(editedSpy.count, 1);
            compare(editedSpy.signalArguments[0][0], "Song!");
        }

        function test_tab_commits() {
            const field = makeField();
            createTemporaryObject(otherComponent, stage);
            typeAtEnd(field, "2");
            keyClick(Qt.Key_Tab);
            verify(!field.activeFocus);
            compare(editedSpy.count, 1);
        }

        function test_finish_commits_only_a_change() {
            const field = makeField();
            field.finish();
            compare(editedSpy.count, 0);
            typeAtEnd(field, "3");
            field.finish();
            field.finish();
            compare(editedSpy.count, 1);
        }

        // Outside values are not echoes

        function test_a_change_from_outside_is_committed_silently() {
            const owner = makeField(ownedComponent);
            owner.model = "Undone name";
            compare(owner.field.text, "Undone name");
            compare(owner.field.committedText, "Undone name");
            mouseClick(owner.field);
            keyClick(Qt.Key_Return);
            compare(editedSpy.count, 0);
        }

        function test_while_typing_the_committed_text_keeps_the_old_value() {
            const field = makeField();
            typeAtEnd(field, "abc");
            compare(field.committedText, "Song");
        }

        // Help, look and disabled state

        function test_hover_writes_help_and_leaving_clears_it() {
            const field = makeField();
            mouseMove(field, 10, 10);
            compare(app.helpText, "The project's name.");
            mouseMove(stage, stage.width - 1, stage.height - 1);
            compare(app.helpText, "");
        }

        function test_the_border_shows_the_keyboard_focus() {
            const field = makeField();
            verify(Qt.colorEqual(field.background.border.color, theme.colors.border));
            mouseClick(field);
            verify(Qt.colorEqual(field.background.border.color, theme.colors.accent));
        }

        function test_the_accessible_name_falls_back_to_the_placeholder() {
            const field = makeField();
            compare(field.Accessible.name, "The project's name.");
            field.help = "";
            compare(field.Accessible.name, "Name");
        }

        function test_a_disabled_field_takes_no_typing() {
            const field = makeField(fieldComponent, {enabled: false});
            mouseClick(field);
            keyClick("q");
            compare(field.text, "Song");
            verify(!field.activeFocus);
            compare(editedSpy.count, 0);
        }
    }
}
