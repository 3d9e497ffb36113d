import QtQuick

// The browser's instruments, grouped by kind under headers that fold. A click plays one on
// the keys, a double-click or a drag puts it on a track.
Item {
    id: root

    // The search words: trimmed and in lower case; empty for no search.
    property string words: ""
    // Category name to true when folded; replaced, never changed in place, so the list rebuilds.
    property var collapsed: ({})
    // Whether the list keeps the current instrument in view; the person moving it stops that.
    property bool followCurrent: true
    readonly property var rows: buildRows(words, instrument.patchNames, instrument.patchCategories, collapsed)
    readonly property alias list: browserList.list

    signal loadInstrument(string patchName)

    function buildRows(words, names, categories, folded) {
        const order = ["synth", "bass", "pad", "drums", "sampler", "fm"];
        const groups = {};
        for (const name of names) {
            let category = categories[name];
            if (category === undefined || category === null || category === "")
                category = "synth";
            // The category is matched as stored, the name without regard to case.
            if (words !== "" && name.toLowerCase().indexOf(words) < 0 && category.indexOf(words) < 0)
                continue;
            if (order.indexOf(category) < 0)
                order.push(category);
            if (groups[category] === undefined)
                groups[category] = [];
            groups[category].push(name);
        }
        const result = [];
        for (const category of order) {
            const group = groups[category];
            if (group === undefined)
                continue;
            result.push({kind: "header", name: category, category: category, count: group.length});
            if (words !== "" || folded[category] !== true) {
                for (const name of group)
                    result.push({kind: "item", name: name, category: category, count: 0});
            }
        }
        return result;
    }

    function toggleFold(category) {
        const next = Object.assign({}, collapsed);
        next[category] = collapsed[category] !== true;
        collapsed = next;
    }

    // The instrument on the keys, wherever it was chosen (a track, a menu, a demonstration),
    // is scrolled into view, and kept there as the window lays the list out, until the person
    // moves the list.
    function showCurrent() {
        for (let i = 0; i < rows.length; ++i) {
            if (rows[i].kind === "item" && rows[i].name === instrument.patchName) {
                browserList.list.positionViewAtIndex(i, ListView.Contain);
                return;
            }
        }
    }

    Component.onCompleted: Qt.callLater(root.showCurrent)

    Connections {
        target: instrument

        function onPatchNameChanged() {
            root.followCurrent = true;
            Qt.callLater(root.showCurrent);
        }
    }

    Connections {
        target: browserList.list

        function onHeightChanged() {
            if (root.followCurrent)
                Qt.callLater(root.showCurrent);
        }

        function onMovementStarted() {
            root.followCurrent = false;
        }
    }

    // "Modular Lead" reads "Lead" where the group already says what it is.
    function shortName(name) {
        return name.replace("Modular ", "");
    }

    BrowserList {
        id: browserList

        anchors.fill: parent
        listName: "instrumentList"
        rows: root.rows

        delegate: BrowserRow {
            id: row

            required property string kind
            required property string name
            required property string category
            required property int count
            readonly property bool header: kind === "header"

            objectName: header ? "instrumentHeader" : "instrumentRow"
            width: ListView.view.width - 8
            height: 30
            current: !header && row.name === instrument.patchName
            help: header ? qsTr("Click to fold or unfold the %1 instruments.").arg(row.name)
                         : qsTr("Click to play “%1” on the keys below. Double-click, or drag it onto a track, to put it on that track (drop on empty space for a new track).").arg(row.name)
            Accessible.name: row.name + ", " + row.category
            dragKey: header ? "" : "ostrel/instrument"
            dragPatchName: header ? "" : row.name
            labelText: root.shortName(row.name)
            labelIcon: row.category

            onClicked: {
                if (header) {
                    root.toggleFold(row.name);
                } else {
                    app.noteStep("picked instrument %1".arg(row.name));
                    instrument.selectPatch(row.name);
                }
            }
            onDoubleClicked: if (!header) root.loadInstrument(row.name)

            Row {
                anchors.fill: parent
                anchors.leftMargin: row.header ? 8 : 28
                anchors.rightMargin: 8
                spacing: 8

                Text {
                    objectName: "foldArrow"
                    visible: row.header
                    width: 10
                    anchors.verticalCenter: parent.verticalCenter
                    text: root.words === "" && root.collapsed[row.name] === true ? "▸" : "▾"
                    color: theme.colors.textMuted
                    font.pixelSize: 11
                }

                CategoryIcon {
                    anchors.verticalCenter: parent.verticalCenter
                    category: row.category
                    size: row.header ? 18 : 16
                    color: row.current ? theme.colors.accent2 : theme.colors.textMuted
                }

                Text {
                    objectName: "rowLabel"
                    anchors.verticalCenter: parent.verticalCenter
                    width: parent.width - x - (row.header ? countText.width + parent.spacing : 0)
                    text: row.header ? row.name.toUpperCase() : root.shortName(row.name)
                    color: row.header ? theme.colors.textMuted : theme.colors.text
                    font.family: theme.fontFamily
                    font.pixelSize: row.header ? 11 : theme.baseFontSize
                    font.weight: row.header ? Font.DemiBold : Font.Normal
                    font.letterSpacing: row.header ? 1.2 : 0
                    elide: Text.ElideRight
                }

                Text {
                    id: countText

                    objectName: "countText"
                    visible: row.header
                    anchors.verticalCenter: parent.verticalCenter
                    text: row.count
                    color: theme.colors.textMuted
                    font.family: theme.fontFamily
                    font.pixelSize: 10
                }
            }
        }
    }
}
