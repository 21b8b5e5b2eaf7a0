#pragma once

#include <string>
#include <string_view>

namespace quaylet {

// Whether text can be a preview identifier: 1 to 200 characters from A-Z a-z 0-9 . _ ~ -,
// and not "." or "..". The identifier goes into request paths and cache folder names, so
// anything a server or a file system could read as a separator, an escape or a step up is
// refused before any request is sent.
bool isPreviewIdentifier(std::string_view text);

// The link that opens a build in Quaylet, its identifier percent-encoded so that it stays one
// path component whatever the service sent.
std::string previewLink(std::string_view previewID);

}  // namespace quaylet
