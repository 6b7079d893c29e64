#include "remote/ServerSettings.h"

#include "core/Defaults.h"

namespace siderama {

namespace {

std::optional<std::uint16_t> portDefault(const char* key, QStringList& problems) {
    const std::optional<QString> text = Defaults::stringValue(key);
    if (!text) return std::nullopt;
    const std::optional<std::uint16_t> port = ServerSettings::parsePort(*text);
    if (!port) problems << QString("Ignoring the user default %1 \"%2\": not a port number").arg(key, *text);
    return port;
}

}  // namespace

std::optional<std::uint16_t> ServerSettings::parsePort(const QString& text) {
    bool ok = false;
    const uint value = text.trimmed().toUInt(&ok);
    if (!ok || value > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

ServerSettings ServerSettings::read(std::optional<std::uint16_t> port, std::optional<std::uint16_t> tlsPort,
                                    QStringList& problems) {
    ServerSettings settings;
    settings.httpPort = port ? *port : portDefault(httpPortKey, problems).value_or(0);
    settings.httpsPort = tlsPort ? tlsPort : portDefault(httpsPortKey, problems);
    settings.certificateFile = Defaults::stringValue(certificateKey).value_or(QString());
    settings.privateKeyFile = Defaults::stringValue(privateKeyKey).value_or(QString());
    return settings;
}

}  // namespace siderama
