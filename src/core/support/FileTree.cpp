#include "core/support/FileTree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "core/support/FileDescriptor.h"
#include "core/support/SystemError.h"

namespace quaylet {
namespace {

namespace fs = std::filesystem;

// A folder on the way down from the root: its name in its parent, its identity (to be sure
// the way back up through ".." arrives where it left), and its subfolders still to remove.
struct Folder {
    std::string name;
    dev_t device = 0;
    ino_t inode = 0;
    std::vector<std::string> subfolders;
};

class TreeRemover {
  public:
    explicit TreeRemover(fs::path root) : root_(std::move(root)) {}

    void run(const struct stat& rootStatus) {
        FileDescriptor current(enter(AT_FDCWD, root_.c_str(), rootStatus));
        folders_.push_back({{}, rootStatus.st_dev, rootStatus.st_ino, {}});
        emptyFiles(current.get());
        for (;;) {
            Folder& folder = folders_.back();
            if (!folder.subfolders.empty()) {
                std::string name = std::move(folder.subfolders.back());
                folder.subfolders.pop_back();
                struct stat status {};
                if (::fstatat(current.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
                    if (errno == ENOENT) {
                        continue;  // already gone
                    }
                    fail("Cannot read file attributes", name);
                }
                current.reset(enter(current.get(), name.c_str(), status));
                folders_.push_back({std::move(name), status.st_dev, status.st_ino, {}});
                emptyFiles(current.get());
                continue;
            }
            if (folders_.size() == 1) {
                break;
            }
            const Folder done = std::move(folders_.back());
            folders_.pop_back();
            current.reset(::openat(current.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (current.get() < 0) {
                fail("Cannot open folder", "..");
            }
            struct stat status {};
            if (::fstatat(current.get(), done.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
                status.st_dev != done.device || status.st_ino != done.inode) {
                errno = ESTALE;  // the folder moved while it was being emptied
                fail("Cannot remove folder", done.name);
            }
            if (::unlinkat(current.get(), done.name.c_str(), AT_REMOVEDIR) != 0) {
                fail("Cannot remove folder", done.name);
            }
        }
        if (::rmdir(root_.c_str()) != 0) {
            throw systemError("Cannot remove folder", root_);
        }
    }

  private:
    // Opens a folder for reading, first granting its owner the rights that emptying it needs.
    int enter(int parent, const char* name, const struct stat& status) {
        if ((status.st_mode & S_IRWXU) != S_IRWXU &&
            ::fchmodat(parent, name, (status.st_mode & 07777) | S_IRWXU, 0) != 0) {
            fail("Cannot change file mode", name);
        }
        const int descriptor =
            ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (descriptor < 0) {
            fail("Cannot open folder", name);
        }
        return descriptor;
    }

    // Removes everything in the open folder that is not a folder and notes the folders.
    void emptyFiles(int folder) {
        const int listing = ::dup(folder);
        DIR* const stream = listing < 0 ? nullptr : ::fdopendir(listing);
        if (stream == nullptr) {
            if (listing >= 0) {
                ::close(listing);
            }
            fail("Cannot read folder", "");
        }
        std::vector<std::string> files;
        std::vector<std::string>& subfolders = folders_.back().subfolders;
        errno = 0;
        while (const dirent* item = ::readdir(stream)) {
            const std::string_view name = item->d_name;
            if (name == "." || name == "..") {
                continue;
            }
            struct stat status {};
            if (::fstatat(folder, item->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
                ::closedir(stream);
                fail("Cannot read file attributes", std::string(name));
            }
            (S_ISDIR(status.st_mode) ? subfolders : files).emplace_back(name);
        }
        const int readError = errno;
        ::closedir(stream);
        if (readError != 0) {
            errno = readError;
            fail("Cannot read folder", "");
        }
        for (const std::string& file : files) {
            if (::unlinkat(folder, file.c_str(), 0) != 0 && errno != ENOENT) {
                fail("Cannot remove file", file);
            }
        }
    }

    // The path is for the message only: the walk itself never looks up more than one name.
    [[noreturn]] void fail(const char* what, const std::string& name) const {
        const int error = errno;
        fs::path path = root_;
        for (std::size_t index = 1; index < folders_.size(); ++index) {
            path /= folders_[index].name;
        }
        throw systemError(what, name.empty() ? path : path / name, error);
    }

    fs::path root_;
    std::vector<Folder> folders_;
};

}  // namespace

void removeTree(const fs::path& root) {
    struct stat status {};
    if (::lstat(root.c_str(), &status) != 0) {
        if (errno == ENOENT) {
            return;
        }
        throw systemError("Cannot read file attributes", root);
    }
    if (!S_ISDIR(status.st_mode)) {
        if (::unlink(root.c_str()) != 0 && errno != ENOENT) {
            throw systemError("Cannot remove file", root);
        }
        return;
    }
    TreeRemover(root).run(status);
}

void createPrivateFolder(const fs::path& folder) {
    fs::create_directories(folder);
    // Changed only when it differs, so a folder already right stays usable on a read-only disk.
    if (fs::status(folder).permissions() != fs::perms::owner_all) {
        fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace);
    }
}

}  // namespace quaylet
