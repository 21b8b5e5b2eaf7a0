#include "core/service/PreviewIdentifier.h"

#include <algorithm>

#include "core/support/Text.h"

namespace quaylet {
namespace {

constexpr std::size_t kMaxPreviewIdentifierLength = 200;

bool isUnreserved(char character) {
    return (character >= 'A' && character <= 'Z') || (character >= 'a' && character <= 'z') ||
           (character >= '0' && character <= '9') || character == '.' || character == '_' ||
           character == '~' || character == '-';
}

}  // namespace

bool isPreviewIdentifier(std::string_view text) {
    return !text.empty() && text.size() <= kMaxPreviewIdentifierLength && text != "." &&
           text != ".." && std::all_of(text.begin(), text.end(), isUnreserved);
}

std::string previewLink(std::string_view previewID) {
    return "quaylet://preview/" + percentEncoded(previewID);
}

}  // namespace quaylet
