import QtQuick
import QtQuick.Layouts

// The heading of an instrument's card: the kind's icon and the name, shortened at the end
// when the card is narrow.
RowLayout {
    property alias category: icon.category
    property alias text: title.text
    property alias titleName: title.objectName

    spacing: 6

    CategoryIcon {
        id: icon

        size: 16
        color: theme.colors.accent2
    }

    Text {
        id: title

        Layout.fillWidth: true
        color: theme.colors.text
        font.family: theme.fontFamily
        font.pixelSize: 13
        font.weight: Font.DemiBold
        elide: Text.ElideRight
    }
}
