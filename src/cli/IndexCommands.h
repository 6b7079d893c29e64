#pragma once

#include "indexes/DownloadPolicy.h"

#include <QString>
#include <QStringList>

namespace siderama {

// Terminal commands of the index manager:
//   --indexes              list the catalogue keys with their state
//   --fetch-index KEY...   install the keys' files (progress on stderr)
//   --fetch-index [KEY...] --for-field WIDTH
//                          ... and those of the keys that suit a field WIDTH
//                          wide (degrees, arcminutes with ', or "last")
//   --remove-index KEY...  move the keys' files to the Trash
// KEY is a catalogue key ("index-4119.fits", "index-4207-*.fits") or its
// number alone ("4119", "4207").

// Runs the first index option found in `arguments` (the program name may
// lead) on the index directory FOLDER, or on `folder`, and returns the exit
// status: 0 when every key ended in the state asked for, 1 when not, 2 for
// bad usage. Needs a Q(Core)Application; runs its own event loop while
// files download.
int runIndexCommand(const QStringList& arguments);
int runIndexCommand(const QStringList& arguments, const QString& folder, const DownloadPolicy& policy = {});

}  // namespace siderama
