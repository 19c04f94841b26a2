#pragma once
// The image drive: a CUE sheet over raw 2,352-byte sectors, answering the same MMC command
// blocks as a real drive (INQUIRY, TEST UNIT READY, READ CAPACITY, READ TOC format 0 in LBA or
// MSF form, READ CD with formatted Q, READ SUB-CHANNEL for the sheet's CATALOG and ISRC), so
// everything above the transport runs unchanged on images.
//
// TRALUX_CD_JITTER makes it behave like a drive without accurate streaming (see README):
//   seed=N        random seed (default 1), so runs repeat
//   shift=F       the largest distance in sample frames a read lands early or late
//                 (default 1176 = 2 sectors, at most 2940 = 5 sectors)
//   step=F        shifts are multiples of F frames (default 1; 588 = whole sectors)
//   share=P       percent of reads that land off (default 25; the others are exact)
//   fail=P        percent of reads that fail with a medium error (default 0)
//   bad=A-B+C     sectors (absolute LBAs, ranges joined by '+') whose reads always fail
//   attention     the first command after opening answers UNIT ATTENTION
//   speed=N       reads take as long as on an N× drive (1× = 75 sectors a second)
//   short=N       every N-th read transfers less than asked: READ CD answers GOOD and reports
//                 the residue (the rest of the buffer keeps what it held), the raw road fails
// "1" or "on" is all defaults; "", "0" or "off" is no simulation.
//
// TRALUX_CD_SPEED=N paces reads as an N× drive (N × 176,400 bytes a second) without any jitter;
// the jitter's speed=N wins when both are set.
//
// TRALUX_CD_OFFSET=N makes it a drive whose read offset correction is N samples: a read of frame
// F gives the disc's frame F - N, so a reader set to offset N gets the image's exact samples.
// TRALUX_CD_OVERREAD=1 makes it a drive that reads a few sectors past the lead-out (most refuse).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cd/cue.h"
#include "cd/scsi.h"

namespace tralux::cd {

struct JitterSettings {
    bool on = false;
    std::uint64_t seed = 1;
    std::uint32_t maxShiftFrames = 2 * kFramesPerSector;
    std::uint32_t stepFrames = 1;
    double shiftedPercent = 25.0;
    double failPercent = 0.0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> badSectors;  // inclusive ranges
    bool unitAttention = false;
    std::uint32_t shortEvery = 0;  // 0: every transfer is whole
    std::uint32_t speed = 0;       // 0: as fast as the files read
};

constexpr std::uint32_t kMaxJitterFrames = 5 * kFramesPerSector;
constexpr std::uint32_t kOverreadSectors = 10;

bool ParseJitter(std::string_view text, JitterSettings& settings, std::string* error = nullptr);
// A read offset in samples, "-N" or "+N" or "N", within ±kMaxJitterFrames.
bool ParseReadOffset(std::string_view text, std::int32_t& frames);

// A loaded image: the sheet, its files and where every sector of the disc comes from.
struct ImageDisc {
    std::string cuePath;
    CueSheet sheet;
    std::vector<std::string> filePaths;  // resolved beside the sheet
    ImageLayout layout;
};

// Reads and lays out a .cue file (files are looked up beside it). False with a reason.
bool LoadImageDisc(const std::string& cuePath, ImageDisc& disc, std::string* error = nullptr);

class ImageDevice final : public CdDevice {
public:
    // Opens the image's files; nullptr with a reason when a file cannot be read.
    static std::unique_ptr<ImageDevice> Open(const ImageDisc& disc, const JitterSettings& jitter,
                                             std::string* error = nullptr);
    ~ImageDevice() override;

    ScsiOutcome Execute(std::span<const std::uint8_t> cdb, ScsiDirection direction,
                        std::uint8_t* data, std::size_t length) override;
    bool ReadAudio(std::uint32_t lba, std::uint32_t count, std::uint8_t* out) override;

    const DiscToc& Toc() const { return disc_.layout.toc; }
    void SetReadOffset(std::int32_t frames) { readOffset_ = frames; }
    // Reads of up to kOverreadSectors past the lead-out are served (the image's samples that a
    // read offset brings there, silence beyond) instead of refused, as some drives do.
    void SetOverread(bool on) { overread_ = on; }
    // Reads of READ CD and the raw road so far, and the shifts they were given (tests).
    std::uint64_t Reads() const { return reads_; }
    const std::vector<std::int32_t>& Shifts() const { return shifts_; }

    // How many image devices are open in the process (tests: a stopped rip closes its drive).
    static int OpenCount();

    // The exact bytes of `frames` sample frames from absolute frame `first` (lead-in and
    // lead-out read as silence). No jitter, never fails.
    void ReadFrames(std::int64_t first, std::uint32_t frames, std::uint8_t* out) const;

private:
    ImageDevice(const ImageDisc& disc, const JitterSettings& jitter);
    // One read as a drive would do it: false for a failure; `shift` receives the landing error.
    bool JitteredRead(std::uint32_t lba, std::uint32_t count, std::uint8_t* out);
    // True when this transfer is to come up short (short=N).
    bool ShortTransfer();
    // The end of what READ CD and the raw road serve (exclusive).
    std::uint64_t ReadableEnd() const {
        return std::uint64_t{disc_.layout.toc.leadOutLba} + (overread_ ? kOverreadSectors : 0);
    }
    // The formatted Q block a pressed disc would carry at `lba`.
    void QBlock(std::int64_t lba, std::uint8_t* out) const;
    // Waits until `sectors` more would have been read at the set speed.
    void Pace(std::uint32_t sectors);

    ImageDisc disc_;
    JitterSettings jitter_;
    std::vector<int> fds_;
    std::mt19937_64 rng_;
    bool attentionPending_ = false;
    std::uint64_t reads_ = 0;
    std::int32_t readOffset_ = 0;
    bool overread_ = false;
    std::uint64_t transfers_ = 0;  // reads counted for short=N
    std::vector<std::int32_t> shifts_;
    std::vector<std::uint32_t> index0_;  // per TOC track, where its INDEX 00 lies
    std::chrono::steady_clock::time_point paceNext_{};
    static std::atomic<int> openCount_;
};

}  // namespace tralux::cd
