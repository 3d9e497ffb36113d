import QtQuick
import QtQuick.Controls

// The program's window. Until the window shell arrives it shows the logo, the name and
// the version on the theme's background.
ApplicationWindow {
    id: root

    width: 1320
    height: 860
    minimumWidth: 940
    minimumHeight: 640
    visible: true
    color: theme.colors.background
    title: qsTr("Ostrel") + "  " + app.versionString

    Column {
        anchors.centerIn: parent
        spacing: theme.spacing * 2

        Image {
            anchors.horizontalCenter: parent.horizontalCenter
            source: "qrc:/icons/ostrel-64.png"
            width: 64
            height: 64
        }

        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: qsTr("Ostrel")
            color: theme.colors.text
            font.family: theme.fontFamily
            font.pixelSize: theme.baseFontSize * 2
            font.bold: true
        }

        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: app.versionString
            color: theme.colors.textMuted
            font.family: theme.fontFamily
            font.pixelSize: theme.baseFontSize
        }
    }
}
