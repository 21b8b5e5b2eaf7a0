#pragma once

#include <memory>
#include <string>
#include <string_view>

struct evp_md_ctx_st;

namespace quaylet {

// A SHA-256 digest computed piece by piece, so bytes can be hashed as they pass by.
class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(Sha256&&) noexcept;
    Sha256& operator=(Sha256&&) noexcept;

    void update(std::string_view bytes);
    // The digest of everything so far as 64 lower-case hexadecimal digits; ends the hash.
    std::string hexDigest();

  private:
    std::unique_ptr<evp_md_ctx_st, void (*)(evp_md_ctx_st*)> context_;
};

}  // namespace quaylet
