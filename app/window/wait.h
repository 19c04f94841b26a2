#pragma once
// Waiting on the GUI thread without freezing it: a local event loop that keeps painting and
// timers going (user input is held back) until a condition holds.
#include <functional>

namespace tralux::app {

// Runs a local event loop until `done()` is true, checking every few milliseconds; gives up
// after `timeoutMs` (negative: never). Returns done(). With `userInput` the user's clicks and
// keys are delivered too (the caller must be ready for them).
bool WaitDispatching(const std::function<bool()>& done, int timeoutMs = -1, bool userInput = false);
// Dispatches events for `ms` milliseconds.
void PauseDispatching(int ms);

}  // namespace tralux::app
