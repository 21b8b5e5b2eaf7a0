#include "core/service/CredentialStore.h"

#include "core/errors/QuayletError.h"
#include "core/support/BundleIdentifier.h"

namespace quaylet {

CredentialStore::CredentialStore()
    : identity_{.service = std::string(kBundleIdentifier), .account = "api-token"} {}

std::optional<std::string> CredentialStore::readToken() const {
    return SecretBackend::find(identity_);
}

void CredentialStore::saveToken(std::string_view token) const {
    SecretBackend::remove(identity_);
    if (!SecretBackend::add(identity_, token)) {
        throw QuayletError::previewUnavailable(
            "Quaylet couldn’t save your GitHub sign-in. Unlock Keychain, then try again.");
    }
}

void CredentialStore::removeToken() const {
    SecretBackend::remove(identity_);
}

}  // namespace quaylet
