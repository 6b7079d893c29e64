#pragma once

#include "remote/api/JobDatabase.h"

#include <functional>
#include <memory>

class QThread;

namespace siderama {

// Wakes idle workers when PostgreSQL tells of new work (LISTEN/NOTIFY). Its
// own thread holds the listening connection, with an event loop as Qt's
// notifications need, and listens again after the database came back.
class JobNotifications {
public:
    JobNotifications(const JobDatabaseLocation& location, const QString& channel, std::function<void()> wake);
    ~JobNotifications();
    JobNotifications(const JobNotifications&) = delete;
    JobNotifications& operator=(const JobNotifications&) = delete;

private:
    void listen();

    std::unique_ptr<JobDatabase> db;
    QString channel;
    std::function<void()> wake;
    QThread* thread = nullptr;
};

}  // namespace siderama
