#include "solver/SolverState.h"

namespace siderama {

QString statusWord(SolverStatus status) {
    switch (status) {
    case SolverStatus::busy: return "busy";
    case SolverStatus::done: return "done";
    case SolverStatus::failed: return "failed";
    case SolverStatus::ready: break;
    }
    return "ready";
}

}  // namespace siderama
