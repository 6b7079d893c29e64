#pragma once

#include <QString>
#include <stdexcept>

namespace siderama {

// Thrown by the tool runner when a tool did not succeed. The runner has
// already reported the failure; callers use it only to stop.
class ToolError : public std::runtime_error {
public:
    enum class Domain { failed, aborted, terminated };

    ToolError(Domain domain, const QString& message)
        : std::runtime_error(message.toStdString()), domain(domain) {}

    const Domain domain;
};

}  // namespace siderama
