#include "engine/formats/tag_reader.h"

#include <atomic>

namespace tralux {
namespace {

std::atomic<InputTagReader*> g_reader{nullptr};

}  // namespace

void SetInputTagReader(InputTagReader* reader) {
    g_reader.store(reader);
}

void ReadInputTags(const std::string& path, StreamInfo& info) {
    if (InputTagReader* r = g_reader.load()) r->ReadTags(path, info);
}

bool ReadInputCover(const std::string& path, std::string& mime, std::vector<std::uint8_t>& bytes) {
    mime.clear();
    bytes.clear();
    InputTagReader* r = g_reader.load();
    return r && r->ReadCover(path, mime, bytes);
}

}  // namespace tralux
