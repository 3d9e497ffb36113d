import QtQuick

// What an empty view says: a title, shortened at its end when it does not fit, and under it
// what to do; centred, with any buttons the view gives it below.
Column {
    property alias title: titleText.text
    property alias hint: hintText.text

    objectName: "emptyState"
    spacing: theme.spacing

    Text {
        id: titleText

        objectName: "emptyTitle"
        width: parent.width
        horizontalAlignment: Text.AlignHCenter
        color: theme.colors.text
        font.family: theme.fontFamily
        font.pixelSize: 15
        font.weight: Font.DemiBold
        elide: Text.ElideRight
    }

    Text {
        id: hintText

        objectName: "emptyHint"
        width: parent.width
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.WordWrap
        color: theme.colors.textMuted
        font.family: theme.fontFamily
        font.pixelSize: theme.baseFontSize
    }
}
