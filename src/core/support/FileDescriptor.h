#pragma once

#include <filesystem>

namespace quaylet {

// An open file descriptor, closed when the object goes, or -1 for none.
class FileDescriptor {
  public:
    // Opens the file read-only; failure is std::filesystem::filesystem_error.
    static FileDescriptor openForReading(const std::filesystem::path& file);

    // Takes over descriptor, which may be -1 (a failed open the caller checks with get()).
    explicit FileDescriptor(int descriptor) : descriptor_(descriptor) {}
    ~FileDescriptor();
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return descriptor_; }
    // Closes the descriptor held and takes over another.
    void reset(int descriptor);

  private:
    int descriptor_;
};

}  // namespace quaylet
