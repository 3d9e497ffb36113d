import QtQuick
import QtTest
import Ostrel.App

Item {
    id: stage

    width: 800
    height: 600

    Component {
        id: sectionComponent

        ThemeFilesSection {
            x: 10
            y: 10
            width: 760
        }
    }

    TestCase {
        id: testCase

        name: "ThemeFilesSection"
        when: windowShown

        function init() {
            settings.setValue("appearance.reduce_motion", true);
            testHost.emptyFolder(testHost.exportFolder);
            theme.refreshImportFiles();
        }

        function cleanup() {
            // A help text the pointer queued for later is written before the controls go.
            wait(0);
            theme.currentId = "graphite";
            for (const id of theme.themeIds.slice()) {
                if (theme.isUserTheme(id))
                    theme.removeTheme(id);
            }
            settings.resetToDefault("appearance.custom_theme");
            testHost.emptyFolder(testHost.exportFolder);
            theme.refreshImportFiles();
        }

        function makeSection(properties) {
            const section = createTemporaryObject(sectionComponent, stage, properties || {});
            verify(section);
            return section;
        }

        function child(item, name) {
            const found = findChild(item, name);
            verify(found, "no " + name);
            return found;
        }

        function rows(section, name) {
            waitForRendering(section);
            const found = [];
            for (let i = 0; i < section.children.length; ++i) {
                const item = section.children[i];
                if (item.objectName === name && item.visible)
                    found.push(item);
            }
            return found;
        }

        function rowText(row) {
            return row.children[0].text;
        }

        function rowButton(row, name) {
            return findChild(row, name);
        }

        // A theme file of the user's own, made from an exported built-in one.
        function writeOwnTheme(fileName, id, name) {
            const path = theme.exportTheme("graphite");
            verify(path !== "");
            const json = JSON.parse(testHost.readFile(path));
            json.id = id;
            json.name = name;
            testHost.emptyFolder(testHost.exportFolder);
            verify(testHost.writeFile(testHost.exportFolder + "/" + fileName, JSON.stringify(json)));
        }

        function importOwnTheme(section, fileName, id, name) {
            writeOwnTheme(fileName, id, name);
            mouseClick(child(section, "refreshThemes"));
            const row = rows(section, "importRow").filter(row => rowText(row) === fileName)[0];
            verify(row, "no row for " + fileName);
            mouseClick(rowButton(row, "importButton"));
            verify(theme.themeIds.indexOf(id) >= 0, theme.fileMessage);
        }


        function test_export_writes_the_current_theme_and_lists_its_file() {
            theme.currentId = "steel";
            const section = makeSection();
            mouseClick(child(section, "exportTheme"));
            verify(testHost.fileExists(testHost.exportFolder + "/steel.json"));
            const importRows = rows(section, "importRow");
            compare(importRows.length, 1);
            compare(rowText(importRows[0]), "steel.json");
            verify(!child(section, "noImportFiles").visible);
            const message = child(section, "themeMessage");
            verify(message.visible);
            compare(message.text, theme.fileMessage);
            verify(Qt.colorEqual(message.color, theme.colors.textMuted));
        }

        function test_a_file_copied_in_meanwhile_shows_when_the_section_comes_into_view() {
            const section = makeSection({visible: false});
            writeOwnTheme("mint.json", "mint", "Mint");
            compare(rows(section, "importRow").length, 0);
            section.visible = true;
            compare(rows(section, "importRow").length, 1);
            compare(rowText(rows(section, "importRow")[0]), "mint.json");
        }

        function test_importing_a_good_file_adds_a_theme_of_the_users_own() {
            const section = makeSection();
            importOwnTheme(section, "mint.json", "mint", "Mint");
            verify(theme.isUserTheme("mint"));
            verify(!theme.fileProblem);
            const own = rows(section, "ownThemeRow");
            compare(own.length, 1);
            compare(rowText(own[0]), "Your theme: Mint");
        }


        function test_removing_the_theme_in_use_falls_back_first() {
            const section = makeSection();
            importOwnTheme(section, "mint.json", "mint", "Mint");
            importOwnTheme(section, "rose.json", "rose", "Rose");
            compare(rows(section, "ownThemeRow").length, 2);
            settings.setValue("appearance.custom_theme", "rose");

            // Another theme goes without touching the setting.
            const mint = rows(section, "ownThemeRow").filter(row => rowText(row) === "Your theme: Mint")[0];
            mouseClick(rowButton(mint, "removeTheme"));
            compare(settings.value("appearance.custom_theme"), "rose");
            verify(theme.themeIds.indexOf("mint") < 0);

            // The setting is cleared before the theme it names leaves the list.
            const watcher = createTemporaryObject(settingWatcher, testCase);
            const rose = rows(section, "ownThemeRow")[0];
            mouseClick(rowButton(rose, "removeTheme"));
            compare(settings.value("appearance.custom_theme"), "");
            verify(watcher.themesWhenCleared !== null);
            verify(watcher.themesWhenCleared.indexOf("rose") >= 0);
            verify(theme.themeIds.indexOf("rose") < 0);
            compare(rows(section, "ownThemeRow").length, 0);
            compare(settings.value("appearance.theme"), "graphite");
        }

        Component {
            id: settingWatcher

            Connections {
                // The themes there were when the setting changed.
                property var themesWhenCleared: null

                target: settings
                function onValueChanged(id) {
                    if (id === "appearance.custom_theme")
                        themesWhenCleared = theme.themeIds.slice();
                }
            }
        }
    }
}
