#pragma once

// What the QML benchmarks share: the context objects the controls read, a shown window, and
// a main that draws with the software renderer offscreen.

#include "app/live/InstrumentController.h"
#include "app/project/ProjectController.h"
#include "app/settings/SettingsBridge.h"
#include "app/sound/AudioController.h"
#include "app/sound/TransportController.h"
#include "app/startup/AppController.h"
#include "app/themes/ThemeManager.h"
#include "core/log/Logger.h"
#include "core/settings/SettingsRegistry.h"
#include "core/settings/SettingsStore.h"
#include "platform/NullAudioBackend.h"

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QVariantMap>

#include <memory>

namespace ostrel::bench {

// The theme, app and settings objects over a settings file in a temporary folder, and a
// shown window of `width` x `height`.
struct QuickHost {
    QuickHost(int width, int height)
        : registry(core::buildSettingsRegistry()),
          store(registry),
          app(logger, folder.filePath(QStringLiteral("ostrel.log"))),
          settings(store, registry, folder.filePath(QStringLiteral("settings.json")), logger) {
        themes.loadThemeFolder(QStringLiteral(":/themes"));
        themes.setCurrentId(QStringLiteral("graphite"));
        engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
        expose("theme", &themes);
        expose("app", &app);
        expose("settings", &settings);
        window.resize(width, height);
        window.show();
    }

    void expose(const char* name, QObject* object) {
        engine.rootContext()->setContextProperty(QString::fromLatin1(name), object);
    }

    // Builds `qml` (which imports what it uses) into the window; stops the run if it fails.
    std::unique_ptr<QQuickItem> makeItem(const QByteArray& qml, const QVariantMap& initial = {}) {
        QQmlComponent component(&engine);
        component.setData(qml, QUrl());
        QObject* made = component.isReady() ? component.createWithInitialProperties(initial) : nullptr;
        if (made == nullptr) {
            qFatal("%s", qPrintable(component.errorString()));
        }
        auto* item = qobject_cast<QQuickItem*>(made);
        item->setParentItem(window.contentItem());
        return std::unique_ptr<QQuickItem>(item);
    }

    // Draws one frame now; the software renderer draws straight into the picture.
    void drawFrame() { benchmark::DoNotOptimize(window.grabWindow()); }

    QTemporaryDir folder;
    core::Logger logger;
    core::SettingsRegistry registry;
    core::SettingsStore store;
    app::ThemeManager themes;
    app::AppController app;
    app::SettingsBridge settings;
    QQmlEngine engine;
    QQuickWindow window;
};

// With the audio, transport, instrument and project controllers too, on the null output and
// a projects folder in the temporary folder.
struct ProjectQuickHost : QuickHost {
    ProjectQuickHost(int width, int height)
        : QuickHost(width, height),
          audio(std::make_unique<engine::NullAudioBackend>(), settings, logger),
          transport(audio, logger, &settings),
          instrument(audio, logger, &settings),
          project(transport, logger, folder.filePath(QStringLiteral("projects")), QString(), QString()) {
        expose("audio", &audio);
        expose("transport", &transport);
        expose("instrument", &instrument);
        expose("project", &project);
    }

    app::AudioController audio;
    app::TransportController transport;
    app::InstrumentController instrument;
    app::ProjectController project;
};

// The benchmarks' main: offscreen, with the renderer every machine has, so the figures compare.
inline int runQuickBenchmarks(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QUICK_BACKEND", "software");
    QGuiApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace ostrel::bench
