#include "engine/outputs/wma_output.h"

#include "engine/job/errors.h"

// Placeholder until the WMA writer lands: starting a WMA output fails cleanly.
namespace tralux {

void WmaWriterStart(const std::string&, int, std::uint32_t, int) { throw JobError(kErrCodecInit); }
std::size_t WmaWriterFeed(const std::uint8_t*, std::size_t) { throw JobError(kErrCodecInit); }
void WmaWriterClose() {}

}  // namespace tralux
