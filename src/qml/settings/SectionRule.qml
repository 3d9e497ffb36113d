import QtQuick
import QtQuick.Layouts

// The faint line under a settings section, between it and the page's rows.
Rectangle {
    Layout.fillWidth: true
    Layout.preferredHeight: 1
    color: theme.colors.border
    opacity: 0.6
}
