#pragma once

#include "remote/UploadFiles.h"

namespace testsupport {
// The remote service's upload folder with a final "/", as the service names it (empty and "/" when it has none).
inline QString uploadFolder() { return siderama::UploadFiles::directory().value_or(QString()) + "/"; }
}  // namespace testsupport
