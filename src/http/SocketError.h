#pragma once

#include <stdexcept>
#include <string>

namespace http {

// Failure of a socket operation. what() prints the case name followed by the
// system's error text in parentheses and double quotes, e.g.
// writeFailed("Broken pipe").
class SocketError : public std::runtime_error {
public:
    enum class Kind {
        socketCreationFailed,
        socketSettingReUseAddrFailed,
        bindFailed,
        listenFailed,
        writeFailed,
        getPeerNameFailed,
        getNameInfoFailed,
        acceptFailed,
        recvFailed,
        convertingPeerNameFailed,
        handshakeFailed,
    };

    SocketError(Kind kind, std::string message, int errorNumber = 0);

    // Builds the error from the current errno (taken before any clean-up).
    static SocketError fromErrno(Kind kind);

    Kind kind() const { return kind_; }
    const std::string& message() const { return message_; }
    int errorNumber() const { return errorNumber_; }

    static const char* name(Kind kind);

private:
    Kind kind_;
    std::string message_;
    int errorNumber_;
};

}  // namespace http
