import QtQuick

// A row of tabs: upper-case labels, the shown one in the second accent and underlined, and
// each tab's help sentence under the pointer. A tab is its label plus `tabPadding` wide; with
// `fit`, tabs are whole pixels wide and, in a row too narrow for them all, share its width,
// their labels shrinking with them rather than running past the end.
Row {
    id: root

    // {label, help} a tab.
    property var tabs: []
    property int current: 0
    // Tab i is named namePrefix + i.
    property string namePrefix: "tab"
    property real tabPadding: 16
    property real tabHeight: 24
    property bool fit: false
    property alias font: metrics.font

    readonly property real naturalWidth: tabs.reduce((sum, t) => sum + metrics.advanceWidth(t.label) + tabPadding, 0)
    readonly property real shrink: fit && naturalWidth > 0 ? Math.min(1, width / naturalWidth) : 1

    signal picked(int index)

    FontMetrics {
        id: metrics

        font.family: theme.fontFamily
        font.pixelSize: 10
        font.weight: Font.DemiBold
        font.letterSpacing: 1.0
    }

    Repeater {
        model: root.tabs

        Item {
            id: tabItem

            required property var modelData
            required property int index
            readonly property bool shown: root.current === index
            readonly property real naturalWidth: metrics.advanceWidth(modelData.label) + root.tabPadding

            objectName: root.namePrefix + index
            width: root.fit ? Math.floor(naturalWidth * root.shrink) : naturalWidth
            height: root.tabHeight
            Accessible.role: Accessible.PageTab
            Accessible.name: modelData.label

            Text {
                objectName: "tabLabel"
                anchors.centerIn: parent
                scale: root.shrink
                text: tabItem.modelData.label
                color: tabItem.shown ? theme.colors.accent2 : theme.colors.textMuted
                font: metrics.font
            }

            Rectangle {
                anchors.bottom: parent.bottom
                width: parent.width
                height: 2
                visible: tabItem.shown
                color: theme.colors.accent2
            }

            MouseArea {
                anchors.fill: parent
                hoverEnabled: true
                onContainsMouseChanged: {
                    app.helpText = containsMouse ? tabItem.modelData.help : "";
                    // The leave of the neighbour the pointer came from may come after this enter.
                    if (containsMouse)
                        Qt.callLater(() => {
                            if (typeof app !== "undefined" && containsMouse)
                                app.helpText = tabItem.modelData.help;
                        });
                }
                onClicked: root.picked(tabItem.index)
            }
        }
    }
}
