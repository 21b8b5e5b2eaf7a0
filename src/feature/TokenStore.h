#pragma once

#include <optional>
#include <string>

namespace quaylet {

// Where the one API token is kept between runs. Called on the main thread.
class TokenStore {
  public:
    virtual ~TokenStore() = default;

    virtual std::optional<std::string> readToken() = 0;
    // Throws QuayletError::previewUnavailable when the token cannot be stored.
    virtual void saveToken(const std::string& token) = 0;
    // Never fails.
    virtual void removeToken() = 0;
};

}  // namespace quaylet
