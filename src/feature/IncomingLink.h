#pragma once

#include <QUrl>

#include <string>
#include <variant>

namespace quaylet {

// quaylet://auth?code=… : the browser hands back the code of a sign-in.
struct SignInReturnLink {
    std::string code;
    bool operator==(const SignInReturnLink&) const = default;
};

// quaylet://preview/<identifier> : a pull-request build to open.
struct PreviewLink {
    std::string previewID;
    bool operator==(const PreviewLink&) const = default;
};

// Anything else: another scheme or host, no identifier, no usable code.
struct UnusableLink {
    bool operator==(const UnusableLink&) const = default;
};

using IncomingLink = std::variant<SignInReturnLink, PreviewLink, UnusableLink>;

// Reads a link handed to the application. Scheme and host are compared as QUrl reports
// them (it folds both to lower case). For a sign-in return the first "code" query item
// wins and must have a non-empty value. For a preview the identifier is the first
// percent-decoded path component and must pass isPreviewIdentifier; later components and any
// query are ignored. Pure: it
// looks at nothing but the URL, so it can be fed arbitrary input.
IncomingLink parseIncomingLink(const QUrl& url);

}  // namespace quaylet
