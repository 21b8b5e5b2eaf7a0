#pragma once

#include <filesystem>
#include <stop_token>

#include "core/android/ApkMetadata.h"

namespace quaylet {

// Reads what an Android build declares, in process and without unpacking it: the archive must
// pass the zip scan of every entry first, then its compiled AndroidManifest.xml is read and
// its native code's ABIs are taken from the lib/<abi>/ entries. Refusals are the scan's
// QuayletError::unsafeArchive or QuayletError::invalidApplication in the words iOS builds are
// refused with. Writes nothing; holds no state.
class ApkInspector {
  public:
    ApkMetadata inspect(const std::filesystem::path& apk, std::stop_token stop) const;
};

}  // namespace quaylet
