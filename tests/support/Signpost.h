#pragma once

#include <filesystem>
#include <string>

namespace quaylet::testing {

// A named pipe a scripted tool writes a line to, so that the test knows the tool has got
// that far without polling for it.
class Signpost {
  public:
    explicit Signpost(std::filesystem::path path);
    ~Signpost();
    Signpost(const Signpost&) = delete;
    Signpost& operator=(const Signpost&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Waits until a tool writes its line and returns it; empty when no tool came (bounded).
    std::string awaitLine() const;

  private:
    std::filesystem::path path_;
    int reader_ = -1;
};

}  // namespace quaylet::testing
