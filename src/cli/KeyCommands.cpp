#include "cli/KeyCommands.h"

#include "remote/api/ApiKeys.h"

#include <cstdio>
#include <stdexcept>

namespace siderama {

namespace {

void print(const QString& line) { std::fputs((line + '\n').toUtf8().constData(), stdout); }

void list(const ApiKeys& keys) {
    const std::vector<ApiKeys::Account> accounts = keys.accounts();
    if (accounts.empty()) print("No API keys: every client may use the service.");
    for (const ApiKeys::Account& account : accounts)
        print(account.name + (account.isOperator ? "\toperator" : "\tmember"));
}

}  // namespace

int runKeyCommand(const QString& option, const QString& name) {
    ApiKeys keys(ApiKeys::defaultPath());
    try {
        if (option == "--list-keys") {
            list(keys);
        } else if (option == "--remove-key") {
            keys.remove(name);
            print("Removed the key " + name + (keys.required() ? "." : "; no key is left, the service is open again."));
        } else {
            const QString key = keys.add(name);
            const bool first = keys.accounts().size() == 1;
            print("Added the key " + name.trimmed() +
                  (first ? ", the operator's: from now on the service asks every client for a key." : ", a member's."));
            print("It is shown once; the server keeps only its hash:");
            print(key);
        }
    } catch (const std::runtime_error& failure) {
        std::fprintf(stderr, "siderama: %s\n", failure.what());
        return 1;
    }
    return 0;
}

}  // namespace siderama
