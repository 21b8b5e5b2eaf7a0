#include "core/support/Sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

#include "core/support/SharedLibrary.h"

namespace quaylet {
namespace {

// The OpenSSL functions the digest calls. On Linux libcrypto is loaded the first time a
// digest is made, not with the program: mapping it alone costs a program idling in the tray
// about 1.4 MiB. A Mac has no system OpenSSL to look up at run time, so there the one the
// program was built with is linked.
struct Libcrypto {
    decltype(&EVP_MD_CTX_new) newContext;
    decltype(&EVP_MD_CTX_free) freeContext;
    decltype(&EVP_sha256) sha256;
    decltype(&EVP_DigestInit_ex) digestInit;
    decltype(&EVP_DigestUpdate) digestUpdate;
    decltype(&EVP_DigestFinal_ex) digestFinal;
};

#ifndef __APPLE__
Libcrypto load() {
    const SharedLibrary library("libcrypto.so.3", "libcrypto", "OpenSSL 3");
    Libcrypto functions{};
    library.find(functions.newContext, "EVP_MD_CTX_new");
    library.find(functions.freeContext, "EVP_MD_CTX_free");
    library.find(functions.sha256, "EVP_sha256");
    library.find(functions.digestInit, "EVP_DigestInit_ex");
    library.find(functions.digestUpdate, "EVP_DigestUpdate");
    library.find(functions.digestFinal, "EVP_DigestFinal_ex");
    return functions;
}
#endif

const Libcrypto& libcrypto() {
#ifdef __APPLE__
    static const Libcrypto functions{&EVP_MD_CTX_new,    &EVP_MD_CTX_free,  &EVP_sha256,
                                     &EVP_DigestInit_ex, &EVP_DigestUpdate, &EVP_DigestFinal_ex};
#else
    static const Libcrypto functions = load();
#endif
    return functions;
}

}  // namespace

Sha256::Sha256() : context_(libcrypto().newContext(), libcrypto().freeContext) {
    if (!context_ || libcrypto().digestInit(context_.get(), libcrypto().sha256(), nullptr) != 1) {
        throw std::runtime_error("SHA-256 is not available");
    }
}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::update(std::string_view bytes) {
    libcrypto().digestUpdate(context_.get(), bytes.data(), bytes.size());
}

std::string Sha256::hexDigest() {
    static constexpr char kDigits[] = "0123456789abcdef";
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    libcrypto().digestFinal(context_.get(), digest, &length);
    std::string hex;
    hex.reserve(length * 2);
    for (unsigned int index = 0; index < length; ++index) {
        hex += kDigits[digest[index] >> 4];
        hex += kDigits[digest[index] & 0x0F];
    }
    return hex;
}

}  // namespace quaylet
