#include "feature/LaunchHistory.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <cerrno>

#include <QSaveFile>

#include <fstream>
#include <system_error>

#include "core/support/FileTree.h"
#include "feature/UserFolders.h"

namespace quaylet {
namespace {

// The history's own lock file: the history itself is replaced on every write.
class HistoryLock {
  public:
    explicit HistoryLock(const std::filesystem::path& file)
        : descriptor_(
              ::open((file.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (descriptor_ >= 0) {
            while (::flock(descriptor_, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
        // Without a lock file the append still happens, only unguarded against a race.
    }
    HistoryLock(const HistoryLock&) = delete;
    HistoryLock& operator=(const HistoryLock&) = delete;
    ~HistoryLock() {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
    }

  private:
    int descriptor_;
};

}  // namespace

LaunchHistory::LaunchHistory(std::filesystem::path file) : file_(std::move(file)) {}

std::filesystem::path LaunchHistory::defaultFile() {
    return userStateFolder() / "launches.jsonl";
}

void LaunchHistory::append(const std::string& launch) const {
    createPrivateFolder(file_.parent_path());
    const HistoryLock lock(file_);
    std::vector<std::string> kept = lines();
    kept.push_back(launch);
    const std::size_t first = kept.size() > kKept ? kept.size() - kKept : 0;
    QByteArray text;
    for (std::size_t line = first; line < kept.size(); ++line) {
        text += QByteArray::fromStdString(kept[line]);
        text += '\n';
    }
    QSaveFile file(QString::fromStdString(file_.string()));
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(text) != text.size() || !file.commit()) {
        throw std::filesystem::filesystem_error("The launch cannot be kept", file_,
                                                std::make_error_code(std::errc::io_error));
    }
}

std::vector<std::string> LaunchHistory::lines() const {
    std::vector<std::string> lines;
    std::ifstream input(file_);
    for (std::string line; std::getline(input, line);) {
        if (!line.empty()) {
            lines.push_back(std::move(line));
        }
    }
    return lines;
}

}  // namespace quaylet
