#include "remote/api/JobNotifications.h"

#include <QEventLoop>
#include <QSqlDriver>
#include <QThread>
#include <QTimer>

namespace siderama {

namespace {

constexpr int checkPeriodMs = 1000;

}  // namespace

JobNotifications::JobNotifications(const JobDatabaseLocation& location, const QString& channel, std::function<void()> wake)
    : db(std::make_unique<JobDatabase>(location)), channel(channel), wake(std::move(wake)) {
    thread = QThread::create([this] { listen(); });
    thread->start();
}

JobNotifications::~JobNotifications() {
    thread->quit();
    thread->wait();
    delete thread;
}

// A lost connection is found by a periodic query; the next check opens a
// new one, listens again and wakes the workers for what they missed.
void JobNotifications::listen() {
    QEventLoop loop;
    QTimer check;
    bool connected = false;
    const auto subscribe = [&] {
        QSqlDatabase c = db->connection();
        if (!c.isOpen()) return;
        if (c.driver()->subscribedToNotifications().contains(channel)) {
            if (!db->run(c, "SELECT 1")) c.close();
            return;
        }
        if (!connected)
            QObject::connect(c.driver(), &QSqlDriver::notification, &loop, [this] { wake(); });
        connected = true;
        if (c.driver()->subscribeToNotification(channel)) wake();
    };
    QObject::connect(&check, &QTimer::timeout, &loop, subscribe);
    check.start(checkPeriodMs);
    subscribe();
    loop.exec();
}

}  // namespace siderama
