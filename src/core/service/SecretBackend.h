#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quaylet {

// Names one generic-password item in the platform's secure store.
struct SecretItemIdentity {
    std::string service;
    std::string account;

    bool operator==(const SecretItemIdentity&) const = default;
};

// The platform's secure store, reduced to the three calls the credential store needs. Each
// platform has its own source file, chosen in CMake: the Secret Service through libsecret on
// Linux, Keychain Services on macOS. None of them ever asks the user anything: a locked or
// missing store is a failure, not a prompt.
class SecretBackend {
  public:
    // The item's secret as UTF-8 text; absent when there is no such item, the secret is not
    // valid UTF-8, or the store cannot be reached, is locked or refuses access.
    static std::optional<std::string> find(const SecretItemIdentity& identity);

    // Deletes every item with this identity. Whether anything was deleted is not reported:
    // both callers go on the same way either way.
    static void remove(const SecretItemIdentity& identity);

    // Creates a new item, readable only by this user and kept on this device; false when the
    // store refuses. Callers remove the old item first: Keychain Services refuses a second item
    // with the same identity, where the Secret Service would keep both.
    static bool add(const SecretItemIdentity& identity, std::string_view secret);
};

}  // namespace quaylet
