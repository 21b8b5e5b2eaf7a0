#pragma once

#include <filesystem>
#include <string>

namespace quaylet::hosttools {

// Where a stand-in keeps its state: the folder named by the variable, when set; otherwise
// $XDG_DATA_HOME (absolute values only, else ~/.local/share) + quaylet/<name>. what names the
// state in the message of a host without HOME.
std::filesystem::path stateFolder(const char* variable, const char* name, const char* what);

// An exclusive flock on a file, created when missing, held for the lifetime of the object.
class ExclusiveLock {
  public:
    explicit ExclusiveLock(const std::filesystem::path& lockFile);
    ~ExclusiveLock();  // closing releases the lock
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

  private:
    int descriptor_;
};

// Writes text to a temporary file beside file, flushes it and renames it over file, so a
// reader sees the old contents or the new, never part of them.
void replaceFile(const std::filesystem::path& file, const std::string& text);

}  // namespace quaylet::hosttools
