#pragma once

#include <stdexcept>
#include <string>

namespace quaylet {

// An HTTP exchange that failed below the level of an answer: no connection, a refused
// certificate, a time-out, a connection lost mid-way. what() is written for the user and names
// the server.
class TransportError : public std::runtime_error {
  public:
    explicit TransportError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace quaylet
