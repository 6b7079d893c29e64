#pragma once

#include <QString>
#include <chrono>
#include <functional>

namespace testsupport {

// The private home that the test main created for this process.
QString tempHome();

// Processes Qt events until `done` returns true or `timeout` passes.
bool waitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Writes an executable shell script (a stand-in tool) and returns its path.
QString writeScript(const QString& directory, const QString& name, const QByteArray& body);

// Directory of the real plate-solving tools (the build tree's tool links).
QString realToolsDirectory();

// Links the Tycho-2 index files of the distribution into `folder` as
// index-4110.fits ... index-4119.fits. Returns the number linked.
int linkTycho2Indexes(const QString& folder);

}  // namespace testsupport
