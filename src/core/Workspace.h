#pragma once

#include <QString>
#include <QStringList>

namespace siderama::Workspace {

// Moves a file to the user's XDG Trash. Returns false when the file is
// missing or could not be moved (never leaves it in a stray "files/" folder).
bool moveToTrash(const QString& path);

// Moves every existing file of the list to the Trash; returns how many went.
int moveToTrash(const QStringList& paths);

}  // namespace siderama::Workspace
