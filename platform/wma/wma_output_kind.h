#pragma once
// The WMA output kind, written through WmaFileWriter.
namespace tralux::platform {

// Adds WMA to the engine's output table; front ends call it once at startup (repeats are
// harmless).
void RegisterWmaOutput();

}  // namespace tralux::platform
