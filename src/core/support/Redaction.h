#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quaylet {

// Takes out of a text what must never leave this machine in a report: each secret (as it
// is, percent-encoded or JSON-escaped), the query of every URL (signed addresses carry their
// credentials there) and the home folder, which becomes "~".
class Redaction {
  public:
    static constexpr std::string_view kRedacted = "[redacted]";

    // Empty secrets, and an empty or root home folder, are left out.
    Redaction(std::vector<std::string> secrets, std::string homeFolder);

    std::string apply(std::string_view text) const;

  private:
    std::vector<std::string> secrets_;
    std::string homeFolder_;
};

}  // namespace quaylet
