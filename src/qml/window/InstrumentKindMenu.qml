import QtQuick
import QtQuick.Controls.Basic

// One kind's sub-menu of the instrument menu; its items follow the instrument list as it
// changes, inserted and removed in place.
FlatMenu {
    id: sub

    property string kind: ""
    property Menu owner: null

    objectName: "kindMenu_" + kind
    width: 240

    Instantiator {
        model: sub.owner ? sub.owner.namesOf(sub.kind, instrument.patchNames, instrument.patchCategories) : []

        delegate: FlatMenuItem {
            required property string modelData

            objectName: "instrumentItem_" + modelData
            text: modelData.replace("Modular ", "")
            help: qsTr("Put “%1” on this track.").arg(modelData)
            onTriggered: project.setTrackInstrument(sub.owner.track, modelData)
        }

        onObjectAdded: (index, object) => sub.insertItem(index, object)
        onObjectRemoved: (index, object) => sub.removeItem(object)
    }
}
