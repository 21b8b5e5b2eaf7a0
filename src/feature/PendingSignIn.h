#pragma once

#include <chrono>
#include <filesystem>
#include <functional>

namespace quaylet {

// Marks that Quaylet itself sent the user to the browser to sign in. A sign-in link is
// honoured only against such a mark, so a web page cannot sign the user into an account
// of its choosing by opening a link with a code of its own. The mark is a file in the
// user's state folder, so the process that receives the link need not be the one that
// opened the browser; it lasts 15 minutes and serves one link.
class PendingSignIn {
  public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    static constexpr std::chrono::minutes kLifetime{15};

    explicit PendingSignIn(std::filesystem::path file,
                           Clock clock = &std::chrono::system_clock::now);

    // $XDG_STATE_HOME/quaylet/pending-sign-in, or under ~/.local/state.
    static std::filesystem::path defaultFile();

    // Records a sign-in starting now, replacing any earlier one. Throws
    // std::filesystem::filesystem_error when the mark cannot be written.
    void record() const;

    // Takes the mark away and tells whether it was there and younger than kLifetime. The
    // mark is claimed by an atomic rename, so of two processes racing for it only one can
    // succeed. Never throws: a mark that cannot be claimed or read counts as absent.
    bool consume() const;

  private:
    std::filesystem::path file_;
    Clock clock_;
};

}  // namespace quaylet
