import QtQuick
import QtQuick.Layouts

// The sound files of the samples folder. A double-click puts one on a track at the
// playhead, a drag onto a lane, the Sampler card or a pad.
Item {
    id: root

    // The search words: trimmed and in lower case; empty for no search.
    property string words: ""
    // The extension is part of the name searched.
    readonly property var rows: project.sampleFiles.filter(name => name.toLowerCase().indexOf(words) >= 0)
    readonly property alias list: browserList.list

    signal loadSample(string fileName)

    function shownName(fileName) {
        return fileName.replace(/\.wav$/i, "");
    }

    BrowserList {
        id: browserList

        anchors.fill: parent
        listName: "sampleList"
        rows: root.rows.map(fileName => ({fileName: fileName}))
        // The empty state below says more.
        saysNothingMatches: false

        delegate: BrowserRow {
            id: row

            required property string fileName

            objectName: "sampleRow"
            width: ListView.view.width - 8
            height: 28
            help: qsTr("Drag “%1” onto an audio track to put it there, or double-click to add it at the playhead.").arg(row.fileName)
            Accessible.name: row.fileName
            dragKey: "ostrel/sample"
            dragFileName: row.fileName
            labelText: row.fileName
            labelIcon: "sampler"
            labelWidth: 170
            labelColor: theme.colors.accent2
            labelTextColor: theme.colors.background

            onDoubleClicked: root.loadSample(row.fileName)

            Row {
                anchors.fill: parent
                anchors.leftMargin: 8
                anchors.rightMargin: 8
                spacing: 8

                CategoryIcon {
                    anchors.verticalCenter: parent.verticalCenter
                    category: "sampler"
                    size: 16
                    color: theme.colors.textMuted
                }

                Text {
                    objectName: "rowLabel"
                    anchors.verticalCenter: parent.verticalCenter
                    width: parent.width - x
                    text: root.shownName(row.fileName)
                    color: theme.colors.text
                    font.family: theme.fontFamily
                    font.pixelSize: theme.baseFontSize
                    elide: Text.ElideRight
                }
            }
        }
    }

    ColumnLayout {
        objectName: "emptySamples"
        anchors.centerIn: parent
        width: parent.width - 20
        visible: root.rows.length === 0
        spacing: theme.spacing

        Text {
            objectName: "emptyText"
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WordWrap
            text: project.sampleFiles.length === 0
                  ? qsTr("No sound files yet. Copy .wav files into the samples folder and they show up here.")
                  : qsTr("Nothing matches.")
            color: theme.colors.textMuted
            font.family: theme.fontFamily
            font.pixelSize: 12
        }

        FlatButton {
            objectName: "showSamplesFolder"
            Layout.alignment: Qt.AlignHCenter
            implicitHeight: 28
            visible: project.sampleFiles.length === 0
            text: qsTr("Show samples folder")
            help: qsTr("Open the samples folder in the file manager: copy .wav files into it, then they appear in this list.")
            onClicked: project.openSamplesFolder()
        }

        FlatButton {
            objectName: "refreshSamples"
            Layout.alignment: Qt.AlignHCenter
            implicitHeight: 28
            visible: project.sampleFiles.length === 0
            text: qsTr("Refresh")
            help: qsTr("Look at the samples folder again.")
            onClicked: project.refreshSamples()
        }
    }
}
