#pragma once

#include <stdexcept>
#include <string>

namespace quaylet {

// A JSON document or record that does not have the shape its reader requires.
class DecodingError : public std::runtime_error {
  public:
    enum class Kind { keyNotFound, valueNotFound, typeMismatch, dataCorrupted };

    // keyPath names where the fault is, such as "previews[2].createdAt"; empty for the
    // document itself. what() is the sentence a user reads, with the key path in parentheses;
    // reason is for developers and tests only.
    DecodingError(Kind kind, std::string keyPath, std::string reason);

    Kind kind() const { return kind_; }
    const std::string& keyPath() const { return keyPath_; }
    const std::string& reason() const { return reason_; }

  private:
    Kind kind_;
    std::string keyPath_;
    std::string reason_;
};

}  // namespace quaylet
