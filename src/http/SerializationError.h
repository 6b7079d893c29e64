#pragma once

#include <stdexcept>

namespace http {

// A response body that cannot be turned into bytes.
class SerializationError : public std::runtime_error {
public:
    enum class Kind { invalidObject, notSupported };

    explicit SerializationError(Kind kind)
        : std::runtime_error(kind == Kind::invalidObject ? "invalidObject" : "notSupported"), kind_(kind) {}

    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

}  // namespace http
