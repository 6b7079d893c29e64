#include "imaging/ImageFormats.h"

#include "imaging/RawFrame.h"

#include <array>
#include <utility>

namespace siderama {

QString imageExtensionForData(const QByteArray& leadingBytes) {
    static const std::array<std::pair<QByteArray, const char*>, 5> signatures{{
        {QByteArrayLiteral("SIMPLE  ="), "fits"},
        {QByteArrayLiteral("\xFF\xD8\xFF"), "jpg"},
        {QByteArrayLiteral("\x89PNG\r\n\x1A\n"), "png"},
        {QByteArrayLiteral("II*\0"), "tiff"},
        {QByteArrayLiteral("MM\0*"), "tiff"},
    }};
    for (const auto& [magic, extension] : signatures) {
        if (leadingBytes.startsWith(magic)) return extension;
    }
    return RawFrame::hasKnownType(leadingBytes) ? "raw" : "";
}

}  // namespace siderama
