// Feeds arbitrary bytes as a header value with parameters (Content-Type, Content-Disposition): what is read,
// written back quoted, reads the same, and valid UTF-8 stays valid.
#include "FuzzSupport.h"
#include "http/HeaderParameters.h"
#include "http/StringHelpers.h"

using namespace http;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view value = fuzz::input(data, size);
    const HeaderParameters parsed = HeaderParameters::parse(value);
    fuzz::require(parsed.leading().find(';') == std::string::npos && trim(parsed.leading()) == parsed.leading());
    const bool utf8 = isValidUtf8(value);
    std::string written = parsed.leading();
    for (const auto& [name, text] : parsed.parameters()) {
        fuzz::require(name == toLower(trim(name)) && name.find_first_of("=;") == std::string::npos);
        fuzz::require(!utf8 || (isValidUtf8(name) && isValidUtf8(text)));
        written += "; " + name + "=\"";
        for (const char c : text) written += (c == '"' || c == '\\') ? std::string{'\\', c} : std::string{c};
        written += '"';
    }
    fuzz::require(HeaderParameters::parse(written).parameters() == parsed.parameters());
    fuzz::require(!utf8 || isValidUtf8(parsed.fileName().value_or("")));
    return 0;
}
