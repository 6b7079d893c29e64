#pragma once

#include <QString>

namespace siderama {

// Text a client chose (a file name, a header) as it may appear in the log:
// control characters (C0, DEL, C1), line and paragraph separators and
// bidirectional controls become "\u{XXXX}", so that no client can break a
// line or forge one by reordering what is shown.
class ClientText {
public:
    static QString forLog(const QString& text);
};

}  // namespace siderama
