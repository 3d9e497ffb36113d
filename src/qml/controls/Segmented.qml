import QtQuick
import QtQuick.Layouts

// A row of buttons of which one is picked. A click only asks: the owner sets `current`.
GridLayout {
    id: root

    // Each option is {value: string, label: text}.
    property var options: []
    property string current: ""
    property string help: ""
    // Editors with crowded headers ask for smaller buttons; 0 keeps the button's own width.
    property real buttonHeight: 32
    property real buttonWidth: 0
    property real spacing: theme.spacing
    // A width to keep within, given by an owner whose row may be narrow: the buttons then go
    // on as many lines as it takes. 0 keeps them on one line.
    property real wrapWidth: 0

    signal picked(string value)

    // The most buttons to a line that keep within `width`, as the grid lines them up.
    function columnsWithin(width) {
        const widths = [];
        for (let i = 0; i < buttons.count; ++i) {
            const button = buttons.itemAt(i);
            widths.push(button ? (buttonWidth > 0 ? buttonWidth : button.implicitWidth) : 0);
        }
        for (let across = widths.length; across > 1; --across) {
            let needed = (across - 1) * spacing;
            for (let column = 0; column < across; ++column) {
                let widest = 0;
                for (let i = column; i < widths.length; i += across)
                    widest = Math.max(widest, widths[i]);
                needed += widest;
            }
            if (needed <= width)
                return across;
        }
        return 1;
    }

    columns: wrapWidth > 0 ? columnsWithin(wrapWidth) : Math.max(1, options.length)
    columnSpacing: spacing
    rowSpacing: spacing

    Repeater {
        id: buttons

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
