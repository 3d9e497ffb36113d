#include "devices/instruments/InstrumentSample.h"

#include "audiofile/WavReader.h"

namespace ostrel::engine { inline namespace devices {

void reportSkippedSample(std::vector<std::string>* warnings, const std::string& who, const std::string& fileName,
                         const std::string& reason) {
    if (warnings != nullptr) {
        warnings->push_back(who + ": the sound file \"" + fileName + "\" could not be used (" + reason + "); skipped");
    }
}

bool isPlainFileName(const std::string& name) {
    return !name.empty() && name.find('/') == std::string::npos && name.find('\\') == std::string::npos &&
           name.find("..") == std::string::npos && name.find(':') == std::string::npos;
}

std::shared_ptr<AudioData> loadInstrumentSample(const std::string& fileName, const std::filesystem::path& samplesFolder,
                                                const std::string& who, std::vector<std::string>* warnings) {
    if (fileName.empty()) {
        return nullptr;
    }
    if (!isPlainFileName(fileName)) {
        reportSkippedSample(warnings, who, fileName, "not a plain file name");
        return nullptr;
    }
    if (samplesFolder.empty()) {
        reportSkippedSample(warnings, who, fileName, "no samples folder");
        return nullptr;
    }
    auto data = std::make_shared<AudioData>();
    std::string error;
    if (!loadWavFile(samplesFolder / fileName, *data, &error)) {
        reportSkippedSample(warnings, who, fileName, error);
        return nullptr;
    }
    return data;
}

} }  // namespace ostrel::engine::devices
