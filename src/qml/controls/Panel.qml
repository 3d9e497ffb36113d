import QtQuick

// A square-cornered surface, so the window's areas tile edge to edge.
Rectangle {
    color: theme.colors.surface
    border.width: 1
    border.color: theme.colors.border
}
