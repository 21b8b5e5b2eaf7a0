#pragma once

#include <QUrl>

namespace quaylet {

// The address rule of the core (https anywhere, plain http only to this computer) for an
// address the application fetches through Qt: parsed by QUrl, so that a program idling in the
// tray does not load libcurl to check an address it never hands to libcurl.
bool isPermittedWebAddress(const QUrl& url);

}  // namespace quaylet
