import QtQuick
import QtQuick.Controls.Basic

// The menu behind a track's instrument button: "No sound", then one sub-menu per kind of
// instrument, each listing the instruments of that kind in the live instrument's order.
FlatMenu {
    id: menu

    // The track whose button opened the menu.
    property string track: ""

    // The names of one kind, in list order; a name without a category counts as a synth.
    function namesOf(kind, names, categories) {
        const out = [];
        for (const name of names) {
            const category = categories[name] !== undefined ? categories[name] : "synth";
            if (category === kind)
                out.push(name);
        }
        return out;
    }

    width: 240

    FlatMenuItem {
        objectName: "noSoundItem"
        text: qsTr("No sound")
        help: qsTr("Take the instrument off this track.")
        onTriggered: project.setTrackInstrument(menu.track, "")
    }

    FlatMenuSeparator {}

    InstrumentKindMenu { kind: "synth"; title: qsTr("Synth"); owner: menu }
    InstrumentKindMenu { kind: "bass"; title: qsTr("Bass"); owner: menu }
    InstrumentKindMenu { kind: "pad"; title: qsTr("Pad"); owner: menu }
    InstrumentKindMenu { kind: "drums"; title: qsTr("Drums"); owner: menu }
    InstrumentKindMenu { kind: "sampler"; title: qsTr("Sampler"); owner: menu }
    InstrumentKindMenu { kind: "fm"; title: qsTr("Fm"); owner: menu }
}
