#pragma once
// Tags of an input file. The engine reads none itself beyond what its probes see: a reader
// installed by the front end (TagLib on the platform layer) fills the texts and finds covers.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/job/stream_info.h"

namespace tralux {

class InputTagReader {
public:
    virtual ~InputTagReader() = default;
    // Fills the tag texts of `info` from the file's tags, keeping what the probe found where
    // a tag has nothing; `info.Kind` says which tags to look for. Never throws.
    virtual void ReadTags(const std::string& path, StreamInfo& info) = 0;
    // The file's front cover; false when it has none. Never throws.
    virtual bool ReadCover(const std::string& path, std::string& mime,
                           std::vector<std::uint8_t>& bytes) = 0;
};

// Installs the reader (startup; it must outlive every job). Null: no tags are read.
void SetInputTagReader(InputTagReader* reader);

// Through the installed reader; without one nothing changes and there is no cover.
void ReadInputTags(const std::string& path, StreamInfo& info);
bool ReadInputCover(const std::string& path, std::string& mime, std::vector<std::uint8_t>& bytes);

}  // namespace tralux
