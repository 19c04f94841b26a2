#include "mp3dec/frame_finder.h"

#include <algorithm>
#include <cstring>

namespace mp3dec::detail {

size_t InputRing::Feed(const uint8_t* bytes, size_t length) {
    const size_t n = std::min(length, Free());
    size_t write = (read_ + size_) & (kSize - 1);
    size_t done = 0;
    while (done < n) {
        const size_t chunk = std::min(n - done, kSize - write);
        std::memcpy(buf_ + write, bytes + done, chunk);
        done += chunk;
        write = (write + chunk) & (kSize - 1);
    }
    size_ += n;
    return n;
}

void InputRing::Copy(size_t offset, size_t n, uint8_t* out) const {
    size_t pos = (read_ + offset) & (kSize - 1);
    size_t done = 0;
    while (done < n) {
        const size_t chunk = std::min(n - done, kSize - pos);
        std::memcpy(out + done, buf_ + pos, chunk);
        done += chunk;
        pos = (pos + chunk) & (kSize - 1);
    }
}

// The header at `offset` is valid and matches `fixed`, or an ID3 version 1 tag starts there.
bool FrameFinder::Agrees(const InputRing& ring, size_t offset, uint32_t fixed) const {
    const uint32_t word = ring.Word(offset);
    if ((word >> 8) == 0x544147u) return true;  // "TAG"
    FrameHeader next;
    return ParseHeader(word, next) && (word & kFixedHeaderMask) == fixed;
}

Status FrameFinder::Find(InputRing& ring, bool endOfInput, FrameHeader& header, size_t& skipped) {
    skipped = 0;
    if (state_ == kSyncEof) return kSyncEof;
    if (ring.Size() < 4) {
        if (endOfInput) return state_ = kSyncEof;
        return (state_ == kOk || state_ == kSyncNeedData) ? (state_ = kSyncNeedData)
                                                          : (state_ = kSyncSearched);
    }
    if (state_ == kOk || state_ == kSyncNeedData) {
        FrameHeader h;
        if (!ParseHeader(ring.Word(0), h) || (h.raw & kFixedHeaderMask) != fixed_)
            return state_ = kSyncLost;
        const size_t size = ring.Size();
        const size_t frame = static_cast<size_t>(h.frameBytes);
        if (frame + 4 > size) {
            if (!endOfInput) return state_ = kSyncNeedData;
            // After the end of input a complete last frame needs nothing behind it.
            if (frame > size) return state_ = kSyncEof;
        } else if (confirm_ > 0) {
            if (!Agrees(ring, frame, fixed_)) return state_ = kSyncLost;
        }
        if (confirm_ > 0) --confirm_;
        header = h;
        return state_ = kOk;
    }
    // Searching (initial state or after a loss).
    size_t offset = 0;
    const size_t size = ring.Size();
    while (offset + 4 <= size) {
        FrameHeader h;
        if (ParseHeader(ring.Word(offset), h)) {
            const size_t frame = static_cast<size_t>(h.frameBytes);
            if (offset + frame + 4 <= size) {
                if (Agrees(ring, offset + frame, h.raw & kFixedHeaderMask)) {
                    ring.Skip(offset);
                    skipped = offset;
                    fixed_ = h.raw & kFixedHeaderMask;
                    confirm_ = 10;
                    header = h;
                    if (confirm_ > 0) --confirm_;
                    return state_ = kOk;
                }
            } else if (!endOfInput) {
                // Wait for the rest of this candidate frame.
                ring.Skip(offset);
                skipped = offset;
                return state_ = kSyncSearched;
            } else if (offset + frame <= size) {
                // A single complete frame at the very end of the input.
                ring.Skip(offset);
                skipped = offset;
                fixed_ = h.raw & kFixedHeaderMask;
                confirm_ = 0;
                header = h;
                return state_ = kOk;
            }
        }
        ++offset;
    }
    // Keep the last three bytes: they may begin a header.
    const size_t drop = size >= 3 ? size - 3 : 0;
    ring.Skip(drop);
    skipped = drop;
    if (endOfInput) return state_ = kSyncEof;
    return state_ = kSyncSearched;
}

}  // namespace mp3dec::detail
