#pragma once

// The program's settings, audio and transport controllers over a temporary data folder and
// the null output.

#include "app/settings/SettingsBridge.h"
#include "app/sound/AudioController.h"
#include "app/sound/TransportController.h"
#include "core/log/Logger.h"
#include "core/settings/SettingsRegistry.h"
#include "core/settings/SettingsStore.h"
#include "platform/NullAudioBackend.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

namespace ostrel::bench {

struct ProgramControllers {
    ProgramControllers()
        : registry(core::buildSettingsRegistry()),
          store(registry),
          settings(store, registry, data.filePath("settings.json"), logger),
          audio(std::make_unique<engine::NullAudioBackend>(), settings, logger),
          transport(audio, logger, &settings) {}

    QTemporaryDir data;
    core::Logger logger;
    core::SettingsRegistry registry;
    core::SettingsStore store;
    app::SettingsBridge settings;
    app::AudioController audio;
    app::TransportController transport;
};

// A benchmark main with an event loop, for the work that waits for it as in the program (the
// background rebuild, the doors' pump).
inline int runWithEventLoop(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace ostrel::bench
