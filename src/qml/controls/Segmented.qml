import QtQuick
import QtQuick.Layouts

// A row of buttons of which one is picked. A click only asks: the owner sets `current`.
RowLayout {
    id: root

    // Each option is {value: string, label: text}.
    property var options: []
    property string current: ""
    property string help: ""
    // Editors with crowded headers ask for smaller buttons; 0 keeps the button's own width.
    property real buttonHeight: 32
    property real buttonWidth: 0

    signal picked(string value)

    spacing: theme.spacing

    Repeater {
        model: root.options

        FlatButton {
            required property var modelData

            // Strict: an owner that keeps a number passes it as text.
            selected: modelData.value === root.current
            text: modelData.label
            help: root.help
            implicitHeight: root.buttonHeight
            Layout.preferredWidth: root.buttonWidth > 0 ? root.buttonWidth : -1
            onClicked: root.picked(modelData.value)
        }
    }
}
