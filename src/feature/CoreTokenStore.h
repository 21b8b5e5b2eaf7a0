#pragma once

#include "core/service/CredentialStore.h"
#include "feature/TokenStore.h"

namespace quaylet {

// The token kept in the platform's secure store.
class CoreTokenStore : public TokenStore {
  public:
    std::optional<std::string> readToken() override { return credentials_.readToken(); }
    void saveToken(const std::string& token) override { credentials_.saveToken(token); }
    void removeToken() override { credentials_.removeToken(); }

  private:
    CredentialStore credentials_;
};

}  // namespace quaylet
