import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import "WindowSize.js" as WindowSize

// One line of a Settings page, drawn from one setting map of the settings bridge: the
// label and help on the left, the control that fits the setting's type on the right.
// Every change goes to settings.setValue; the row shows the new value once the sheet
// has rebuilt its rows from fresh maps.
Item {
    id: root

    property var entry: ({})
    readonly property bool wide: entry.type === "choice" && (entry.choices || []).length > 4
    // Why the last value the person gave was refused; empty while nothing was.
    property string refusal: ""

    // A number row's value as its slider shows it, while the handle moves too.
    property real sliderValue: typeof entry.value === "number" ? entry.value : 0
    // For the interface size, said before it is applied: the smallest window at the size the
    // slider shows would not fit the free part of this screen.
    readonly property string sizeWarning: {
        if (entry.id !== "appearance.ui_scale" || Window.window === null)
            return "";
        // Asked again when the window goes to another screen or the screen's free part changes.
        Screen.name;
        Screen.desktopAvailableWidth;
        Screen.desktopAvailableHeight;
        const free = app.freeScreenPixels(Window.window);
        // The window's units in pixels at that size: the scale in effect grown by the slider's.
        const pixelsPerUnit = sliderValue / 100 / app.interfaceScale * Screen.devicePixelRatio;
        const width = Math.round(WindowSize.minimumWidth * pixelsPerUnit);
        const height = Math.round(WindowSize.minimumHeight * pixelsPerUnit);
        if (free.width <= 0 || free.height <= 0 || (width <= free.width && height <= free.height))
            return "";
        return qsTr("At %1 % the smallest window is %2 × %3 pixels, larger than the %4 × %5 this screen has free: part of the window would lie off the screen.")
            .arg(Math.round(sliderValue)).arg(width).arg(height).arg(free.width).arg(free.height);
    }

    // The theme row shows the theme in use, which a theme given on the command line makes
    // differ from the stored one; every other row shows its stored value.
    readonly property string shownValue: entry.id === "appearance.theme" ? theme.currentId : String(entry.value)

    function commit(value) {
        const accepted = settings.setValue(root.entry.id, value);
        root.refusal = accepted ? "" : root.refusalText();
        // Picking the stored theme again changes no setting, so it is put in use here, over
        // a theme of the command line or of the person's own.
        if (accepted && root.entry.id === "appearance.theme") {
            settings.setValue("appearance.custom_theme", "");
            if (theme.currentId !== value)
                theme.currentId = value;
        }
    }

    // The bridge tells only that a value was refused; the map tells what it accepts.
    function refusalText() {
        const label = root.entry.label;
        switch (root.entry.type) {
        case "integer":
            return qsTr("%1 takes a whole number from %2 to %3.").arg(label).arg(root.entry.min).arg(root.entry.max);
        case "real":
            return qsTr("%1 takes a number from %2 to %3.").arg(label).arg(root.entry.min).arg(root.entry.max);
        case "choice":
            return qsTr("%1 takes only one of the options shown.").arg(label);
        case "boolean":
            return qsTr("%1 takes only on or off.").arg(label);
        default:
            return qsTr("%1 did not accept that text.").arg(label);
        }
    }

    implicitHeight: grid.implicitHeight + theme.spacing * 3

    HoverHandler {
        id: hover

        onHoveredChanged: app.helpText = hovered ? (root.entry.help || "") : ""
        // A control of the row clears the strip when the pointer leaves it for the row.
        onPointChanged: if (hovered && app.helpText === "") app.helpText = root.entry.help || ""
    }

    Rectangle {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        height: 1
        color: theme.colors.border
        opacity: 0.6
    }

    GridLayout {
        id: grid

        anchors.left: parent.left
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        columns: root.wide ? 1 : 2
        columnSpacing: theme.spacing * 2
        rowSpacing: theme.spacing

        ColumnLayout {
            Layout.fillWidth: true
            Layout.preferredWidth: 260
            Layout.minimumWidth: 200
            Layout.alignment: Qt.AlignVCenter
            spacing: 2

            Text {
                objectName: "rowLabel"
                Layout.fillWidth: true
                text: root.entry.label || ""
                color: theme.colors.text
                font.family: theme.fontFamily
                font.pixelSize: theme.baseFontSize
                font.weight: Font.Medium
                elide: Text.ElideRight
            }

            Text {
                objectName: "rowHelp"
                Layout.fillWidth: true
                text: root.entry.help || ""
                color: theme.colors.textMuted
                font.family: theme.fontFamily
                font.pixelSize: 13
                wrapMode: Text.WordWrap
                lineHeight: 1.2
            }

            Text {
                id: resetLink

                objectName: "resetLink"
                visible: root.entry.isDefault === false
                text: qsTr("Reset to default")
                color: theme.colors.accent2
                font.family: theme.fontFamily
                font.pixelSize: 12
                font.underline: resetArea.containsMouse

                Accessible.role: Accessible.Button
                Accessible.name: qsTr("Reset %1 to its default value").arg(root.entry.label)
                Accessible.onPressAction: settings.resetToDefault(root.entry.id)

                MouseArea {
                    id: resetArea

                    anchors.fill: parent
                    hoverEnabled: true
                    cursorShape: Qt.PointingHandCursor
                    onClicked: settings.resetToDefault(root.entry.id)
                }
            }

            Text {
                objectName: "noteText"
                Layout.fillWidth: true
                visible: text !== ""
                text: root.entry.note || ""
                color: theme.colors.warning
                font.family: theme.fontFamily
                font.pixelSize: 12
                wrapMode: Text.WordWrap
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }

            Text {
                objectName: "sizeWarning"
                Layout.fillWidth: true
                visible: text !== ""
                text: root.sizeWarning
                color: theme.colors.warning
                font.family: theme.fontFamily
                font.pixelSize: 12
                wrapMode: Text.WordWrap
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }

            Text {
                objectName: "refusalText"
                Layout.fillWidth: true
                visible: root.refusal !== ""
                text: root.refusal
                color: theme.colors.warning
                font.family: theme.fontFamily
                font.pixelSize: 12
                wrapMode: Text.WordWrap
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }
        }

        Loader {
            id: control

            objectName: "rowControl"
            Layout.alignment: root.wide ? (Qt.AlignLeft | Qt.AlignVCenter) : Qt.AlignVCenter
            sourceComponent: {
                switch (root.entry.type) {
                case "boolean": return toggleControl;
                case "integer":
                case "real": return sliderControl;
                case "choice": return choiceControl;
                default: return textControl;
                }
            }
        }
    }

    Component {
        id: toggleControl

        Toggle {
            checked: root.entry.value === true
            name: root.entry.label || ""
            help: root.entry.help || ""
            onToggled: value => root.commit(value)
        }
    }

    Component {
        id: choiceControl

        Segmented {
            // On a line of their own, many options take more lines in a narrow sheet.
            wrapWidth: root.wide ? root.width : 0
            options: root.entry.choices || []
            current: root.shownValue
            help: root.entry.help || ""
            onPicked: value => root.commit(value)
        }
    }

    Component {
        id: sliderControl

        RowLayout {
            spacing: theme.spacing * 1.5

            FlatSlider {
                id: slider

                objectName: "rowSlider"
                from: root.entry.min
                to: root.entry.max
                stepSize: root.entry.max - root.entry.min > 50 ? 5 : 1
                snapMode: Slider.SnapAlways
                value: root.entry.value
                help: root.entry.help || ""
                onValueChanged: root.sliderValue = value
                onCommitted: finalValue => root.commit(finalValue)
            }

            Text {
                objectName: "rowNumber"
                Layout.preferredWidth: 40
                horizontalAlignment: Text.AlignRight
                // The slider starts at the stored value and follows the handle; halves round up.
                text: Math.floor(slider.value + 0.5)
                color: theme.colors.text
                font.family: theme.fontFamily
                font.pixelSize: theme.baseFontSize
            }
        }
    }

    Component {
        id: textControl

        FlatTextField {
            objectName: "rowTextField"
            implicitWidth: 240
            implicitHeight: 34
            text: String(root.entry.value === undefined ? "" : root.entry.value)
            help: root.entry.help || ""
            clip: true
            Accessible.name: root.entry.label || ""
            // Enter and leaving the field both end the edit; an unchanged text costs nothing.
            onEditingFinished: root.commit(text)
        }
    }
}
