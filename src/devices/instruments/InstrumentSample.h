#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/AudioData.h"

namespace ostrel::engine { inline namespace devices {

// A name that can only name a file directly inside one folder: not empty, no "/", "\", ".." or ":".
bool isPlainFileName(const std::string& name);

// One sound file for an instrument; empty when none was chosen or it cannot be used (then a
// warning naming who owns it: "the Sampler" or "pad 36").
std::shared_ptr<AudioData> loadInstrumentSample(const std::string& fileName, const std::filesystem::path& samplesFolder,
                                                const std::string& who, std::vector<std::string>* warnings);

void reportSkippedSample(std::vector<std::string>* warnings, const std::string& who, const std::string& fileName,
                         const std::string& reason);

} }  // namespace ostrel::engine::devices
