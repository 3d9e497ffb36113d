import QtQuick

// One track of the timeline: its header on the left, its lane of clips on the right, and
// the three drop targets over both (sound files, effects, instruments from the browser).
Item {
    id: row

    required property int index
    property Item view: null
    // This row's TrackMap, taken again only when the view holds another map for the row, so
    // an edit of another track leaves this row alone; a row about to go (the song lost
    // tracks) shows an empty one.
    property var modelData: emptyTrack
    readonly property var emptyTrack: ({id: "", name: "", kind: "midi", instrument: "", muted: false, solo: false,
                                       volume: 1, clipList: [], deviceList: []})

    readonly property string trackId: modelData.id
    readonly property color trackColor: view !== null ? view.trackColor(index) : "transparent"
    readonly property bool selected: view !== null && trackId !== "" && trackId === view.selectedTrack

    function takeTrack() {
        const next = view !== null && index < view.tracks.length ? view.tracks[index] : emptyTrack;
        if (next !== modelData)
            modelData = next;
    }

    onIndexChanged: takeTrack()
    onViewChanged: takeTrack()
    Component.onCompleted: takeTrack()

    Connections {
        target: row.view

        function onTracksChanged() {
            row.takeTrack();
        }
    }

    objectName: "trackRow_" + index
    width: ListView.view ? ListView.view.width : 0
    height: view.rowHeight

    TrackHeader {
        objectName: "trackHeader"
        width: row.view.headerWidth
        height: row.height
        view: row.view
        track: row.modelData
        trackColor: row.trackColor
        selected: row.selected
    }

    Item {
        id: lane

        objectName: "lane"
        x: row.view.headerWidth
        width: row.view.lanesWidth
        height: row.height
        clip: true

        Rectangle {
            anchors.fill: parent
            visible: row.selected
            color: row.view.withAlpha(theme.colors.accent, 0.07)
        }

        Rectangle {
            anchors.bottom: parent.bottom
            width: parent.width
            height: 1
            color: theme.colors.border
        }

        Repeater {
            model: row.modelData.clipList

            delegate: ClipBox {
                view: row.view
                trackId: row.trackId
                rowIndex: row.index
                trackColor: row.trackColor
                muted: row.modelData.muted
            }
        }
    }

    // Stacked from the top: sound files, effects, instruments; each takes only its key.
    Repeater {
        model: [{key: "ostrel/instrument", color: "accent", name: "instrumentDrop"},
                {key: "ostrel/effect", color: "accent2", name: "effectDrop"},
                {key: "ostrel/sample", color: "accent2", name: "sampleDrop"}]

        DropArea {
            id: drop

            required property var modelData

            objectName: modelData.name
            anchors.fill: parent
            keys: [modelData.key]

            onDropped: event => {
                const source = event.source;
                const view = row.view;
                const trackId = row.trackId;
                const x = event.x;
                event.accept(Qt.CopyAction);
                if (modelData.key === "ostrel/sample")
                    view.dropSample(trackId, String(source.fileName), x);
                else if (modelData.key === "ostrel/effect")
                    view.dropEffect(trackId, String(source.deviceId), source.presetName ? String(source.presetName) : "");
                else
                    view.dropInstrument(trackId, String(source.patchName));
            }

            Rectangle {
                objectName: "dropHighlight"
                anchors.fill: parent
                visible: drop.containsDrag
                radius: 4
                color: row.view.withAlpha(theme.colors[drop.modelData.color], 0.18)
                border.width: 2
                border.color: theme.colors[drop.modelData.color]
            }
        }
    }
}
