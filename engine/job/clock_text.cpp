#include "engine/job/clock_text.h"

#include <cstdio>

namespace tralux {

std::string FormatClock(std::uint64_t s) {
    char buf[32];
    if (s >= 3600)
        std::snprintf(
            buf, sizeof buf, "%llu:%02llu:%02llu", static_cast<unsigned long long>(s / 3600),
            static_cast<unsigned long long>(s / 60 % 60), static_cast<unsigned long long>(s % 60));
    else
        std::snprintf(buf, sizeof buf, "%02llu:%02llu", static_cast<unsigned long long>(s / 60),
                      static_cast<unsigned long long>(s % 60));
    return buf;
}

}  // namespace tralux
