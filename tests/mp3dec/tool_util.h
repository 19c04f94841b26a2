// Reference peers (sox, lame, ffmpeg, mpg123) run from the tests; tests skip when one is missing.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "decode_util.h"

namespace mp3test {

inline bool HaveTool(const std::string& name) {
    return std::system(("command -v " + name + " > /dev/null 2>&1").c_str()) == 0;
}

inline bool Run(const std::string& cmd) {
    return std::system((cmd + " > /dev/null 2>&1").c_str()) == 0;
}

// A fresh directory under the system temp folder, removed with the object.
class TempDir {
public:
    TempDir() {
        std::string templ =
            (std::filesystem::temp_directory_path() / "mp3dec_test_XXXXXX").string();
        std::vector<char> buf(templ.begin(), templ.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data())) path_ = buf.data();
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A peer's decoding of a file as interleaved 16-bit PCM: ffmpeg's, or mpg123's when `mpg123`.
inline std::vector<int16_t> FfmpegDecode(const std::string& mp3, const std::string& raw,
                                         bool mpg123 = false) {
    std::vector<int16_t> pcm;
    const std::string cmd =
        mpg123 ? "mpg123 -q -s '" + mp3 + "' > '" + raw + "'"
               : "ffmpeg -v error -y -i '" + mp3 + "' -f s16le -acodec pcm_s16le '" + raw + "'";
    if (std::system((cmd + " 2>/dev/null").c_str()) != 0) return pcm;
    const auto bytes = ReadFile(raw);
    pcm.resize(bytes.size() / 2);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = int16_t(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return pcm;
}

}  // namespace mp3test
