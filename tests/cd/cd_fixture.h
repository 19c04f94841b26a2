#pragma once
// Shared set-up of the CD tests: image drives named through the environment, a sink that keeps
// what the reader delivers, and the .cda record of a track as the probe makes it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <stdexcept>
#include <string>

#include "cd/drives.h"
#include "cd/reader.h"
#include "engine/formats/riff_reader.h"
#include "image_builder.h"
#include "platform/notify/notifier.h"

namespace tralux::test {

class CollectSink final : public cd::CdSink {
public:
    void Block(std::uint8_t* data, std::size_t bytes) override {
        if (stopAfter >= 0 && blocks == stopAfter) throw std::runtime_error("stopped");
        ++blocks;
        bytes_.insert(bytes_.end(), data, data + bytes);
        // The engine mixes channels in place: the reader must not rely on the bytes afterwards.
        std::fill(data, data + bytes, 0xA5);
    }
    void Finish() override { finished = true; }
    const Bytes& bytes() const { return bytes_; }
    int blocks = 0;
    int stopAfter = -1;
    bool finished = false;

private:
    Bytes bytes_;
};

class CdTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetNotifier(&notes_);
        cd::SetCdDriveSourceForTesting({});
        unsetenv("TRALUX_CD_JITTER");
    }
    void TearDown() override {
        cd::SetCdDriveSourceForTesting({});
        unsetenv("TRALUX_CD_IMAGES");
        unsetenv("TRALUX_CD_JITTER");
        SetNotifier(nullptr);
    }
    // The images become the drives after the real ones; with no real drive, D:, E:, ...
    void UseImages(const std::string& cues) { setenv("TRALUX_CD_IMAGES", cues.c_str(), 1); }
    void Jitter(const std::string& text) { setenv("TRALUX_CD_JITTER", text.c_str(), 1); }
    // Letter of the first image drive (after any real /dev/sr* of the machine).
    char FirstImageLetter() {
        for (const cd::CdDriveSlot& s : cd::ListCdDrives())
            if (s.image) return s.letter;
        return 0;
    }
    StreamInfo Track(char letter, int n) {
        StreamInfo info;
        char path[32];
        std::snprintf(path, sizeof path, "%c:/Track%02d.cda", letter, n);
        EXPECT_TRUE(ProbeInput(path, info)) << path;
        return info;
    }
    Bytes Rip(char letter, int n, bool jitter, std::uint32_t startMs = 0) {
        StreamInfo info = Track(letter, n);
        CollectSink sink;
        cd::CdRipTrack(sink, info, {startMs, jitter});
        EXPECT_TRUE(sink.finished);
        return sink.bytes();
    }

    TempDir dir_;
    RecordingNotifier notes_;
};

// First differing byte, for readable failures.
inline std::string FirstDifference(const Bytes& a, const Bytes& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i)
        if (a[i] != b[i])
            return "first difference at byte " + std::to_string(i) + " (frame " +
                   std::to_string(i / 4) + ")";
    return a.size() == b.size()
               ? "equal"
               : "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size());
}

}  // namespace tralux::test
