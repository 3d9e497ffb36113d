import QtQuick

// A main window that cannot be built: its root type does not exist.
NoSuchWindowType {
    width: 100
    height: 100
}
