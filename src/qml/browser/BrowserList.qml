import QtQuick
import QtQuick.Controls.Basic

// The list of a browser tab: its rows, rebuilt in place from `rows` (plain maps, one a row)
// so the row under the pointer lives on, the thin scroll bar, and "Nothing matches." over
// an empty list unless the tab says more itself.
Item {
    id: root

    property var rows: []
    property alias delegate: list.delegate
    property alias listName: list.objectName
    property bool saysNothingMatches: true
    readonly property alias list: list

    onRowsChanged: rowModel.assign(rows)
    Component.onCompleted: rowModel.assign(rows)

    BrowserRowModel { id: rowModel }

    ListView {
        id: list

        anchors.fill: parent
        model: rowModel
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ThinScrollBar {}
    }

    Text {
        objectName: "nothingMatches"
        anchors.centerIn: parent
        visible: root.saysNothingMatches && root.rows.length === 0
        text: qsTr("Nothing matches.")
        color: theme.colors.textMuted
        font.family: theme.fontFamily
        font.pixelSize: 12
    }
}
