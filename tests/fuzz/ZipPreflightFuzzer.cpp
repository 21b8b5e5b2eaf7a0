// The in-process scan of a downloaded archive, and of an Android package with what its
// packaging tools add. Any bytes may come over the network; the only answer to a bad archive
// is the unsafe-archive refusal.
#include <cstddef>
#include <cstdint>
#include <span>
#include <stop_token>

#include "core/artifacts/ZipPreflight.h"
#include "core/errors/QuayletError.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        quaylet::preflightZipArchive(std::span(data, size), std::stop_token());
    } catch (const quaylet::QuayletError&) {
        // Refused: what every unsafe or malformed archive must end in.
    }
    try {
        quaylet::preflightApkArchive(std::span(data, size), "AndroidManifest.xml", 1 << 20,
                                     std::stop_token());
    } catch (const quaylet::QuayletError&) {
        // Refused likewise.
    }
    return 0;
}
