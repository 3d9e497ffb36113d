import QtQuick
import QtTest
import Ostrel.App

// What the four sections of the Settings pages (Audio, MIDI, Instrument patches, Appearance
// themes) promise alike, one table a promise: the device lists start with the choice of none
// and keep the choice, a problem shows in the warning colour, an empty file list shows its
// note and folder, and the controls explain themselves under the pointer. What each section
// does alone is in its own suite.
Item {
    id: stage

    width: 800
    height: 600

    Component { id: audioComponent; AudioSection { x: 10; y: 10; width: 760 } }
    Component { id: midiComponent; MidiSection { x: 10; y: 10; width: 760 } }
    Component { id: patchesComponent; PatchFilesSection { x: 10; y: 10; width: 760 } }
    Component { id: themesComponent; ThemeFilesSection { x: 10; y: 10; width: 760 } }

    // A sound card controller with no cards and a problem, for cases the silent output cannot show.
    QtObject {
        id: audioStandIn

        property string driverName: "Test Audio"
        property var devices: []
        property string selectedDeviceId: ""
        property bool testToneOn: false
        property string status: "Stopped"
        property bool problem: false
        property real latencyMs: 0
        property real cpuPercent: 0
        property int dropouts: 0
        property string actualFormat: ""
        property var calls: []

        function refreshDevices() { calls.push("refreshDevices()"); }
        function selectDevice(id) { calls.push("selectDevice(" + id + ")"); }
        function setTestTone(on) { calls.push("setTestTone(" + on + ")"); }
    }

    TestCase {
        id: testCase

        name: "SettingsSections"
        when: windowShown

        function init() {
            settings.setValue("appearance.reduce_motion", true);
            testHost.resetControllers();
            app.helpText = "";
            audioStandIn.status = "Stopped";
            audioStandIn.problem = false;
            audioStandIn.calls = [];
            testHost.emptyFolder(testHost.exportFolder);
            theme.refreshImportFiles();
            mouseMove(stage, stage.width - 1, stage.height - 1);
        }

        function cleanup() {
            // A help text the pointer queued for later is written before the controls go.
            wait(0);
            audio.setTestTone(false);
            settings.resetToDefault("audio.output_device");
            testHost.setMidiRefusal("");
            midi.selectDevice("");
            testHost.setMidiInputs([]);
            midi.refreshDevices();
            instrument.selectPatch("Modular Lead");
            for (const name of instrument.userPatchNames.slice())
                verify(instrument.removeUserPatch(name), instrument.patchFilesMessage);
            compare(instrument.userPatchNames, []);
            testHost.emptyFolder(testHost.exportFolder);
            theme.refreshImportFiles();
            // The notes played opened the sound card.
            testHost.resetControllers();
        }

        function makeSection(kind) {
            const component = {audio: audioComponent, midi: midiComponent, patches: patchesComponent,
                               themes: themesComponent}[kind];
            const section = createTemporaryObject(component, stage);
            verify(section);
            waitForRendering(section);
            return section;
        }

        function child(item, name) {
            const found = findChild(item, name);
            verify(found, "no " + name);
            return found;
        }

        function deviceButtons(section, kind) {
            const list = child(section, kind + "Devices");
            list.forceLayout();
            waitForRendering(section);
            const buttons = [];
            for (let i = 0; i < list.count; ++i)
                buttons.push(list.itemAtIndex(i));
            return buttons;
        }

        // Visible direct rows of a section named so.
        function rows(section, name) {
            waitForRendering(section);
            return Array.from(section.children).filter(item => item.objectName === name && item.visible);
        }

        function typeText(text) {
            for (const character of text)
                keyClick(character);
        }

        // The device lists

        function test_the_device_list_starts_with_the_choice_of_none_data() {
            return [
                {tag: "audio: the silent output after the system default", kind: "audio",
                 header: () => "Output device  ·  driver: " + audio.driverName, first: "System default",
                 help: "Play Ostrel's sound through whichever sound card the system is using."},
                {tag: "audio: without sound cards the system default is still offered", kind: "audio",
                 standIn: true, header: () => "No sound card found (driver: Test Audio)", first: "System default"},
                {tag: "midi: without keyboards only none is offered", kind: "midi",
                 header: () => "No MIDI keyboard found (driver: Test MIDI)", first: "None",
                 help: "Do not listen to any MIDI keyboard. This also frees the keyboard for other programs."},
            ];
        }

        function test_the_device_list_starts_with_the_choice_of_none(data) {
            if (data.standIn)
                testHost.replaceContextObject("audio", audioStandIn);
            const section = makeSection(data.kind);
            compare(child(section, data.kind + "Header").text, data.header());
            const buttons = deviceButtons(section, data.kind);
            const devices = data.kind === "audio" ? audio.devices : midi.devices;
            compare(buttons.length, devices.length + 1);
            compare(buttons[0].text, data.first);
            if (data.kind === "audio" && !data.standIn) {
                verify(buttons[0].selected);
                const device = audio.devices[0];
                compare(buttons[1].text, device.name + (device.isDefault ? "   ·   default" : ""));
            }
            if (data.kind === "midi") {
                compare(buttons.length, 1);
                verify(buttons[0].selected);
                const dot = child(section, "activityDot");
                compare(dot.color.a, 0);
                compare(dot.border.width, 1);
            }
            if (data.help !== undefined) {
                mouseMove(buttons[0], 20, 10);
                compare(app.helpText, data.help);
            }
            if (data.standIn) {
                compare(buttons.length, 1);
                mouseClick(buttons[0]);
                compare(audioStandIn.calls, ["selectDevice()"]);
            }
        }

        function test_picking_a_device_stores_it_and_selects_its_button_data() {
            return [
                {tag: "audio", kind: "audio", setting: "audio.output_device"},
                {tag: "midi: picking none closes the keyboard", kind: "midi", setting: "midi.input_device"},
            ];
        }

        function test_picking_a_device_stores_it_and_selects_its_button(data) {
            const section = makeSection(data.kind);
            const controller = data.kind === "audio" ? audio : midi;
            if (data.kind === "midi") {
                testHost.setMidiInputs(["Keys A"]);
                mouseClick(child(section, "midiRefresh"));
            }
            const buttons = deviceButtons(section, data.kind);
            mouseClick(buttons[1]);
            compare(controller.selectedDeviceId, controller.devices[0].id);
            verify(buttons[1].selected);
            verify(!buttons[0].selected);
            if (data.kind === "audio")
                compare(settings.value(data.setting), audio.devices[0].id);
            else
                verify(midi.connected);
            mouseClick(buttons[0]);
            compare(controller.selectedDeviceId, "");
            verify(buttons[0].selected);
            if (data.kind === "midi") {
                compare(settings.value(data.setting), "");
                verify(!midi.connected);
                compare(child(section, "midiStatus").text, midi.status);
            }
        }

        // The status lines

        function test_a_problem_shows_in_the_warning_colour_data() {
            return [
                {tag: "audio: a sound card that cannot start", kind: "audio", status: "audioStatus"},
                {tag: "midi: a keyboard that cannot open", kind: "midi", status: "midiStatus"},
                {tag: "patches: a name of blanks disables the button but Enter still asks", kind: "patches",
                 status: "patchMessage"},
                {tag: "themes: importing a bad file says why", kind: "themes", status: "themeMessage"},
            ];
        }

        // Each section is brought to a problem its own way; the line then says it in the
        // warning colour.
        function test_a_problem_shows_in_the_warning_colour(data) {
            let expected = "";
            if (data.kind === "audio") {
                audioStandIn.status = "Could not start audio: busy";
                audioStandIn.problem = true;
                testHost.replaceContextObject("audio", audioStandIn);
            }
            const section = makeSection(data.kind);
            if (data.kind === "audio") {
                expected = audioStandIn.status;
            } else if (data.kind === "midi") {
                testHost.setMidiInputs(["Keys A"]);
                mouseClick(child(section, "midiRefresh"));
                const buttons = deviceButtons(section, "midi");
                testHost.setMidiRefusal("the device is busy");
                mouseClick(buttons[1]);
                testHost.setMidiRefusal("");
                verify(midi.problem);
                expected = "Could not open the MIDI keyboard: the device is busy";
            } else if (data.kind === "patches") {
                const field = child(section, "patchNameField");
                mouseClick(field);
                typeText("   ");
                verify(!child(section, "savePatch").enabled);
                keyClick(Qt.Key_Return);
                verify(instrument.patchFilesProblem);
                compare(field.text, "   ");
                compare(instrument.userPatchNames, []);
                expected = instrument.patchFilesMessage;
            } else {
                verify(testHost.writeFile(testHost.exportFolder + "/broken.json", "{ this is not a theme"));
                mouseClick(child(section, "refreshThemes"));
                const row = rows(section, "importRow")[0];
                compare(row.children[0].text, "broken.json");
                const idsBefore = theme.themeIds;
                mouseClick(findChild(row, "importButton"));
                verify(theme.fileProblem);
                compare(theme.themeIds, idsBefore);
                expected = theme.fileMessage;
            }
            const status = child(section, data.status);
            verify(status.visible);
            compare(status.text, expected);
            verify(Qt.colorEqual(status.color, theme.colors.warning));
        }

        // The file lists

        function test_an_empty_list_shows_its_note_and_the_folder_data() {
            return [
                {tag: "no patches of one's own", kind: "patches", rows: ["patchRow"], note: "noPatches",
                 folder: "patchesFolder", path: () => instrument.patchesDirectory, name: "Patches folder "},
                {tag: "an empty export folder", kind: "themes", rows: ["importRow", "ownThemeRow"],
                 note: "noImportFiles", folder: "exportFolder", path: () => theme.exportDirectory,
                 name: "Export folder "},
            ];
        }

        function test_an_empty_list_shows_its_note_and_the_folder(data) {
            const section = makeSection(data.kind);
            for (const name of data.rows)
                compare(rows(section, name).length, 0, name);
            verify(child(section, data.note).visible);
            const folder = child(section, data.folder);
            compare(folder.text, data.path());
            compare(folder.font.family, "monospace");
            compare(folder.Accessible.name, data.name + data.path());
        }

        // Help

        function test_a_control_explains_itself_under_the_pointer_data() {
            return [
                {tag: "audio: a readout", kind: "audio", control: "dropouts",
                 help: "Times the engine was too slow and the sound could glitch. If this grows, choose a larger buffer size."},
                {tag: "patches: the name field", kind: "patches", control: "patchNameField", x: 20, y: 10,
                 help: "Type a name for a copy of the patch you are playing (letters, digits, spaces, - and _)."},
            ];
        }

        function test_a_control_explains_itself_under_the_pointer(data) {
            const section = makeSection(data.kind);
            mouseMove(child(section, data.control), data.x || 5, data.y || 5);
            compare(app.helpText, data.help);
            mouseMove(stage, stage.width - 1, stage.height - 1);
            compare(app.helpText, "");
        }
    }
}
