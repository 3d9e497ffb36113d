.pragma library

// The song's tracks as the views read them from `project`: a view keeps the TrackMaps it
// read and asks again only for a track whose `revision` moved, so an edit of one track
// converts that track's map and no other (`project.trackRevisions` is one number a track).

// Whether `last`, a TrackMap read before (or null), is still the map of its track.
function current(project, last) {
    if (last === null || last === undefined)
        return false;
    const revisions = project.trackRevisions;
    return last.index < revisions.length && revisions[last.index] === last.revision;
}

// The TrackMap of the track with that id: `last` while it is still that track's map, else
// read again; null when the song has no such track.
function find(project, id, last) {
    if (id === "")
        return null;
    if (last && last.id === id && current(project, last))
        return last;
    const map = project.track(id);
    return map.id !== undefined ? map : null;
}

// Every TrackMap in song order, keeping each of `last` (an earlier answer) whose track has
// not changed since.
function all(project, last) {
    const revisions = project.trackRevisions;
    const read = [];
    for (let i = 0; i < revisions.length; ++i)
        read.push(i < last.length && last[i].revision === revisions[i] ? last[i] : project.trackAt(i));
    return read;
}
