#pragma once
// Connects the CD information lookup to the engine's .cda reader: a .cda input gets the disc
// title as its Artist, the extended disc data as its Copyright and its track's title as its
// Title.
//
// Only a thread that registered its dialogs (the user interface thread, or the CLI's main
// thread) may ask the server and the user; every other thread, a conversion job's worker
// above all, reads the cache only.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "cddb/cd_info.h"
#include "cddb/lookup.h"

namespace tralux::cddb {

// Installs the provider into the engine's .cda reader.
void InstallCdInfoProvider();

// The dialogs of the calling thread; null removes them (the thread then reads the cache only).
void SetThreadUi(CddbUi* ui);
CddbUi* ThreadUi();

// While one lives, .cda inputs probed on this thread get no CD information at all (a front end
// that names and tags the tracks itself, from one lookup of the whole disc).
class ScopedCdInfoOff {
public:
    ScopedCdInfoOff();
    ~ScopedCdInfoOff();
    ScopedCdInfoOff(const ScopedCdInfoOff&) = delete;
    ScopedCdInfoOff& operator=(const ScopedCdInfoOff&) = delete;

private:
    bool previous_;
};

// Titles the disc in the drive at `root` carries itself (CD-Text); installed by the CD layer.
using CdTextSource =
    std::function<std::optional<CdInfo>(const std::string& root, std::size_t trackCount)>;
void SetCdTextSource(CdTextSource source);
// The drives' own: READ TOC format 5 of a real drive, the TITLE/PERFORMER lines of an image
// drive's sheet. Installed by InstallCdInfoProvider when no other source is set.
std::optional<CdInfo> DriveCdText(const std::string& root, std::size_t trackCount);
std::optional<CdInfo> ReadCdText(const std::string& root, std::size_t trackCount);

// Pauses of the lookup's progress (the window keeps the defaults; a terminal needs none).
void SetLookupTiming(LookupTiming timing);

// The texts of track `trackNumber` of the disc in the drive at `root` ("D:"), filled as the
// .cda reader fills them. False when the disc is unknown or could not be read.
// A disc is asked about once per run: what a lookup found (even nothing) is kept for the
// process and used when the cache has no entry, so a probe after a probe never asks again.
bool LookupDiscTrack(const std::string& root, int trackNumber, TrackTexts& texts);

// The whole disc in the drive at `root`: the lookup's result, the placeholder titles when it
// found nothing, or an empty record (no tracks) when the disc cannot be read. `refresh` asks
// the server again whatever the cache and this run already know.
CdInfo LookupDisc(const std::string& root, bool refresh = false);

// Forgets what this run found about discs (tests; a new disc session).
void ForgetRunLookups();

}  // namespace tralux::cddb
