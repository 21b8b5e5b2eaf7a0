// Every answer body of the preview service, read by each record and by the date rule they
// share. A body that breaks the rules must end in DecodingError and nothing else.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/errors/DecodingError.h"
#include "core/service/PreviewRecords.h"
#include "core/support/InternetDateTime.h"

namespace {

template <typename Record>
void decodeOrRefuse(std::string_view body) {
    try {
        Record::decode(body);
    } catch (const quaylet::DecodingError&) {
        // The refusal every malformed body is meant to get.
    }
}

// A date that reads must write back as the same second it was read as.
void checkDateRoundTrip(std::string_view text) {
    const auto time = quaylet::parseInternetDateTime(text);
    if (time && quaylet::parseInternetDateTime(quaylet::formatInternetDateTime(*time)) !=
                    std::chrono::floor<std::chrono::seconds>(*time)) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    decodeOrRefuse<quaylet::PreviewManifest>(body);
    decodeOrRefuse<quaylet::PreviewListResponse>(body);
    decodeOrRefuse<quaylet::ArtifactURLResponse>(body);
    decodeOrRefuse<quaylet::MacAuthResponse>(body);
    checkDateRoundTrip(body);
    return 0;
}
