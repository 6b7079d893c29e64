#pragma once

#include <QString>
#include <chrono>
#include <functional>

namespace testsupport {
// Processes Qt events until `done` returns true or `timeout` passes.
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(10));

// The file's bytes; empty when it cannot be read.
QByteArray readFile(const QString& path);

// Writes an executable shell script (a stand-in tool) and returns its path.
QString writeScript(const QString& directory, const QString& name, const QByteArray& body);

// Writes the four stand-in tools into `directory`. Each leaves the files the
// real tool leaves; image2xy runs `image2xyFirst` first, wcsinfo prints
// `wcsinfo`; with `calls`, each appends "NAME ARGUMENTS" to that file.
extern const QByteArray orionCalibration;  // ra 83.8, dec -5.4, orientation 150, pixscale 36.01
void writeStandInTools(const QString& directory, const QByteArray& image2xyFirst = {},
                       const QByteArray& wcsinfo = orionCalibration, const QString& calls = {});

// The real plate-solving tools (the build tree's tool links) and the built program.
QString realToolsDirectory();
QString sideramaExecutable();

// Links the distribution's Tycho-2 index files into `folder` as
// index-4110.fits ... index-4119.fits; false when they are not installed.
bool linkTycho2Indexes(const QString& folder);
}  // namespace testsupport
