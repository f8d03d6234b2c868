#pragma once

#include "TestDisplay.h"
#include "TestEnvironment.h"

#include <chrono>

namespace murmelo::test {

// Starts a private headless sway among `children`, its folders under `environment`'s root (its
// log: setpriv.log there), and points the environment's WAYLAND_DISPLAY and SWAYSOCK at it, so
// that this process and what it starts reach it as a user's clients would. False when it was not
// ready within `limit`. sway refuses root: as root it runs as nobody, in a runtime folder of its
// own that clients reach by absolute paths.
bool startHeadlessSway(TestEnvironment& environment, ChildProcesses& children,
                       std::chrono::milliseconds limit = std::chrono::seconds(15));

} // namespace murmelo::test
