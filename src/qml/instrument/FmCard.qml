import QtQuick
import QtQuick.Layouts

// The card of a four-operator FM instrument: the algorithm, the general knobs and each
// operator's ratio, level and envelope. Ranges, names and help come from the FM module's
// own knob table; every change is one call on `project`.
DeviceCard {
    id: root

    property string trackId: ""
    property string title: qsTr("FM synth")
    // Every FM knob's value by key: the instrument's values with the track's changes on top.
    property var values: ({})

    // The FM module's knobs by key, read once.
    readonly property var info: {
        const byKey = {};
        const knobs = project.deviceKnobs("ostrel.mod.fm");
        for (let i = 0; i < knobs.length; ++i)
            byKey[knobs[i].key] = knobs[i];
        return byKey;
    }
    readonly property int algorithm: values && values.algorithm !== undefined ? Math.round(values.algorithm) : 0
    // For each algorithm, the operators that are heard (bit 0 = operator 1); the same table
    // as the FM module's.
    readonly property var carriers: [1, 1, 1, 5, 1, 7, 13, 15]
    // Under the height the general column needs with its knobs on two lines (as in the
    // detail panel at its first height), they go on one line and the card grows wider,
    // so no knob is cut off at the bottom.
    readonly property bool oneLineOfKnobs: height > 0 && height < 236

    function value(key) {
        if (values && values[key] !== undefined)
            return values[key];
        if (info[key] !== undefined)
            return info[key].def;
        return 0;
    }

    function knobText(k, v) {
        if (k.key.endsWith("_ratio"))
            return v.toFixed(2) + "x";
        if (k.unit === "%")
            return Math.round(v * 100) + " %";
        if (k.unit === "ct")
            return Math.round(v) + " ct";
        return Math.round(v) + " ms";
    }

    function isCarrier(operatorIndex) {
        const mask = carriers[algorithm];
        return mask !== undefined && (mask & (1 << operatorIndex)) !== 0;
    }

    component KnobCell: DeviceKnobCell {
        property string key: ""
        property var owner: null
        readonly property var meta: owner ? owner.info[key] : undefined

        objectName: "knob_" + key
        visible: meta !== undefined
        implicitWidth: 56
        implicitHeight: 60
        knobSize: 32
        knobTop: 9
        labelWidth: width
        labelSpacing: 0.3
        name: meta !== undefined ? meta.name : key
        help: meta !== undefined ? meta.help : ""
        from: meta !== undefined ? meta.min : 0
        to: meta !== undefined ? meta.max : 1
        defaultValue: meta !== undefined ? meta.def : 0
        stored: owner ? owner.value(key) : 0
        format: v => meta !== undefined ? owner.knobText(meta, v) : String(v)
        onCommit: v => project.setInstrumentParameter(owner.trackId, key, v)
    }

    implicitWidth: oneLineOfKnobs ? 906 + 2 * 56 : 906
    width: implicitWidth

    RowLayout {
        anchors.fill: parent
        anchors.margins: 10
        spacing: 12

        ColumnLayout {
            Layout.fillHeight: true
            Layout.fillWidth: true
            Layout.preferredWidth: root.oneLineOfKnobs ? 130 + 2 * 56 : 130
            spacing: 6

            CardTitle {
                Layout.fillWidth: true
                category: "fm"
                text: root.title
                titleName: "fmTitle"
            }

            Text {
                text: qsTr("ALGORITHM")
                color: theme.colors.textMuted
                font.family: theme.fontFamily
                font.pixelSize: 8
                font.letterSpacing: 0.6
            }

            Grid {
                columns: 4
                spacing: 3

                Repeater {
                    model: 8

                    FlatButton {
                        required property int index

                        objectName: "algorithm" + (index + 1)
                        width: 28
                        height: 24
                        implicitWidth: 28
                        implicitHeight: 24
                        text: String(index + 1)
                        selected: root.algorithm === index
                        help: qsTr("Algorithm %1: who bends whom. The operators marked OUT on the right are the ones you hear. 1 is a chain of all four; 8 is four plain tones added together.").arg(index + 1)
                        onClicked: project.setInstrumentParameter(root.trackId, "algorithm", index)
                    }
                }
            }

            Grid {
                objectName: "generalKnobs"
                columns: root.oneLineOfKnobs ? 4 : 2

                KnobCell { owner: root; key: "feedback"; label: qsTr("Feedback") }
                KnobCell { owner: root; key: "gain"; label: qsTr("Gain") }
                KnobCell { owner: root; key: "release_ms"; label: qsTr("Release") }
                KnobCell { owner: root; key: "tune_cents"; label: qsTr("Tune") }
            }

            Item {
                Layout.fillHeight: true
            }
        }

        Repeater {
            model: 4

            ColumnLayout {
                id: operatorColumn

                required property int index
                readonly property string prefix: "op" + (index + 1) + "_"
                readonly property bool heard: root.isCarrier(index)

                objectName: "operator" + (index + 1)
                Layout.fillHeight: true
                spacing: 2

                RowLayout {
                    spacing: 6

                    Text {
                        text: qsTr("OPERATOR %1").arg(operatorColumn.index + 1)
                        color: theme.colors.text
                        font.family: theme.fontFamily
                        font.pixelSize: 10
                        font.weight: Font.DemiBold
                        font.letterSpacing: 0.6
                    }

                    Text {
                        objectName: "operatorMark"
                        text: operatorColumn.heard ? qsTr("OUT") : qsTr("mod")
                        color: operatorColumn.heard ? theme.colors.accent2 : theme.colors.textMuted
                        font.family: theme.fontFamily
                        font.pixelSize: 9
                        font.weight: operatorColumn.heard ? Font.DemiBold : Font.Normal
                    }
                }

                Grid {
                    columns: 3

                    KnobCell { owner: root; key: operatorColumn.prefix + "ratio"; label: qsTr("Ratio") }
                    KnobCell { owner: root; key: operatorColumn.prefix + "level"; label: qsTr("Level") }
                    KnobCell { owner: root; key: operatorColumn.prefix + "attack_ms"; label: qsTr("Attack") }
                    KnobCell { owner: root; key: operatorColumn.prefix + "decay_ms"; label: qsTr("Decay") }
                    KnobCell { owner: root; key: operatorColumn.prefix + "sustain"; label: qsTr("Sustain") }
                }

                Item {
                    Layout.fillHeight: true
                }
            }
        }
    }
}
