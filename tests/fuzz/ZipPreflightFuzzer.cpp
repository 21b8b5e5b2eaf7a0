// The in-process scan of a downloaded archive. Any bytes may come over the network; the only
// answer to a bad archive is the unsafe-archive refusal.
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
    return 0;
}
