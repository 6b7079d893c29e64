#include "http/SocketError.h"

#include <cerrno>
#include <cstring>

namespace http {

namespace {

std::string describe(SocketError::Kind kind, const std::string& message) {
    if (kind == SocketError::Kind::convertingPeerNameFailed) return SocketError::name(kind);
    return std::string(SocketError::name(kind)) + "(\"" + message + "\")";
}

}  // namespace

SocketError::SocketError(Kind kind, std::string message, int errorNumber)
    : std::runtime_error(describe(kind, message)),
      kind_(kind),
      message_(std::move(message)),
      errorNumber_(errorNumber) {}

SocketError SocketError::fromErrno(Kind kind) {
    const int error = errno;
    return SocketError(kind, std::strerror(error), error);
}

const char* SocketError::name(Kind kind) {
    switch (kind) {
    case Kind::socketCreationFailed: return "socketCreationFailed";
    case Kind::socketSettingReUseAddrFailed: return "socketSettingReUseAddrFailed";
    case Kind::bindFailed: return "bindFailed";
    case Kind::listenFailed: return "listenFailed";
    case Kind::writeFailed: return "writeFailed";
    case Kind::getPeerNameFailed: return "getPeerNameFailed";
    case Kind::getNameInfoFailed: return "getNameInfoFailed";
    case Kind::acceptFailed: return "acceptFailed";
    case Kind::recvFailed: return "recvFailed";
    case Kind::convertingPeerNameFailed: return "convertingPeerNameFailed";
    case Kind::handshakeFailed: return "handshakeFailed";
    }
    return "unknown";
}

}  // namespace http
