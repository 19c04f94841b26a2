#pragma once
// MP3 input: the MPEG probe, the decoder pair of the job, and the decoding source loop.
#include <cstddef>
#include <string>

#include "engine/job/file.h"
#include "engine/job/stream_info.h"

namespace tralux {

// Probes the file from its start; fills info (Kind "MP3_" when clear is set).
bool ProbeMp3(File& file, StreamInfo& info, bool clear);
// Creates / releases the job's decoder pair. Close is safe to call twice.
bool Mp3InputOpen();
void Mp3InputClose();
// Decodes the whole stream (from StartMs) into ProcessBlock; returns the bytes emitted.
std::size_t Mp3SourceLoop(File& file, const StreamInfo& info);
// ID3 version 1 texts from the last 128 bytes; the file position is kept.
bool ReadId3v1(File& file, std::string& title, std::string& artist, std::string& comment);

}  // namespace tralux
