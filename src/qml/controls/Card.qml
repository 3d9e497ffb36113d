import QtQuick

// A calm surface that groups related controls.
Rectangle {
    color: theme.colors.surface
    radius: theme.radius + 4
    border.width: 1
    border.color: theme.colors.border
}
