#pragma once
// WMA output through the platform's audio writer.
#include <cstddef>
#include <cstdint>
#include <string>

namespace tralux {

// Creates the writer for OutputPath; raises JobError(108) when it cannot.
void WmaWriterStart(const std::string& path, int channels, std::uint32_t rate, int kilobitsPerSecond);
std::size_t WmaWriterFeed(const std::uint8_t* samples, std::size_t byteCount);
// Finishes the file; safe when no writer exists.
void WmaWriterClose();

}  // namespace tralux
