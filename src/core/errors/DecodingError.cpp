#include "core/errors/DecodingError.h"

#include <utility>

namespace quaylet {
namespace {

std::string describe(DecodingError::Kind kind, const std::string& keyPath,
                     const std::string& reason) {
    const std::string sentence =
        kind == DecodingError::Kind::keyNotFound || kind == DecodingError::Kind::valueNotFound
            ? "The data couldn’t be read because it is missing."
            : "The data couldn’t be read because it isn’t in the "
              "correct format.";
    const std::string where = keyPath.empty() ? std::string() : keyPath + ": ";
    return sentence + " (" + where + reason + ")";
}

}  // namespace

DecodingError::DecodingError(Kind kind, std::string keyPath, std::string reason)
    : std::runtime_error(describe(kind, keyPath, reason)),
      kind_(kind),
      keyPath_(std::move(keyPath)),
      reason_(std::move(reason)) {}

}  // namespace quaylet
