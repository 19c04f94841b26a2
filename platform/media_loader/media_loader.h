#pragma once
// WMA, FLAC and Opus output and the media input (every file our own readers refuse) live in
// the media module, loaded on first use: a WAV or MP3 job never pays for loading FFmpeg and
// its many libraries. The table lines are there from the start, so lists and help show them.
#include <string>
#include <vector>

namespace tralux::platform {

// Adds the four kinds to the engine's tables; their first use loads the module. Front ends
// call it once at startup (repeats are harmless).
void RegisterMediaKinds();

// Loads the module now (once per process; later calls report the first outcome). Empty when
// it is loaded, else why not: the file looked for and the system's reason.
std::string LoadMediaModule();

// The module's file: TRALUX_MEDIA_MODULE when set (and then only that), else beside the
// the executable's lib directory (<exe dir>/../lib/.../tralux), then the installed one.
std::vector<std::string> MediaModuleCandidates();

}  // namespace tralux::platform
