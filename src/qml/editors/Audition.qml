import QtQuick

// A short sound of one note on the live instrument, as an editor gives when a note is
// placed: a new note cuts the last one short, and each is let go after `interval` ms.
Timer {
    id: root

    // The note sounding now, or -1.
    property int pitch: -1

    function play(note) {
        if (pitch >= 0)
            instrument.padUp(pitch);
        pitch = note;
        instrument.padDown(note);
        restart();
    }

    onTriggered: {
        if (pitch >= 0)
            instrument.padUp(pitch);
        pitch = -1;
    }
}
