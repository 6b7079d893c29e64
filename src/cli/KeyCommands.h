#pragma once

#include <QString>

namespace siderama {

// Terminal commands for the API keys of the solving service (ApiKeys):
//   --add-key NAME     prints a new key for NAME; its last line is the key alone
//   --list-keys        the names, the operator's first
//   --remove-key NAME  the key stops working, with its sessions
// Returns the exit status: 0 on success, 1 when the command failed.
int runKeyCommand(const QString& option, const QString& name);

}  // namespace siderama
