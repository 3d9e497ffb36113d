import QtQuick
import QtTest
import Ostrel.App

// The arrangement as a person sees it, saved as pictures to look at (testHost.galleryFolder):
// an empty song, a small song of several kinds of track, and a song of 32 tracks. Songs are
// written as project files and opened, as a person would open them.
Item {
    id: stage

    width: 1100
    height: 460

    Component {
        id: viewComponent

        Rectangle {
            property alias view: view

            width: stage.width
            height: stage.height
            color: theme.colors.background

            TimelineView {
                id: view

                x: 8
                y: 8
                width: parent.width - 16
                height: parent.height - 16
            }
        }
    }

    TestCase {
        name: "TimelineGallery"
        when: windowShown

        property int idCounter: 0

        function init() {
            testHost.resetControllers();
            settings.setValue("appearance.reduce_motion", true);
            idCounter = 0;
        }

        function cleanup() {
            theme.currentId = "graphite";
            testHost.resetControllers();
        }

        function newId() {
            ++idCounter;
            const hex = idCounter.toString(16);
            return "00000000-0000-4000-8000-" + "0".repeat(12 - hex.length) + hex;
        }

        function note(pitch, start, length) {
            return {id: newId(), pitch: pitch, velocity: 100, start_beats: start, length_beats: length};
        }

        function clip(name, start, length, notes) {
            return {id: newId(), name: name, start_beats: start, length_beats: length, notes: notes};
        }

        function openSong(tracks) {
            const song = {format: "ostrel-project", format_version: 1, id: newId(), name: "Gallery",
                          tempo_bpm: 120.0, tracks: tracks};
            verify(testHost.writeFile(project.projectsDirectory + "/gallery.ostproj", JSON.stringify(song)));
            verify(project.openProject("gallery.ostproj"), project.message);
        }

        function truncatedTexts(item) {
            let found = [];
            if (!item.visible)
                return found;
            if (item.truncated === true)
                found.push(item.text);
            for (let i = 0; i < item.children.length; ++i)
                found = found.concat(truncatedTexts(item.children[i]));
            return found;
        }

        function beat(start, count, pitches, step, length) {
            const notes = [];
            for (let i = 0; i < count; ++i)
                notes.push(note(pitches[i % pitches.length], start + i * step, length));
            return notes;
        }

        function demoTracks() {
            const drums = [];
            for (let bar = 0; bar < 4; ++bar) {
                drums.push(note(36, bar * 4, 0.25), note(36, bar * 4 + 2.5, 0.25));
                drums.push(note(38, bar * 4 + 1, 0.25), note(38, bar * 4 + 3, 0.25));
                for (let e = 0; e < 8; ++e)
                    drums.push(note(42, bar * 4 + e * 0.5, 0.25));
            }
            return [
                {id: newId(), name: "Drums", instrument_patch: "Modular Drums",
                 clips: [clip("Beat", 0, 16, drums), clip("Beat", 16, 16, drums)], devices: []},
                {id: newId(), name: "Bass", instrument_patch: instrument.patchNames[1], volume: 0.9,
                 clips: [clip("Bass line", 0, 32, beat(0, 32, [36, 36, 43, 41], 1, 0.75))], devices: []},
                {id: newId(), name: "Chords", instrument_patch: instrument.patchNames[2], muted: true,
                 clips: [clip("Chords", 8, 8, beat(0, 12, [60, 64, 67, 72, 65, 69], 2 / 3, 0.6)),
                         clip("Chords 2", 16, 16, beat(0, 8, [57, 60, 64], 2, 2))],
                 devices: [{id: newId(), device_id: "ostrel.reverb", enabled: true, name: "Reverb", parameters: {}}]},
                {id: newId(), name: "Lead", instrument_patch: "",
                 clips: [clip("Melody", 16, 8, beat(0, 16, [72, 74, 76, 79, 81], 0.5, 0.5))], devices: []},
                {id: newId(), name: "Vocal", kind: "audio",
                 clips: [{id: newId(), name: "tone", start_beats: 4, length_beats: 6, audio_source: "tone.wav",
                          audio_offset_seconds: 0.0, notes: []}], devices: []}
            ];
        }

        function test_empty_song() {
            const sheet = createTemporaryObject(viewComponent, stage);
            waitForRendering(sheet);
            verify(findChild(sheet.view, "emptyMessage").visible);
            compare(truncatedTexts(sheet), []);
            grabImage(sheet).save(testHost.galleryFolder + "/timeline-empty.png");
        }

        function test_demonstration_song_data() {
            return theme.themeIds.map(id => ({tag: id, themeId: id}));
        }

        function test_demonstration_song(data) {
            theme.currentId = data.themeId;
            verify(testHost.writeTone(project.samplesDirectory + "/tone.wav", 2.0));
            project.refreshSamples();
            openSong(demoTracks());
            const sheet = createTemporaryObject(viewComponent, stage);
            const view = sheet.view;
            compare(view.tracks.length, 5);
            view.selectedTrack = view.tracks[1].id;
            view.selectedClip = view.tracks[1].clipList[0].id;
            transport.setLoopRange(8, 16);
            transport.setStartBeat(12);
            waitForRendering(sheet);
            grabImage(sheet).save(testHost.galleryFolder + "/timeline-demo-" + data.themeId + ".png");
        }

        function test_thirty_two_tracks() {
            const tracks = [];
            for (let t = 0; t < 32; ++t) {
                const clips = [];
                for (let c = 0; c < 64; ++c)
                    clips.push(clip("Clip " + (c + 1), c * 4, 4, beat(0, 8, [48 + t, 52 + t, 55 + t], 0.5, 0.5)));
                tracks.push({id: newId(), name: "Track " + (t + 1), instrument_patch: instrument.patchNames[t % 5],
                             clips: clips, devices: []});
            }
            openSong(tracks);
            const sheet = createTemporaryObject(viewComponent, stage);
            const view = sheet.view;
            compare(view.tracks.length, 32);
            compare(view.totalBeats, 256 + 16);
            waitForRendering(sheet);
            grabImage(sheet).save(testHost.galleryFolder + "/timeline-32-tracks.png");
            // Zoomed out and scrolled to the middle of the song and of the rows.
            view.zoomBy(1 / 1.3 / 1.3 / 1.3, 0);
            view.viewStart = 100;
            view.clampView();
            mouseWheel(findChild(view, "timelineBody"), 500, 200, 0, -120 * 10);
            waitForRendering(sheet);
            grabImage(sheet).save(testHost.galleryFolder + "/timeline-32-tracks-scrolled.png");
            verify(findChild(view, "trackList").contentY > 0);
        }
    }
}
