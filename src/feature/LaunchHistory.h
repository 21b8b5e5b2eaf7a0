#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace quaylet {

// The timelines of the last launches, kept in the state folder as one JSON object a line,
// newest last. Whoever appends has taken the token and signed addresses out already.
class LaunchHistory {
  public:
    static constexpr std::size_t kKept = 50;

    explicit LaunchHistory(std::filesystem::path file);

    // $XDG_STATE_HOME/quaylet/launches.jsonl, or under ~/.local/state.
    static std::filesystem::path defaultFile();

    const std::filesystem::path& file() const { return file_; }

    // Adds the launch, one JSON object on one line, as the newest line and drops the oldest
    // beyond kKept. Processes that append at once take turns. Throws
    // std::filesystem::filesystem_error when the file cannot be written.
    void append(const std::string& launch) const;

    // The kept lines, oldest first; none when there is no file.
    std::vector<std::string> lines() const;

  private:
    std::filesystem::path file_;
};

}  // namespace quaylet
