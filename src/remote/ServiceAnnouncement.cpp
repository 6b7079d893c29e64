#include "remote/ServiceAnnouncement.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>

namespace siderama {

namespace {

// Pause before a new client is tried after one could not be created.
constexpr int retryDelayMilliseconds = 5000;

}  // namespace

ServiceAnnouncement::ServiceAnnouncement(std::string type, std::string name, std::uint16_t port,
                                         std::vector<std::string> text, Delegate delegate)
    : type(std::move(type)), name(std::move(name)), port(port), txt(std::move(text)), delegate(std::move(delegate)) {}

ServiceAnnouncement::~ServiceAnnouncement() {
    if (!poll) return;
    avahi_threaded_poll_stop(poll);
    disconnect();
    if (retry) avahi_threaded_poll_get(poll)->timeout_free(retry);
    avahi_threaded_poll_free(poll);
}

void ServiceAnnouncement::publish() {
    if (poll) return;
    poll = avahi_threaded_poll_new();
    if (!poll) {
        reportFailure(AVAHI_ERR_NO_MEMORY, AVAHI_CLIENT_FAILURE);
        return;
    }
    connect();
    avahi_threaded_poll_start(poll);
}

std::string ServiceAnnouncement::text(const ErrorMap& error) {
    std::string result = "[";
    for (const auto& [key, number] : error) {
        if (result.size() > 1) result += ", ";
        result += "\"" + key + "\": " + std::to_string(number);
    }
    return result + "]";
}

// With AVAHI_CLIENT_NO_FAIL a missing daemon is no error: the client waits
// in the connecting state until the daemon appears.
void ServiceAnnouncement::connect() {
    const auto changed = [](AvahiClient* c, AvahiClientState state, void* self) {
        static_cast<ServiceAnnouncement*>(self)->clientChanged(c, state);
    };
    int error = 0;
    client = avahi_client_new(avahi_threaded_poll_get(poll), AVAHI_CLIENT_NO_FAIL, changed, this, &error);
    if (!client) {
        reportFailure(error, AVAHI_CLIENT_FAILURE);
        scheduleReconnect(retryDelayMilliseconds);
    } else if (avahi_client_get_state(client) == AVAHI_CLIENT_CONNECTING) {
        reportFailure(AVAHI_ERR_NO_DAEMON, AVAHI_CLIENT_CONNECTING);
    }
}

// Freeing the client frees its entry group as well.
void ServiceAnnouncement::disconnect() {
    if (client) avahi_client_free(client);
    client = nullptr;
    group = nullptr;
}

void ServiceAnnouncement::clientChanged(AvahiClient* changed, int state) {
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
        registerService(changed);
        break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
        // The host name changes; the daemon is told again once it runs.
        if (group) avahi_entry_group_reset(group);
        break;
    case AVAHI_CLIENT_CONNECTING:
        reportFailure(AVAHI_ERR_NO_DAEMON, state);
        // The daemon went away and took the registration with it: start
        // over with a fresh client that waits for the daemon's return.
        if (group) scheduleReconnect(0);
        break;
    case AVAHI_CLIENT_FAILURE: {
        const int error = avahi_client_errno(changed);
        // A lost bus connection is recovered by a new client at once.
        if (error != AVAHI_ERR_DISCONNECTED) reportFailure(error, state);
        scheduleReconnect(error == AVAHI_ERR_DISCONNECTED ? 0 : retryDelayMilliseconds);
        break;
    }
    default:
        break;
    }
}

void ServiceAnnouncement::registerService(AvahiClient* running) {
    if (!group) {
        const auto changed = [](AvahiEntryGroup* g, AvahiEntryGroupState state, void* self) {
            static_cast<ServiceAnnouncement*>(self)->groupChanged(g, state);
        };
        group = avahi_entry_group_new(running, changed, this);
        if (!group) {
            reportFailure(avahi_client_errno(running), avahi_client_get_state(running));
            return;
        }
    }
    if (!avahi_entry_group_is_empty(group)) return;
    AvahiStringList* records = nullptr;
    for (auto record = txt.rbegin(); record != txt.rend(); ++record)
        records = avahi_string_list_add(records, record->c_str());
    int result = avahi_entry_group_add_service_strlst(group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                                      AvahiPublishFlags(0), name.c_str(), type.c_str(), nullptr,
                                                      nullptr, port, records);
    avahi_string_list_free(records);
    if (result == AVAHI_ERR_COLLISION) {
        takeAlternativeName();
        registerService(running);
        return;
    }
    if (result >= 0) result = avahi_entry_group_commit(group);
    if (result < 0) reportFailure(result, avahi_client_get_state(running));
}

void ServiceAnnouncement::groupChanged(AvahiEntryGroup* changed, int state) {
    AvahiClient* owner = avahi_entry_group_get_client(changed);
    switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
        failureReported = false;
        if (delegate.published) delegate.published();
        break;
    case AVAHI_ENTRY_GROUP_COLLISION:
        takeAlternativeName();
        registerService(owner);
        break;
    case AVAHI_ENTRY_GROUP_FAILURE:
        reportFailure(avahi_client_errno(owner), avahi_client_get_state(owner));
        break;
    default:
        break;
    }
}

void ServiceAnnouncement::takeAlternativeName() {
    char* alternative = avahi_alternative_service_name(name.c_str());
    name = alternative;
    avahi_free(alternative);
    if (group) avahi_entry_group_reset(group);
}

void ServiceAnnouncement::reportFailure(int error, int state) {
    if (failureReported) return;
    failureReported = true;
    if (delegate.failed) delegate.failed({{"AvahiErrorCode", error}, {"AvahiClientState", state}});
}

void ServiceAnnouncement::scheduleReconnect(int delayMilliseconds) {
    const AvahiPoll* api = avahi_threaded_poll_get(poll);
    timeval due{};
    avahi_elapse_time(&due, delayMilliseconds, 0);
    if (retry) {
        api->timeout_update(retry, &due);
        return;
    }
    const auto expired = [](AvahiTimeout*, void* self) {
        auto* announcement = static_cast<ServiceAnnouncement*>(self);
        announcement->disconnect();
        announcement->connect();
    };
    retry = api->timeout_new(api, &due, expired, this);
}

}  // namespace siderama
