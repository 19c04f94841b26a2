#pragma once
// Input detection and the RIFF readers (WAV and .cda track files).
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/job/file.h"
#include "engine/job/stream_info.h"

namespace tralux {

inline constexpr const char* kRealMediaMessage =
    "Tralux no longer supports RealAudio or RealMedia decoding.";

// Tells a supported input apart and describes it, tags included (ID3v2/ID3v1, LIST/INFO).
// False with LastError 103 (cannot open),
// 105 (unknown format), or 0 (RealMedia, or a file-object failure).
bool ProbeInput(const std::string& path, StreamInfo& info);

// Where this thread's probe refusals go (a job's worker: its own LastError); null: Engine().
void SetProbeErrorTarget(std::atomic<int>* target);

// When the path names no file, the same path with one blank after its last '/' (the old
// shell habit of "folder/ name"); used only when that one exists.
std::string RepairInputPath(const std::string& path);

// Reads the rest of a RIFF file whose first four bytes were consumed. False for a RIFF file
// that is neither a usable WAV nor a .cda (LastError 102, 105 or 112 for WAV forms).
bool ReadRiffInput(File& file, StreamInfo& info, bool clear);

// True when the stored samples must be converted before the pipeline (24/32-bit, float).
bool NeedsSampleConversion(const StreamInfo& info);
// Stored bytes per sample frame.
inline std::uint32_t StoredFrameBytes(const StreamInfo& info) {
    return info.BlockAlign;
}
// Converts `frames` stored frames into 16-bit interleaved samples (rounded, clipped).
void ConvertStoredSamples(const std::uint8_t* in, std::size_t frames, const StreamInfo& info,
                          std::int16_t* out);
// The same mixdown of StoredChannels to two on full-range 32-bit samples (deep sources).
void MixStoredChannelsWide(const std::int32_t* in, std::size_t frames, const StreamInfo& info,
                           std::int32_t* out);

// CD information for a .cda input: fills Artist/Title/Copyright when the disc is known.
// Installed by the CD information subsystem; absent, the default title stays.
using CdInfoProvider = std::function<void(StreamInfo& info)>;
void SetCdInfoProvider(CdInfoProvider provider);

}  // namespace tralux
