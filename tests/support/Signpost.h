#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace quaylet::testing {

// A named pipe a scripted tool writes a line to, so that the test knows the tool has got
// that far without polling for it.
class Signpost {
  public:
    explicit Signpost(std::filesystem::path path) : path_(std::move(path)) {
        if (::mkfifo(path_.c_str(), 0600) != 0) {
            throw std::system_error(errno, std::generic_category(), "mkfifo " + path_.string());
        }
        // Open from the start, so that a tool writing to it never waits for the test.
        reader_ = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (reader_ < 0) {
            throw std::system_error(errno, std::generic_category(), "open " + path_.string());
        }
    }
    ~Signpost() {
        ::close(reader_);
        std::filesystem::remove(path_);
    }
    Signpost(const Signpost&) = delete;
    Signpost& operator=(const Signpost&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // Waits until a tool writes its line and returns it; empty when no tool came (bounded).
    std::string awaitLine() const {
        pollfd readable{reader_, POLLIN, 0};
        if (::poll(&readable, 1, 120'000) != 1) {
            return {};
        }
        char buffer[256];
        const ssize_t count = ::read(reader_, buffer, sizeof buffer);
        std::string line(buffer, count > 0 ? static_cast<std::size_t>(count) : 0);
        return line.substr(0, line.find('\n'));
    }

  private:
    std::filesystem::path path_;
    int reader_ = -1;
};

}  // namespace quaylet::testing
