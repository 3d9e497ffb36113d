import QtQuick

// The raised surface of one device of a track: its instrument's card or an effect's.
Rectangle {
    radius: theme.radius
    color: theme.colors.surfaceRaised
    border.width: 1
    border.color: theme.colors.border
}
