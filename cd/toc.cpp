#include "cd/toc.h"

#include "cd/drives.h"

namespace tralux {

// READ TOC (format 0, LBA form) through the drive's command interface: a CD device over SG_IO
// or an image drive.
bool ReadDiscToc(const std::string& root, DiscToc& toc) {
    return cd::ReadDiscTocWithReason(root, toc, nullptr);
}

}  // namespace tralux
