#include "cd/toc.h"

namespace tralux {

// Replaced by the transport once drives exist.
bool ReadDiscToc(const std::string&, DiscToc& toc) {
    toc = DiscToc{};
    return false;
}

}  // namespace tralux
