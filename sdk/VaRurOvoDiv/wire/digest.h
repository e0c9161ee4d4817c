#pragma once
// SHA-256 from libcrypto: the file-transfer checksums of the device protocol.
#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

typedef struct evp_md_ctx_st EVP_MD_CTX;

namespace varurovodiv::wire {

using Digest = std::array<unsigned char, 32>;

// A running SHA-256 over data that arrives in pieces (a file transfer).
// Movable, so a transfer record holding one can be reset by assignment.
class Sha256 {
 public:
  Sha256();
  void Update(const void* data, size_t size);
  void Update(std::string_view text) { Update(text.data(), text.size()); }
  // The digest of everything fed so far; the hash then starts over.
  Digest Final();

 private:
  struct Free {
    void operator()(EVP_MD_CTX* ctx) const;
  };
  std::unique_ptr<EVP_MD_CTX, Free> ctx_;
};

Digest Sha256Of(std::string_view data);
std::string DigestBytes(const Digest& d);
std::string ToHex(std::string_view bytes);

// Constant-time comparison of two digests.
bool DigestEqual(std::string_view a, std::string_view b);

}  // namespace varurovodiv::wire
