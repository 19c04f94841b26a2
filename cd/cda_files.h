#pragma once
// The `.cda` entries of a CD drive's root: "D:/Track03.cda" is not on any disk; listing "*.cda" in
// "D:/" yields one entry per audio track of the disc, and opening one yields the 44-byte RIFF/CDDA
// file built from the table of contents, so the probe, the job and the batch
// enumeration treat them like the files the original platform showed.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cd/toc.h"

namespace tralux::cd {

constexpr std::size_t kCdaFileBytes = 44;

// "D:/Track03.cda", "d:\track03.CDA": drive D, track 3. False for anything else.
bool ParseCdaPath(std::string_view path, char& letter, int& track);

// The 44 bytes of the track's .cda file: track number, serial (read and ignored), first
// sector (absolute LBA), length in sectors, start (absolute MSF, 150-frame lead-in included)
// and length as frame/second/minute bytes. False when the track is not an audio track of `toc`.
bool BuildCdaFile(const DiscToc& toc, int track, std::uint32_t serial, std::string& bytes);

// The .cda entries of a drive root ("D:/", "D:\", "D:"): full paths "D:/TrackNN.cda" for the
// audio tracks, in disc order. Empty when there is no such drive or no audio disc in it.
std::vector<std::string> ListCdaFiles(const std::string& root);

// What a drive root holds, for the Rip CD flow's messages ("please insert an audio CD", "this CD
// is not an audio CD"). `reason` tells why a drive is unusable or empty.
enum class CdRootState { NoSuchDrive, Unusable, NoDisc, NotAudio, Audio };
CdRootState InspectCdRoot(const std::string& root, std::string* reason = nullptr);

// The bytes of a synthesized .cda path; false when the drive, the disc or the track is missing.
bool SynthesizeCdaFile(const std::string& path, std::string& bytes);

}  // namespace tralux::cd
