// The secure store on macOS: generic passwords in the login keychain, through Keychain Services.
#include <CoreFoundation/CoreFoundation.h>
#include <Security/Security.h>

#include "core/service/SecretBackend.h"

namespace quaylet {
namespace {

// Releases a Core Foundation object at the end of its scope.
template <typename T>
class Owned {
  public:
    explicit Owned(T object) : object_(object) {}
    ~Owned() {
        if (object_ != nullptr) {
            CFRelease(object_);
        }
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    T get() const { return object_; }

  private:
    T object_;
};

Owned<CFStringRef> makeString(const std::string& text) {
    return Owned<CFStringRef>(
        CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(text.data()),
                                static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false));
}

// The query every call starts from: a generic password with this service and account.
Owned<CFMutableDictionaryRef> makeQuery(const SecretItemIdentity& identity) {
    Owned<CFMutableDictionaryRef> query(CFDictionaryCreateMutable(
        kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
    const auto service = makeString(identity.service);
    const auto account = makeString(identity.account);
    CFDictionarySetValue(query.get(), kSecClass, kSecClassGenericPassword);
    CFDictionarySetValue(query.get(), kSecAttrService, service.get());
    CFDictionarySetValue(query.get(), kSecAttrAccount, account.get());
    return query;
}

}  // namespace

std::optional<std::string> SecretBackend::find(const SecretItemIdentity& identity) {
    const auto query = makeQuery(identity);
    CFDictionarySetValue(query.get(), kSecReturnData, kCFBooleanTrue);
    CFDictionarySetValue(query.get(), kSecMatchLimit, kSecMatchLimitOne);
    CFTypeRef result = nullptr;
    if (SecItemCopyMatching(query.get(), &result) != errSecSuccess || result == nullptr) {
        return std::nullopt;
    }
    const Owned<CFTypeRef> owned(result);
    if (CFGetTypeID(result) != CFDataGetTypeID()) {
        return std::nullopt;
    }
    const auto data = static_cast<CFDataRef>(result);
    // Decoding into a CFString is how we learn whether the bytes are valid UTF-8.
    const Owned<CFStringRef> text(
        CFStringCreateWithBytes(kCFAllocatorDefault, CFDataGetBytePtr(data), CFDataGetLength(data),
                                kCFStringEncodingUTF8, false));
    if (text.get() == nullptr) {
        return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(CFDataGetBytePtr(data)),
                       static_cast<std::size_t>(CFDataGetLength(data)));
}

void SecretBackend::remove(const SecretItemIdentity& identity) {
    // The status is deliberately unused: "nothing to delete" and "couldn't delete" lead on alike.
    SecItemDelete(makeQuery(identity).get());
}

bool SecretBackend::add(const SecretItemIdentity& identity, std::string_view secret) {
    const auto query = makeQuery(identity);
    const Owned<CFDataRef> data(CFDataCreate(kCFAllocatorDefault,
                                             reinterpret_cast<const UInt8*>(secret.data()),
                                             static_cast<CFIndex>(secret.size())));
    CFDictionarySetValue(query.get(), kSecValueData, data.get());
    CFDictionarySetValue(query.get(), kSecAttrAccessible,
                         kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly);
    return SecItemAdd(query.get(), nullptr) == errSecSuccess;
}

}  // namespace quaylet
