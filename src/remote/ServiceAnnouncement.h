#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct AvahiClient;
struct AvahiEntryGroup;
struct AvahiThreadedPoll;
struct AvahiTimeout;

namespace siderama {

// DNS service discovery registration of one TCP service through the
// avahi daemon, driven by avahi's threaded poll (callbacks run on its thread).
//
// The registration outlives the daemon: when the daemon goes away the client
// waits for it to come back and registers again; when the client loses its
// bus it is created anew. A name already taken on the network is replaced by
// avahi's alternative ("Name #2", ...). Each time the service is established
// `published` runs; the first failure after the start or after the last
// success is reported through `failed` (later retries stay silent).
class ServiceAnnouncement {
public:
    // Error code and state, e.g. [("AvahiErrorCode", -26), ("AvahiClientState", 101)].
    using ErrorMap = std::vector<std::pair<std::string, int>>;

    struct Delegate {
        std::function<void()> published;
        std::function<void(const ErrorMap&)> failed;
    };

    // `text` holds the TXT record's "key=value" strings.
    ServiceAnnouncement(std::string type, std::string name, std::uint16_t port, std::vector<std::string> text,
                        Delegate delegate);
    ~ServiceAnnouncement();
    ServiceAnnouncement(const ServiceAnnouncement&) = delete;
    ServiceAnnouncement& operator=(const ServiceAnnouncement&) = delete;

    // Starts the poll thread; the outcome arrives later through the delegate.
    void publish();

    // The text form of an error map: ["key": number, "key": number].
    static std::string text(const ErrorMap& error);

private:
    // Avahi callbacks, on the poll thread (or in publish() before it runs).
    void clientChanged(AvahiClient* changed, int state);
    void groupChanged(AvahiEntryGroup* changed, int state);

    void connect();
    void disconnect();
    void registerService(AvahiClient* running);
    void takeAlternativeName();
    void reportFailure(int error, int state);
    void scheduleReconnect(int delayMilliseconds);

    std::string type;
    std::string name;
    std::uint16_t port;
    std::vector<std::string> txt;
    Delegate delegate;

    AvahiThreadedPoll* poll = nullptr;
    AvahiClient* client = nullptr;
    AvahiEntryGroup* group = nullptr;
    AvahiTimeout* retry = nullptr;
    bool failureReported = false;
};

}  // namespace siderama
