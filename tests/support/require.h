#pragma once
// Test data and reference tools: a developer's machine may lack them and skip; in CI (the
// environment variable CI is set) a missing one fails the test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace tralux::test {

inline bool InCi() {
    const char* ci = std::getenv("CI");
    return ci && *ci && std::string(ci) != "0" && std::string(ci) != "false";
}

// True when ALSA lists a card (" 0 [PCH ]: ..."); the file exists on every ALSA host and
// reads "--- no soundcards ---" when there is none.
inline bool SoundCardListed() {
    std::ifstream cards("/proc/asound/cards");
    for (std::string line; std::getline(cards, line);) {
        const std::size_t digit = line.find_first_not_of(' ');
        if (digit != std::string::npos && line[digit] >= '0' && line[digit] <= '9' &&
            line.find('[', digit) != std::string::npos)
            return true;
    }
    return false;
}

inline bool ToolPresent(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace tralux::test

// Skips (developer machine) or fails (CI) the current test when `present` is false.
#define TRALUX_REQUIRE(present, what)                                                  \
    do {                                                                               \
        if (!(present)) {                                                              \
            if (::tralux::test::InCi()) FAIL() << (what) << " is missing (CI is set)"; \
            GTEST_SKIP() << (what) << " is missing";                                   \
        }                                                                              \
    } while (0)
#define TRALUX_REQUIRE_TOOL(name) \
    TRALUX_REQUIRE(::tralux::test::ToolPresent(name), std::string(name))
#define TRALUX_REQUIRE_PATH(path) \
    TRALUX_REQUIRE(std::filesystem::exists(path), std::string("test data ") + std::string(path))
