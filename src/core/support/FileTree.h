#pragma once

#include <filesystem>

namespace quaylet {

// Removes root and everything below it. Links are removed, never followed; folders left
// without owner permissions are opened up first; and however deep the tree goes (an older
// version could unpack thousands of levels), no more than three descriptors are open at once
// and no path longer than one name is looked up. A root that does not exist is not an error.
// Failures are std::filesystem::filesystem_error. Every tree the core removes goes through here.
void removeTree(const std::filesystem::path& root);

// Creates folder with any missing parents and leaves it to its owner alone (0700), whatever
// mode an older version or the umask gave it: the cache, the state and the settings hold
// builds, a sign-in in flight and choices that nobody else may read or plant files in.
// Failures are std::filesystem::filesystem_error.
void createPrivateFolder(const std::filesystem::path& folder);

}  // namespace quaylet
