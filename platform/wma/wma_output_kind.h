#pragma once
// The WMA output kind, written through WmaFileWriter.
namespace tralux {
struct OutputKind;
}

namespace tralux::platform {

// Adds WMA to the engine's output table; front ends call it once at startup (repeats are
// harmless).
void RegisterWmaOutput();
// The kind's table line (what the media module hands the front ends).
OutputKind WmaOutputKind();

}  // namespace tralux::platform
