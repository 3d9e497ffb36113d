#include "app/project/SoundFileCache.h"

#include "AppTestSupport.h"
#include "audiofile/WavWriter.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

using namespace ostrel;
using namespace ostrel::app;
using namespace ostrel::test;

namespace {

void writeSound(const std::filesystem::path& path, std::vector<float> samples, int channels, std::uint32_t rate) {
    std::string error;
    ASSERT_TRUE(engine::writeWavFile(path, samples, channels, rate, engine::WavFormat::Float32, &error)) << error;
}

struct CacheRig {
    TempDir dir;
    SoundFileCache cache;
    QString folder() const { return qPath(dir.path()); }
};

TEST(SoundFileCache, AReadableFileGivesItsLengthAndFourHundredPeaks) {
    CacheRig rig;
    // Stereo, 800 frames at 8 kHz: the first half quiet, the second loud on the right.
    std::vector<float> samples;
    for (int i = 0; i < 800; ++i) {
        samples.push_back(0.1f);
        samples.push_back(i < 400 ? -0.2f : -0.75f);
    }
    writeSound(rig.dir / "tone.wav", samples, 2, 8000);
    QString error;
    const std::optional<SoundFileInfo> info = rig.cache.read(rig.folder(), "tone.wav", &error);
    ASSERT_TRUE(info.has_value()) << error.toStdString();
    EXPECT_EQ(info->seconds, 0.1);
    ASSERT_EQ(info->peaks.size(), SoundFileCache::kPeakBins);
    EXPECT_EQ(info->peaks.front().toDouble(), static_cast<double>(0.2f));
    EXPECT_EQ(info->peaks.back().toDouble(), 0.75);
    EXPECT_TRUE(error.isEmpty());
}

TEST(SoundFileCache, AFileIsReadOnceUntilCleared) {
    CacheRig rig;
    writeSound(rig.dir / "kick.wav", std::vector<float>(4800, 0.5f), 1, 48000);
    ASSERT_TRUE(rig.cache.read(rig.folder(), "kick.wav", nullptr).has_value());
    std::filesystem::remove(rig.dir / "kick.wav");
    const std::optional<SoundFileInfo> again = rig.cache.read(rig.folder(), "kick.wav", nullptr);
    ASSERT_TRUE(again.has_value()) << "served from the cache";
    EXPECT_EQ(again->seconds, 0.1);
    rig.cache.clear();
    EXPECT_FALSE(rig.cache.read(rig.folder(), "kick.wav", nullptr).has_value());
}

TEST(SoundFileCache, AMissingFileIsAskedFromTheDiskOnceUntilCleared) {
    CacheRig rig;
    QString error;
    EXPECT_FALSE(rig.cache.read(rig.folder(), "late.wav", &error).has_value());
    const QString missing = "The sound file late.wav could not be read: the file \"late.wav\" could not be opened: No "
                            "such file or directory";
    EXPECT_EQ(error, missing);

    // Asked again, the reason is given again.
    writeSound(rig.dir / "late.wav", std::vector<float>(480, 0.5f), 1, 48000);
    EXPECT_FALSE(rig.cache.read(rig.folder(), "late.wav", &error).has_value());
    EXPECT_EQ(error, missing);

    rig.cache.clear();
    EXPECT_TRUE(rig.cache.read(rig.folder(), "late.wav", &error).has_value());
}

TEST(SoundFileCache, NamesThatAreNotPlainAreRefusedWithoutTouchingTheDisk) {
    CacheRig rig;
    std::filesystem::create_directories(rig.dir / "sub");
    writeSound(rig.dir / "sub" / "kick.wav", std::vector<float>(48, 0.5f), 1, 48000);
    writeSound(rig.dir / "kick.wav", std::vector<float>(48, 0.5f), 1, 48000);
    for (const QString& name : {QString("../kick.wav"), QString("sub/kick.wav"), QString("c:kick.wav"), QString(),
                                QString("sub\\kick.wav"), QString("a..b.wav")}) {
        EXPECT_FALSE(SoundFileCache::isPlainName(name)) << name.toStdString();
        QString error;
        EXPECT_FALSE(rig.cache.read(rig.folder(), name, &error).has_value()) << name.toStdString();
        EXPECT_EQ(error, QString("%1 is not a plain file name.").arg(name));
        EXPECT_FALSE(rig.cache.read(rig.folder(), name, &error).has_value());
        EXPECT_EQ(error, QString("%1 is not a plain file name.").arg(name));
    }
    EXPECT_TRUE(SoundFileCache::isPlainName("kick.wav"));
    EXPECT_TRUE(rig.cache.read(rig.folder(), "kick.wav", nullptr).has_value());
}

TEST(SoundFileCache, AFileThatIsNoWaveIsUnreadable) {
    CacheRig rig;
    writeFile(rig.dir / "notes.wav", "not a wave file");
    QString error;
    EXPECT_FALSE(rig.cache.read(rig.folder(), "notes.wav", &error).has_value());
    EXPECT_TRUE(error.startsWith("The sound file notes.wav could not be read: "));
}

}  // namespace
