#pragma once

#include <QString>

namespace siderama {

// Writes a plate solution into a FITS file's own primary header: the WCS
// and SIP cards of a solve-field .wcs file replace the cards of any older
// WCS, a HISTORY card tells when and by what it was solved, every other card
// stays in place, and the bytes after the header (the data unit and any
// extensions) are copied unchanged. The new file is written beside the old
// one, synced and renamed over it, so a crash or a full disk leaves one of
// the two whole.
class WcsHeaderWriter {
public:
    // "" when written; otherwise why the file was left alone (read-only,
    // compressed, not FITS, changed during the solve, a failed write).
    static QString write(const QString& fitsFile, const QString& wcsFile);

    // Whether the file's header holds a WCS this writer put there.
    static bool carriesOwnWcs(const QString& fitsFile);

    // The start of the HISTORY card that marks a written solution.
    static constexpr const char* historyMark = "Siderama WCS";
};

}  // namespace siderama
