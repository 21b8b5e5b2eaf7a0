#pragma once

#include <filesystem>
#include <string>

namespace quaylet::devservice {

// Writes <buildsFolder>/<previewID>/ with artifact.zip (a zipped app bundle the stand-in
// simulator tools accept) and a ready manifest.json naming its size and SHA-256. Returns the
// build's folder.
std::filesystem::path makeDemoBuild(const std::filesystem::path& buildsFolder,
                                    const std::string& previewID);

// The same for an Android build: artifact.apk (an .apk the stand-in emulator tools install)
// and a manifest for the platform "android".
std::filesystem::path makeAndroidDemoBuild(const std::filesystem::path& buildsFolder,
                                           const std::string& previewID);

}  // namespace quaylet::devservice
