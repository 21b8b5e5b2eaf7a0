#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/service/SecretBackend.h"

namespace quaylet {

// Keeps the one preview-service API token in the platform's secure store, so the user stays
// signed in across launches. Nothing else ever stores the token. Stateless: safe from any
// thread; a save is a delete followed by an add, not atomic.
class CredentialStore {
  public:
    CredentialStore();

    const std::string& service() const { return identity_.service; }
    const std::string& account() const { return identity_.account; }

    // The stored token, or absent when there is none or it cannot be read for any reason.
    std::optional<std::string> readToken() const;

    // Replaces any stored token. When the store refuses the new one, the old one is gone too
    // and QuayletError::previewUnavailable asks the user to unlock the store.
    void saveToken(std::string_view token) const;

    // Forgets the stored token, if any; never fails.
    void removeToken() const;

  private:
    SecretItemIdentity identity_;
};

}  // namespace quaylet
