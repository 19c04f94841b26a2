#pragma once
// Jobs write an output under a hidden name beside it and move it into place at the end; tests
// that act while a job runs look for that file.
#include <filesystem>
#include <string>

namespace tralux::test {

// The hidden file `output` is being written as ("" while there is none).
inline std::string StagingFileOf(const std::string& output) {
    const std::filesystem::path p(output);
    const std::string prefix = "." + p.filename().string() + ".tralux-";
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(p.parent_path(), ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        if (it->path().filename().string().rfind(prefix, 0) == 0) return it->path().string();
    return {};
}

}  // namespace tralux::test
