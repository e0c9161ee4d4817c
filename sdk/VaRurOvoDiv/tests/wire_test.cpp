// The wire format: SHA-256/HMAC against published vectors, frames round trip,
// and the parser refuses bad streams before buffering what they announce.
#include <gtest/gtest.h>

#include <string>

#include "digest.h"
#include "login_handshake.h"
#include "wire_frame.h"

namespace wire = varurovodiv::wire;

TEST(Sha256, PublishedVectors) {
  struct Case { std::string in; const char* hex; };
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(wire::ToHex(wire::DigestBytes(wire::Sha256Of(c.in))), c.hex) << c.in.size();
  }
  // Fed in uneven pieces, the digest is the same.
  wire::Sha256 s;
  const std::string text(1000, 'x');
  for (size_t at = 0; at < text.size(); at += 7) s.Update(text.substr(at, 7));
  EXPECT_EQ(wire::DigestBytes(s.Final()), wire::DigestBytes(wire::Sha256Of(text)));
}

TEST(Sha256, HmacRfc4231) {
  EXPECT_EQ(wire::ToHex(wire::DigestBytes(
                wire::HmacSha256("Jefe", "what do ya want for nothing?"))),
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
  // Case 6: a key longer than the block is hashed first.
  EXPECT_EQ(wire::ToHex(wire::DigestBytes(wire::HmacSha256(
                std::string(131, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First"))),
            "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
}

TEST(Login, KeyIsPbkdf2HmacSha256) {
  // RFC 7914, section 11: PBKDF2-HMAC-SHA-256("passwd", "salt", 1); the first
  // block does not depend on the length asked for.
  EXPECT_EQ(wire::ToHex(wire::DigestBytes(wire::LoginKey("passwd", "salt", 1))),
            "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc");
}

TEST(Login, ProofDependsOnEveryInput) {
  const auto key = wire::LoginKey("pw", std::string(16, 's'), 2);
  const auto base = wire::DigestBytes(wire::LoginProof(key, "0123456789abcdef", "nonce", "admin"));
  EXPECT_NE(base, wire::DigestBytes(wire::LoginProof(wire::LoginKey("pW", std::string(16, 's'), 2),
                                                     "0123456789abcdef", "nonce", "admin")));
  EXPECT_NE(base, wire::DigestBytes(wire::LoginProof(wire::LoginKey("pw", std::string(16, 't'), 2),
                                                     "0123456789abcdef", "nonce", "admin")));
  EXPECT_NE(base, wire::DigestBytes(wire::LoginProof(wire::LoginKey("pw", std::string(16, 's'), 3),
                                                     "0123456789abcdef", "nonce", "admin")));
  EXPECT_NE(base, wire::DigestBytes(wire::LoginProof(key, "0123456789abcdeF", "nonce", "admin")));
  EXPECT_NE(base, wire::DigestBytes(wire::LoginProof(key, "0123456789abcdef", "Nonce", "admin")));
  EXPECT_NE(base, wire::DigestBytes(wire::LoginProof(key, "0123456789abcdef", "nonce", "admin2")));
  EXPECT_TRUE(wire::DigestEqual(base, base));
  EXPECT_FALSE(wire::DigestEqual(base, base.substr(1)));
}

TEST(Login, HelloAndLoginRoundTripAndRefuseBadSizesAndRounds) {
  wire::Hello h{std::string(16, 'c'), 250000, std::string(16, 's')};
  const auto back = wire::DecodeHello(wire::EncodeHello(h));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->challenge, h.challenge);
  EXPECT_EQ(back->iterations, 250000u);
  EXPECT_EQ(back->salt, h.salt);
  for (uint32_t rounds : {0u, 1u, wire::kMinLoginIterations - 1, wire::kMaxLoginIterations + 1}) {
    h.iterations = rounds;
    EXPECT_FALSE(wire::DecodeHello(wire::EncodeHello(h))) << rounds;
  }
  h.iterations = wire::kLoginIterations;
  EXPECT_FALSE(wire::DecodeHello(wire::EncodeHello(h).substr(1)));
  EXPECT_FALSE(wire::DecodeHello(wire::EncodeHello(h) + "x"));

  const wire::LoginRequest l{"admin", std::string(16, 'n'), std::string(32, 'p')};
  const auto got = wire::DecodeLogin(wire::EncodeLogin(l));
  ASSERT_TRUE(got);
  EXPECT_EQ(got->user, "admin");
  EXPECT_EQ(got->nonce, l.nonce);
  EXPECT_EQ(got->proof, l.proof);
  EXPECT_FALSE(wire::DecodeLogin(wire::EncodeLogin(l).substr(1 + 0, 10)));
  EXPECT_FALSE(wire::DecodeLogin(std::string(48, 'x')));  // no user terminator
  EXPECT_NE(wire::RandomBytes(16), wire::RandomBytes(16));
}

TEST(FrameParser, RoundTripsFramesFedByteByByte) {
  const std::string a = wire::EncodeFrame(wire::FrameType::kGetConfig, 7, 42, 504, 0, "");
  const std::string b =
      wire::EncodeFrame(wire::FrameType::kSetConfig, 8, -3, 524, 255, std::string("x\0y", 3));
  const std::string stream = a + b;
  ASSERT_EQ(a.size(), wire::kHeaderSize);
  wire::FrameParser p;
  std::vector<wire::Frame> frames;
  for (char c : stream) {
    ASSERT_TRUE(p.Feed(&c, 1));
    while (auto f = p.Next()) frames.push_back(*f);
  }
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].header.type, 5);
  EXPECT_EQ(frames[0].header.sequence, 7u);
  EXPECT_EQ(frames[0].header.handle, 42);
  EXPECT_EQ(frames[0].header.command, 504u);
  EXPECT_EQ(frames[1].header.handle, -3);
  EXPECT_EQ(frames[1].header.result, 255);
  EXPECT_EQ(frames[1].payload, std::string("x\0y", 3));
  EXPECT_EQ(p.buffered(), 0u);
}

TEST(FrameParser, RefusesBadStreams) {
  struct Case { const char* what; std::string bytes; wire::ParseError error; };
  std::string bad_magic = wire::EncodeFrame(wire::FrameType::kHeartbeat, 1, 1, 0, 0, "");
  bad_magic[0] = 'X';
  std::string bad_version = wire::EncodeFrame(wire::FrameType::kHeartbeat, 1, 1, 0, 0, "");
  bad_version[5] = 9;
  std::string oversize = wire::EncodeFrame(wire::FrameType::kHeartbeat, 1, 1, 0, 0, "");
  oversize[24] = 0x00; oversize[25] = 0x10; oversize[26] = 0x00; oversize[27] = 0x01;  // 1 MiB + 1
  const Case cases[] = {
      {"magic", bad_magic.substr(0, 4), wire::ParseError::kBadMagic},
      {"version", bad_version.substr(0, 6), wire::ParseError::kBadVersion},
      {"oversize header alone", oversize, wire::ParseError::kOversize},
      {"http", "GET / HTTP/1.0\r\n\r\n", wire::ParseError::kBadMagic},
  };
  for (const Case& c : cases) {
    wire::FrameParser p;
    EXPECT_FALSE(p.Feed(c.bytes.data(), c.bytes.size())) << c.what;
    EXPECT_EQ(p.error(), c.error) << c.what;
    EXPECT_FALSE(p.Next().has_value()) << c.what;
    // Once failed it stays failed, whatever follows.
    const std::string good = wire::EncodeFrame(wire::FrameType::kHeartbeat, 1, 1, 0, 0, "");
    EXPECT_FALSE(p.Feed(good.data(), good.size())) << c.what;
  }
  // The largest allowed payload is accepted.
  std::string max = wire::EncodeFrame(wire::FrameType::kHeartbeat, 1, 1, 0, 0, "");
  max[24] = 0x00; max[25] = 0x10; max[26] = 0x00; max[27] = 0x00;
  wire::FrameParser p;
  EXPECT_TRUE(p.Feed(max.data(), max.size()));
}

TEST(FrameParser, FrameAfterAGoodOneIsJudgedToo) {
  std::string stream = wire::EncodeFrame(wire::FrameType::kHeartbeat, 1, 1, 0, 0, "ok");
  stream += "garbage-garbage-garbage-garbage!";
  wire::FrameParser p;
  p.Feed(stream.data(), stream.size());
  auto f = p.Next();
  ASSERT_TRUE(f.has_value());
  EXPECT_EQ(f->payload, "ok");
  EXPECT_FALSE(p.Next().has_value());
  EXPECT_EQ(p.error(), wire::ParseError::kBadMagic);
}
