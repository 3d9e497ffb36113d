import QtQuick
import QtQuick.Layouts

// A settings section's last word from its controller: muted, or in the warning colour when
// it tells of a problem.
Text {
    property bool problem: false

    Layout.fillWidth: true
    color: problem ? theme.colors.warning : theme.colors.textMuted
    font.family: theme.fontFamily
    font.pixelSize: 13
    wrapMode: Text.WordWrap
    Accessible.role: Accessible.StaticText
    Accessible.name: text
}
