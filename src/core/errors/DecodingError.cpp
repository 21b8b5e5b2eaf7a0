#include "core/errors/DecodingError.h"

#include <utility>

namespace quaylet {
namespace {

// What a user reads: the platform's sentence and where the fault is, never the reader's
// own wording, which is written for developers (and, from the JSON library, cryptic).
std::string describe(DecodingError::Kind kind, const std::string& keyPath) {
    const std::string sentence =
        kind == DecodingError::Kind::keyNotFound || kind == DecodingError::Kind::valueNotFound
            ? "The data couldn’t be read because it is missing."
            : "The data couldn’t be read because it isn’t in the correct format.";
    return keyPath.empty() ? sentence : sentence + " (" + keyPath + ")";
}

}  // namespace

DecodingError::DecodingError(Kind kind, std::string keyPath, std::string reason)
    : std::runtime_error(describe(kind, keyPath)),
      kind_(kind),
      keyPath_(std::move(keyPath)),
      reason_(std::move(reason)) {}

}  // namespace quaylet
