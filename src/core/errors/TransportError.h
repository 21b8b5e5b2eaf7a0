#pragma once

#include <stdexcept>
#include <string>

namespace quaylet {

// An HTTP exchange that failed below the level of an answer: no connection, a refused
// certificate, a time-out, a connection lost mid-way. what() is written for the user and names
// the server.
class TransportError : public std::runtime_error {
  public:
    enum class Kind { failedExchange, refusedAddress };

    explicit TransportError(const std::string& message, Kind kind = Kind::failedExchange)
        : std::runtime_error(message), kind_(kind) {}

    // Quaylet itself would not connect to the address (not https, not this computer); asking
    // again cannot help.
    bool refusedAddress() const { return kind_ == Kind::refusedAddress; }

  private:
    Kind kind_;
};

}  // namespace quaylet
