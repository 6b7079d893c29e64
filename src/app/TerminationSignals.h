#pragma once

namespace siderama {

// Makes SIGINT and SIGTERM quit the Qt event loop cleanly (the handler only
// writes to a pipe that the event loop watches).
void quitOnTerminationSignals();

}  // namespace siderama
