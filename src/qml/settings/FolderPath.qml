import QtQuick
import QtQuick.Layouts

// Where a settings section's files are: the path in small monospace, shortened in the middle.
Text {
    Layout.fillWidth: true
    color: theme.colors.textMuted
    font.family: "monospace"
    font.pixelSize: 11
    elide: Text.ElideMiddle
}
