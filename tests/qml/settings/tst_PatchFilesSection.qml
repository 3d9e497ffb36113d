import QtQuick
import QtTest
import Ostrel.App

Item {
    id: stage

    width: 800
    height: 600

    Component {
        id: sectionComponent

        PatchFilesSection {
            x: 10
            y: 10
            width: 760
        }
    }

    TestCase {
        id: testCase

        name: "PatchFilesSection"
        when: windowShown

        function init() {
            settings.setValue("appearance.reduce_motion", true);
            app.helpText = "";
            mouseMove(stage, stage.width - 1, stage.height - 1);
        }

        function cleanup() {
            // A help text the pointer queued for later is written before the controls go.
            wait(0);
            instrument.selectPatch("Modular Lead");
            for (const name of instrument.userPatchNames.slice())
                verify(instrument.removeUserPatch(name), instrument.patchFilesMessage);
            compare(instrument.userPatchNames, []);
        }

        function makeSection() {
            const section = createTemporaryObject(sectionComponent, stage);
            verify(section);
            waitForRendering(section);
            return section;
        }

        function child(item, name) {
            const found = findChild(item, name);
            verify(found, "no " + name);
            return found;
        }

        function patchRows(section) {
            waitForRendering(section);
            const found = [];
            for (let i = 0; i < section.children.length; ++i) {
                const item = section.children[i];
                if (item.objectName === "patchRow" && item.visible)
                    found.push(item);
            }
            return found;
        }

        function rowFor(section, name) {
            return patchRows(section).filter(row => row.modelData === name)[0];
        }

        function typeText(text) {
            for (const character of text)
                keyClick(character);
        }

        function saveAs(section, name) {
            mouseClick(child(section, "patchNameField"));
            typeText(name);
            mouseClick(child(section, "savePatch"));
        }


        function test_save_as_keeps_the_patch_being_played_and_marks_it() {
            const section = makeSection();
            const field = child(section, "patchNameField");
            verify(!child(section, "savePatch").enabled);
            saveAs(section, "My Lead");
            compare(instrument.userPatchNames, ["My Lead"]);
            compare(field.text, "");
            verify(!child(section, "noPatches").visible);
            const row = rowFor(section, "My Lead");
            compare(findChild(row, "patchRowText").text, "My Lead   ·   playing");
            const message = child(section, "patchMessage");
            verify(message.visible);
            compare(message.text, instrument.patchFilesMessage);
            verify(Qt.colorEqual(message.color, theme.colors.textMuted));
        }

        function test_play_moves_the_mark() {
            const section = makeSection();
            saveAs(section, "First");
            saveAs(section, "Second");
            compare(findChild(rowFor(section, "Second"), "patchRowText").text, "Second   ·   playing");
            compare(findChild(rowFor(section, "First"), "patchRowText").text, "First");
            mouseClick(findChild(rowFor(section, "First"), "playPatch"));
            compare(instrument.patchName, "First");
            compare(findChild(rowFor(section, "First"), "patchRowText").text, "First   ·   playing");
            compare(findChild(rowFor(section, "Second"), "patchRowText").text, "Second");
        }

        function test_remove_deletes_the_file_and_its_row() {
            const section = makeSection();
            saveAs(section, "Gone Soon");
            mouseClick(findChild(rowFor(section, "Gone Soon"), "removePatch"));
            compare(instrument.userPatchNames, []);
            compare(patchRows(section).length, 0);
            verify(child(section, "noPatches").visible);
            verify(!testHost.fileExists(instrument.patchesDirectory + "/Gone Soon.ostpatch"));
            compare(child(section, "patchMessage").text, "Removed the patch “Gone Soon”.");
        }


        function test_enter_saves_like_the_button() {
            const section = makeSection();
            mouseClick(child(section, "patchNameField"));
            typeText("Keyed");
            keyClick(Qt.Key_Return);
            compare(instrument.userPatchNames, ["Keyed"]);
        }

        function test_a_41st_character_cannot_be_typed() {
            const section = makeSection();
            const field = child(section, "patchNameField");
            mouseClick(field);
            typeText("abcdefghijklmnopqrstuvwxyzabcdefghijklmnopq");
            compare(field.text.length, 40);
        }


        function test_refresh_reads_a_file_added_meanwhile() {
            const section = makeSection();
            saveAs(section, "Original");
            const text = testHost.readFile(instrument.patchesDirectory + "/Original.ostpatch");
            verify(text !== "");
            const patch = JSON.parse(text);
            patch.name = "Copied";
            verify(testHost.writeFile(instrument.patchesDirectory + "/Copied.ostpatch", JSON.stringify(patch)));
            mouseClick(child(section, "refreshPatches"));
            verify(rowFor(section, "Copied") !== undefined);
        }
    }
}
