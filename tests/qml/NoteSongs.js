// Songs for the note editors' suites, written as project files and opened through the real
// project controller, so a suite starts from exact note times and a clean history.

function uuid(n) {
    const hex = n.toString(16);
    return "00000000-0000-4000-8000-" + "0".repeat(12 - hex.length) + hex;
}

// tracks: [{name, instrument, config, clips: [{start, length, notes: [[pitch, velocity, start,
// length], ...]}]}]. Answers the ids: {tracks: [id], clips: [[id]], notes: [[[id]]]}.
function open(project, testHost, tracks) {
    let next = 1;
    const ids = {tracks: [], clips: [], notes: []};
    const trackRecords = tracks.map((t, ti) => {
        const trackId = uuid(next++);
        ids.tracks.push(trackId);
        ids.clips.push([]);
        ids.notes.push([]);
        const clips = (t.clips || []).map(c => {
            const clipId = uuid(next++);
            ids.clips[ti].push(clipId);
            const noteIds = [];
            ids.notes[ti].push(noteIds);
            return {
                id: clipId, name: "Clip", start_beats: c.start || 0, length_beats: c.length,
                notes: (c.notes || []).map(n => {
                    const noteId = uuid(next++);
                    noteIds.push(noteId);
                    return {id: noteId, pitch: n[0], velocity: n[1], start_beats: n[2], length_beats: n[3]};
                })
            };
        });
        const record = {id: trackId, name: t.name || ("Track " + (ti + 1)), kind: "midi",
                        instrument_patch: t.instrument || "", clips: clips, devices: [], muted: false,
                        solo: false, volume: 1.0};
        if (t.config !== undefined)
            record.instrument_config = t.config;
        return record;
    });
    const song = {format: "ostrel-project", format_version: 1, id: uuid(next++), name: "Notes",
                  tempo_bpm: 120, tracks: trackRecords};
    if (!testHost.writeFile(project.projectsDirectory + "/notes.ostproj", JSON.stringify(song)))
        throw new Error("cannot write the song");
    if (!project.openProject("notes.ostproj"))
        throw new Error("cannot open the song: " + project.message);
    return ids;
}

// The clip's notes as the project gives them to the views: [pitch, start, length], exact;
// null for an unknown clip.
function clipNotes(project, trackId, clipId) {
    const track = project.track(trackId);
    if (track.clipList === undefined || !track.clipList.some(c => c.id === clipId))
        return null;
    return project.clipNoteList(trackId, clipId).map(n => [n[0], n[1], n[2]]);
}
