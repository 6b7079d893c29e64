// Feeds arbitrary bytes as a header value with parameters (Content-Type,
// Content-Disposition): what is read is written back quoted and must read
// the same, and valid UTF-8 stays valid.
#include "FuzzSupport.h"
#include "http/HeaderParameters.h"
#include "http/StringHelpers.h"

using namespace http;

namespace {

std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) out += (c == '"' || c == '\\') ? std::string{'\\', c} : std::string{c};
    return out + "\"";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view value = fuzz::input(data, size);
    const HeaderParameters parsed = HeaderParameters::parse(value);
    fuzz::require(parsed.leading().find(';') == std::string::npos && trim(parsed.leading()) == parsed.leading());
    std::string written = parsed.leading();
    for (const auto& [name, text] : parsed.parameters()) {
        fuzz::require(name == toLower(trim(name)) && name.find_first_of("=;") == std::string::npos);
        written += "; " + name + "=" + quoted(text);
    }
    fuzz::require(HeaderParameters::parse(written).parameters() == parsed.parameters());
    if (isValidUtf8(value)) {
        for (const auto& [name, text] : parsed.parameters()) fuzz::require(isValidUtf8(name) && isValidUtf8(text));
        if (const auto fileName = parsed.fileName()) fuzz::require(isValidUtf8(*fileName));
    }
    return 0;
}
