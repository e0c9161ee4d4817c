#include "digest.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <new>
#include <stdexcept>

namespace varurovodiv::wire {

namespace {

// libcrypto fails here only when it cannot allocate or its SHA-256 provider
// is missing, neither of which the protocol can carry on without.
void Check(int ok, const char* what) {
  if (ok != 1) throw std::runtime_error(what);
}

}  // namespace

void Sha256::Free::operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }

Sha256::Sha256() : ctx_(EVP_MD_CTX_new()) {
  if (!ctx_) throw std::bad_alloc();
  Check(EVP_DigestInit_ex(ctx_.get(), EVP_sha256(), nullptr), "SHA-256 init");
}

void Sha256::Update(const void* data, size_t size) {
  Check(EVP_DigestUpdate(ctx_.get(), data, size), "SHA-256 update");
}

Digest Sha256::Final() {
  Digest d;
  unsigned int size = 0;
  Check(EVP_DigestFinal_ex(ctx_.get(), d.data(), &size), "SHA-256 final");
  Check(EVP_DigestInit_ex(ctx_.get(), EVP_sha256(), nullptr), "SHA-256 init");
  return d;
}

Digest Sha256Of(std::string_view data) {
  Digest d;
  unsigned int size = 0;
  Check(EVP_Digest(data.data(), data.size(), d.data(), &size, EVP_sha256(), nullptr), "SHA-256");
  return d;
}

std::string DigestBytes(const Digest& d) {
  return std::string(reinterpret_cast<const char*>(d.data()), d.size());
}

std::string ToHex(std::string_view bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

bool DigestEqual(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace varurovodiv::wire
