import QtQuick
import QtQuick.Layouts
import "KnobCells.js" as KnobCells
import "TextSize.js" as TextSize

// The card of a four-operator FM instrument: the algorithm, the general knobs and each
// operator's ratio, level and envelope. Ranges, names and help come from the FM module's
// own knob table; every change is one call on `project`.
DeviceCard {
    id: root

    property string trackId: ""
    property string title: qsTr("FM synth")
    // Every FM knob's value by key: the instrument's values with the track's changes on top.
    property var values: ({})
    // The width the effects view shows (0: any). A card wider than that at its knobs' own
    // width closes them up, so a narrow window shows all four operators without scrolling.
    property real room: 0

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
    // The card uses the height the host gives it, so that as little as possible hides
    // behind the effects view's sideways scroll. The general column keeps its algorithm
    // buttons on two lines and its knobs on two lines while they fit, else on one each.
    // The operators stand in as many rows as fit, each with its five knobs on two lines
    // (three and two) or on one, whichever leaves the card narrower. Without a height yet,
    // the four operators stand side by side. Where even narrow cells leave the card wider
    // than the view (the smallest window's), the knobs, their cells and the algorithm buttons
    // shrink so the operators stand two by two with their knobs on one line.
    readonly property bool compact: room > 0 && widthWith(KnobCells.fmNarrowWidth, false) > room
    readonly property real margin: marginOf(compact)
    readonly property real generalTop: generalTitle.implicitHeight + generalColumn.spacing + algorithmCaption.implicitHeight
                                       + generalColumn.spacing
    readonly property real cellWidth: compact || (room > 0 && widthWith(KnobCells.fmWidth, false) > room)
                                      ? KnobCells.fmNarrowWidth : KnobCells.fmWidth
    readonly property real cellHeight: heightOfCells(compact)
    readonly property real algorithmWidth: algorithmWidthOf(compact)
    readonly property bool algorithmsOnTwoLines: twoLinesOfAlgorithms(compact)
    readonly property bool oneLineOfKnobs: oneLineOfGeneralKnobs(compact)
    readonly property real generalWidth: generalWidthWith(cellWidth, compact)
    readonly property var operatorLayout: layoutWith(cellWidth, compact)

    // The sizes of a compact card (small) or not: its margin above and below, its knob cells'
    // height, its algorithm buttons' width and the height inside its margins.
    function marginOf(small) {
        return small ? 6 : 10;
    }

    function heightOfCells(small) {
        return small ? KnobCells.fmCompactHeight : KnobCells.fmHeight;
    }

    function algorithmWidthOf(small) {
        return small ? 22 : 28;
    }

    function innerHeightOf(small) {
        return height - 2 * marginOf(small);
    }

    function twoLinesOfAlgorithms(small) {
        return height <= 0 || generalTop + 2 * 24 + 3 + generalColumn.spacing + heightOfCells(small) <= innerHeightOf(small);
    }

    function oneLineOfGeneralKnobs(small) {
        return height > 0
                && generalTop + 2 * 24 + 3 + generalColumn.spacing + 2 * heightOfCells(small) > innerHeightOf(small);
    }

    function generalWidthWith(cell, small) {
        return Math.max(130, oneLineOfGeneralKnobs(small) ? 4 * cell : 0,
                        twoLinesOfAlgorithms(small) ? 0 : 8 * algorithmWidthOf(small) + 7 * 3);
    }

    // The operators' rows and width with knob cells `cell` pixels wide, compact or not.
    function layoutWith(cell, small) {
        const first = operatorColumns.count > 0 ? operatorColumns.itemAt(0) : null;
        const header = first ? first.header.implicitHeight : 13;
        const inner = innerHeightOf(small);
        const arrange = knobsPerLine => {
            const block = header + 2 + Math.ceil(5 / knobsPerLine) * heightOfCells(small);
            const rows = height <= 0 ? 1 : Math.max(1, Math.min(4, Math.floor((inner + 6) / (block + 6))));
            const across = Math.ceil(4 / rows);
            // Each column of operators is its knobs' width and the 12 px between columns.
            return {knobsPerLine: knobsPerLine, rows: rows, fits: height <= 0 || block <= inner,
                    width: across * (knobsPerLine * cell + 12) - 12};
        };
        const three = arrange(3);
        const five = arrange(5);
        if (three.fits && (!five.fits || three.width <= five.width))
            return three;
        return five;
    }

    function widthWith(cell, small) {
        return 20 + generalWidthWith(cell, small) + 12 + layoutWith(cell, small).width;
    }

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
        implicitWidth: owner ? owner.cellWidth : KnobCells.fmWidth
        implicitHeight: owner ? owner.cellHeight : KnobCells.fmHeight
        knobSize: owner && owner.compact ? 26 : 32
        knobTop: 9
        labelWidth: width
        labelSpacing: owner && owner.cellWidth < KnobCells.fmWidth ? 0 : 0.3
        name: meta !== undefined ? meta.name : key
        help: meta !== undefined ? meta.help : ""
        from: meta !== undefined ? meta.min : 0
        to: meta !== undefined ? meta.max : 1
        defaultValue: meta !== undefined ? meta.def : 0
        stored: owner ? owner.value(key) : 0
        format: v => meta !== undefined ? owner.knobText(meta, v) : String(v)
        onCommit: v => project.setInstrumentParameter(owner.trackId, key, v)
    }

    implicitWidth: 20 + generalWidth + 12 + operatorLayout.width
    width: implicitWidth

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 10
        anchors.rightMargin: 10
        anchors.topMargin: root.margin
        anchors.bottomMargin: root.margin
        spacing: 12

        ColumnLayout {
            id: generalColumn

            Layout.fillHeight: true
            Layout.preferredWidth: root.generalWidth
            spacing: 4

            CardTitle {
                id: generalTitle

                Layout.fillWidth: true
                category: "fm"
                text: root.title
                titleName: "fmTitle"
            }

            Text {
                id: algorithmCaption

                text: qsTr("ALGORITHM")
                color: theme.colors.textMuted
                font.family: theme.fontFamily
                font.pixelSize: TextSize.atLeast(8, Screen.devicePixelRatio)
                font.letterSpacing: 0.6
            }

            Grid {
                objectName: "algorithms"
                columns: root.algorithmsOnTwoLines ? 4 : 8
                spacing: 3

                Repeater {
                    model: 8

                    FlatButton {
                        required property int index

                        objectName: "algorithm" + (index + 1)
                        width: root.algorithmWidth
                        height: 24
                        implicitWidth: root.algorithmWidth
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

        // Filled top to bottom, then the next column.
        GridLayout {
            objectName: "operators"
            Layout.alignment: Qt.AlignTop
            flow: GridLayout.TopToBottom
            rows: root.operatorLayout.rows
            rowSpacing: 6
            columnSpacing: 12

            Repeater {
                id: operatorColumns

                model: 4

                ColumnLayout {
                    id: operatorColumn

                    required property int index
                    readonly property string prefix: "op" + (index + 1) + "_"
                    readonly property bool heard: root.isCarrier(index)
                    readonly property alias header: header

                    objectName: "operator" + (index + 1)
                    Layout.alignment: Qt.AlignTop
                    spacing: 2

                    RowLayout {
                        id: header

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
                            font.pixelSize: TextSize.atLeast(9, Screen.devicePixelRatio)
                            font.weight: operatorColumn.heard ? Font.DemiBold : Font.Normal
                        }
                    }

                    Grid {
                        columns: root.operatorLayout.knobsPerLine

                        KnobCell { owner: root; key: operatorColumn.prefix + "ratio"; label: qsTr("Ratio") }
                        KnobCell { owner: root; key: operatorColumn.prefix + "level"; label: qsTr("Level") }
                        KnobCell { owner: root; key: operatorColumn.prefix + "attack_ms"; label: qsTr("Attack") }
                        KnobCell { owner: root; key: operatorColumn.prefix + "decay_ms"; label: qsTr("Decay") }
                        KnobCell { owner: root; key: operatorColumn.prefix + "sustain"; label: qsTr("Sustain") }
                    }
                }
            }
        }
    }
}
