#pragma once

#include <filesystem>

namespace quaylet {

// An open file descriptor, closed when the object goes.
class FileDescriptor {
  public:
    // Opens the file read-only; failure is std::filesystem::filesystem_error.
    static FileDescriptor openForReading(const std::filesystem::path& file);

    ~FileDescriptor();
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return descriptor_; }

  private:
    explicit FileDescriptor(int descriptor) : descriptor_(descriptor) {}

    int descriptor_;
};

}  // namespace quaylet
