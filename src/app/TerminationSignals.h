#pragma once

namespace siderama {

// Makes SIGINT, SIGTERM and SIGHUP quit the Qt event loop, so the program
// ends through its destructors and ends its tools (the handler only writes
// to a pipe that the event loop watches). Should the clean exit take longer
// than `exitGrace` seconds, the process ends anyway.
inline constexpr unsigned exitGrace = 20;
void quitOnTerminationSignals();

}  // namespace siderama
