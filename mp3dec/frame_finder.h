// The decoder's input ring and the frame-synchronisation state machine.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mp3dec/frame_header.h"
#include "mp3dec/mp3dec.h"

namespace mp3dec::detail {

class InputRing {
public:
    static constexpr size_t kSize = kInputRingBytes;  // a power of two
    void Clear() { read_ = 0, size_ = 0; }
    size_t Size() const { return size_; }
    size_t Free() const { return kSize - size_; }
    size_t Feed(const uint8_t* bytes, size_t length);
    uint8_t At(size_t offset) const { return buf_[(read_ + offset) & (kSize - 1)]; }
    uint32_t Word(size_t offset) const {
        return (uint32_t(At(offset)) << 24) | (uint32_t(At(offset + 1)) << 16) |
               (uint32_t(At(offset + 2)) << 8) | At(offset + 3);
    }
    void Skip(size_t n) {
        read_ = (read_ + n) & (kSize - 1);
        size_ -= n;
    }
    void Copy(size_t offset, size_t n, uint8_t* out) const;

private:
    uint8_t buf_[kSize];
    size_t read_ = 0;
    size_t size_ = 0;
};

// Synchronisation: search for two agreeing headers, then verify each frame's header (and,
// for the first ten frames, the header after it).
class FrameFinder {
public:
    void Reset() {
        state_ = kSyncSearched;
        fixed_ = 0;
        confirm_ = 0;
    }
    // On kOk the frame starts at the ring's read position and is complete in the ring.
    // `skipped` counts the bytes dropped while searching.
    Status Find(InputRing& ring, bool endOfInput, FrameHeader& header, size_t& skipped);
    Status state() const { return state_; }

private:
    bool Agrees(const InputRing& ring, size_t offset, uint32_t fixed) const;
    Status state_ = kSyncSearched;
    uint32_t fixed_ = 0;
    int confirm_ = 0;
};

}  // namespace mp3dec::detail
