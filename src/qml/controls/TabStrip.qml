import QtQuick
import "TextSize.js" as TextSize

// A row of tabs: upper-case labels, the shown one in the second accent and underlined, and
// each tab's help sentence under the pointer. A tab is its label plus `tabPadding` wide; with
// `fit`, tabs are whole pixels wide and, in a row too narrow for them all, share its width:
// first their letters close up and their padding halves, then the letters shrink, but never
// under what the screen shows legibly, where they lose their weight, and last the labels are
// cut short with an ellipsis.
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
    // Too narrow for the tabs as they are.
    readonly property bool tight: fit && naturalWidth > width
    readonly property real closedLetters: tabs.reduce((sum, t) => sum + closed.advanceWidth(t.label), 0)
    readonly property real leastSize: TextSize.atLeast(8, Screen.devicePixelRatio)
    readonly property real labelSize: {
        const size = metrics.font.pixelSize;
        if (!tight)
            return size;
        const room = width - tabs.length * tabPadding / 2;
        return Math.max(leastSize, Math.min(size, Math.floor(size * room / Math.max(1, closedLetters))));
    }
    // Half the padding, or what the letters leave of it at their least size.
    readonly property real tightPadding: Math.max(2, Math.min(tabPadding / 2,
        (width - closedLetters * labelSize / metrics.font.pixelSize) / Math.max(1, tabs.length)))
    // A tight tab's width before the row shares out what it has.
    function tightWidth(label) {
        return closed.advanceWidth(label) * labelSize / metrics.font.pixelSize + tightPadding;
    }
    readonly property real share: tight ? Math.min(1, width / tabs.reduce((sum, t) => sum + tightWidth(t.label), 0)) : 1

    signal picked(int index)

    FontMetrics {
        id: metrics

        font.family: theme.fontFamily
        font.pixelSize: 10
        font.weight: Font.DemiBold
        font.letterSpacing: 1.0
    }

    // The same letters closed up.
    FontMetrics {
        id: closed

        font.family: metrics.font.family
        font.pixelSize: metrics.font.pixelSize
        font.weight: metrics.font.weight
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
            width: root.tight ? Math.floor(root.tightWidth(modelData.label) * root.share)
                              : root.fit ? Math.floor(naturalWidth) : naturalWidth
            height: root.tabHeight
            Accessible.role: Accessible.PageTab
            Accessible.name: modelData.label

            Text {
                objectName: "tabLabel"
                anchors.centerIn: parent
                width: Math.min(implicitWidth, parent.width)
                horizontalAlignment: Text.AlignHCenter
                elide: Text.ElideRight
                text: tabItem.modelData.label
                color: tabItem.shown ? theme.colors.accent2 : theme.colors.textMuted
                font.family: metrics.font.family
                font.pixelSize: root.labelSize
                // At the least size, plain letters take less room than bold ones.
                font.weight: root.tight && root.labelSize <= root.leastSize ? Font.Normal : metrics.font.weight
                font.letterSpacing: root.tight ? 0 : metrics.font.letterSpacing
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
