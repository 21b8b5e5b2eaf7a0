#pragma once

#include <filesystem>

namespace quaylet {

// Removes root and everything below it. Links are removed, never followed; folders left
// without owner permissions are opened up first; and however deep the tree goes (an older
// version could unpack thousands of levels), no more than three descriptors are open at once
// and no path longer than one name is looked up. A root that does not exist is not an error.
// Failures are std::filesystem::filesystem_error. Every tree the core removes goes through here.
void removeTree(const std::filesystem::path& root);

}  // namespace quaylet
