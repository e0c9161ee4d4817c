// The wire format: SHA-256 against published vectors, the login's key exchange,
// the sealed link, frames round trip, and the parser refuses bad streams
// before buffering what they announce.
#include <gtest/gtest.h>
#include <sodium.h>

#include <functional>
#include <string>

#include "digest.h"
#include "link_seal.h"
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
  const std::string d = wire::DigestBytes(wire::Sha256Of(text));
  EXPECT_TRUE(wire::DigestEqual(d, d));
  EXPECT_FALSE(wire::DigestEqual(d, d.substr(1)));
}

namespace {

using Side = wire::LoginExchange::Side;

struct LoginInputs {
  std::string password = "pw";
  std::string user = "admin";
  std::string device_nonce = std::string(16, 'd');
  std::string client_nonce = std::string(16, 'c');
};

struct LoginOutcome {
  bool shares_taken = false;
  bool device_accepts = false;  // the client's tag
  bool client_accepts = false;  // the device's tag
};

LoginOutcome RunLogin(const LoginInputs& client, const LoginInputs& device) {
  wire::LoginExchange c(Side::kClient, client.password, client.user, client.device_nonce,
                        client.client_nonce);
  wire::LoginExchange d(Side::kDevice, device.password, device.user, device.device_nonce,
                        device.client_nonce);
  if (!d.TakePeerShare(c.share()) || !c.TakePeerShare(d.share())) return {};
  return {true, d.CheckPeerTag(c.Tag()), c.CheckPeerTag(d.Tag())};
}

}  // namespace

TEST(LoginExchange, BothSidesAgreeOnlyOnTheSamePasswordUserAndNonces) {
  struct Case {
    const char* name;
    void (*change)(LoginInputs&);
    bool agree;
  };
  const Case cases[] = {
      {"same inputs", [](LoginInputs&) {}, true},
      {"wrong password", [](LoginInputs& i) { i.password = "pW"; }, false},
      {"password a prefix", [](LoginInputs& i) { i.password = "p"; }, false},
      {"empty password", [](LoginInputs& i) { i.password.clear(); }, false},
      {"other user", [](LoginInputs& i) { i.user = "admin2"; }, false},
      {"bytes moved from password to user",
       [](LoginInputs& i) {
         i.user = "adminp";
         i.password = "w";
       },
       false},
      {"other device nonce", [](LoginInputs& i) { i.device_nonce[15] = 'e'; }, false},
      {"other client nonce", [](LoginInputs& i) { i.client_nonce[0] = 'b'; }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoginInputs device;
    c.change(device);
    const LoginOutcome o = RunLogin(LoginInputs{}, device);
    EXPECT_TRUE(o.shares_taken);
    EXPECT_EQ(o.device_accepts, c.agree);
    EXPECT_EQ(o.client_accepts, c.agree);
  }
}

TEST(LoginExchange, PeerSharesThatAreNoPointAreRefused) {
  const LoginInputs in;
  wire::LoginExchange device(Side::kDevice, in.password, in.user, in.device_nonce, in.client_nonce);
  std::string altered = device.share();
  altered[7] = static_cast<char>(altered[7] ^ 0x10);
  std::string high_bit = device.share();
  high_bit[31] = static_cast<char>(high_bit[31] | 0x80);  // never set in a canonical encoding
  const std::pair<const char*, std::string> bad[] = {
      {"identity", std::string(32, '\0')},
      {"all ones", std::string(32, '\xff')},
      {"high bit set", high_bit},
      {"short", device.share().substr(1)},
      {"long", device.share() + "x"},
      {"empty", ""},
  };
  for (const auto& [name, share] : bad) {
    SCOPED_TRACE(name);
    wire::LoginExchange client(Side::kClient, in.password, in.user, in.device_nonce,
                               in.client_nonce);
    EXPECT_FALSE(client.TakePeerShare(share));
    EXPECT_EQ(client.Tag(), "");
    EXPECT_FALSE(client.CheckPeerTag(std::string(32, '\0')));
  }
  // A share altered in transit is refused, or leaves the sides disagreeing.
  wire::LoginExchange client(Side::kClient, in.password, in.user, in.device_nonce,
                             in.client_nonce);
  ASSERT_TRUE(device.TakePeerShare(client.share()));
  if (client.TakePeerShare(altered)) {
    EXPECT_FALSE(device.CheckPeerTag(client.Tag()));
    EXPECT_FALSE(client.CheckPeerTag(device.Tag()));
  }
}

TEST(LoginExchange, TagsAreBoundToTheirSideAndTakenOnce) {
  const LoginInputs in;
  wire::LoginExchange client(Side::kClient, in.password, in.user, in.device_nonce, in.client_nonce);
  wire::LoginExchange device(Side::kDevice, in.password, in.user, in.device_nonce, in.client_nonce);
  ASSERT_TRUE(device.TakePeerShare(client.share()));
  ASSERT_TRUE(client.TakePeerShare(device.share()));
  const std::string tag = client.Tag();
  ASSERT_EQ(tag.size(), wire::kTagSize);
  EXPECT_TRUE(device.CheckPeerTag(tag));
  EXPECT_FALSE(client.CheckPeerTag(tag));  // reflected to its sender
  EXPECT_NE(tag, device.Tag());
  EXPECT_FALSE(device.CheckPeerTag(tag.substr(1)));
  std::string flipped = tag;
  flipped[31] = static_cast<char>(flipped[31] ^ 1);
  EXPECT_FALSE(device.CheckPeerTag(flipped));
  // The peer's share is taken once: a second one cannot re-key the exchange.
  wire::LoginExchange other(Side::kDevice, in.password, in.user, in.device_nonce, in.client_nonce);
  EXPECT_FALSE(client.TakePeerShare(other.share()));
  EXPECT_EQ(client.Tag(), tag);
}

TEST(LoginExchange, EqualInputsGiveFreshSharesAndTags) {
  const LoginInputs in;
  std::string shares[2], tags[2];
  for (int i = 0; i < 2; ++i) {
    wire::LoginExchange c(Side::kClient, in.password, in.user, in.device_nonce, in.client_nonce);
    wire::LoginExchange d(Side::kDevice, in.password, in.user, in.device_nonce, in.client_nonce);
    ASSERT_TRUE(d.TakePeerShare(c.share()));
    ASSERT_TRUE(c.TakePeerShare(d.share()));
    shares[i] = c.share();
    tags[i] = c.Tag();
    ASSERT_EQ(shares[i].size(), wire::kShareSize);
  }
  EXPECT_NE(shares[0], shares[1]);
  EXPECT_NE(tags[0], tags[1]);
}

TEST(Login, MessagesRoundTripAndRefuseBadSizesAndMethods) {
  const wire::Hello h{std::string(16, 'n')};
  const std::string hello = wire::EncodeHello(h);
  ASSERT_EQ(hello.size(), 20u);
  const auto back = wire::DecodeHello(hello);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->nonce, h.nonce);
  EXPECT_EQ(hello.substr(0, 4), std::string("\0\0\0\2", 4));
  // Method 1, the exchange with the link left in clear, is not taken.
  std::string other_method = hello;
  other_method[3] = 1;
  EXPECT_FALSE(wire::DecodeHello(other_method));
  EXPECT_FALSE(wire::DecodeHello(hello.substr(1)));
  EXPECT_FALSE(wire::DecodeHello(hello + "x"));
  // The former login's HELLO (challenge, rounds, salt) is no HELLO of this one.
  EXPECT_FALSE(wire::DecodeHello(std::string(16, 'c') + std::string("\0\1\x86\xa0", 4) +
                                 std::string(16, 's')));

  const wire::LoginShare l{"admin", std::string(16, 'n'), std::string(32, 'p')};
  const auto got = wire::DecodeLoginShare(wire::EncodeLoginShare(l));
  ASSERT_TRUE(got);
  EXPECT_EQ(got->user, "admin");
  EXPECT_EQ(got->nonce, l.nonce);
  EXPECT_EQ(got->share, l.share);
  const std::string encoded = wire::EncodeLoginShare(l);
  EXPECT_FALSE(wire::DecodeLoginShare(encoded.substr(0, encoded.size() - 1)));
  EXPECT_FALSE(wire::DecodeLoginShare(encoded + "x"));
  EXPECT_FALSE(wire::DecodeLoginShare(std::string(48, 'x')));  // no user terminator
  // User names up to 255 bytes; a longer one is refused.
  for (const size_t size : {size_t{255}, size_t{256}, size_t{1} << 20}) {
    const std::string share = wire::EncodeLoginShare({std::string(size, 'u'), l.nonce, l.share});
    EXPECT_EQ(wire::DecodeLoginShare(share).has_value(), size <= wire::kMaxUserSize) << size;
    if (size == wire::kMaxUserSize) {
      EXPECT_EQ(share.size(), wire::kMaxLoginMessage);
    }
  }
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
  // 1 MiB, a seal's tag and one byte.
  oversize[24] = 0x00; oversize[25] = 0x10; oversize[26] = 0x00; oversize[27] = 0x11;
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
  // The largest allowed payload (1 MiB and a seal's tag) is accepted.
  std::string max = wire::EncodeFrame(wire::FrameType::kHeartbeat, 1, 1, 0, 0, "");
  max[24] = 0x00; max[25] = 0x10; max[26] = 0x00; max[27] = 0x10;
  wire::FrameParser p;
  EXPECT_TRUE(p.Feed(max.data(), max.size()));
  // A lowered limit (a login not yet made) refuses a longer header at once.
  wire::FrameParser login;
  login.set_payload_limit(wire::kMaxLoginMessage);
  const std::string share = wire::EncodeFrame(wire::FrameType::kLoginShare, 1, 0, 0, 0,
                                              std::string(wire::kMaxLoginMessage, 'x'));
  EXPECT_TRUE(login.Feed(share.data(), share.size()));
  EXPECT_TRUE(login.Next().has_value());
  const std::string longer = wire::EncodeFrame(wire::FrameType::kLoginShare, 2, 0, 0, 0,
                                               std::string(wire::kMaxLoginMessage + 1, 'x'));
  EXPECT_FALSE(login.Feed(longer.data(), wire::kHeaderSize));
  EXPECT_EQ(login.error(), wire::ParseError::kOversize);
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

namespace {

// Both ends of one logged-in link.
struct SealedPair {
  SealedPair() {
    const LoginInputs in;
    wire::LoginExchange c(Side::kClient, in.password, in.user, in.device_nonce, in.client_nonce);
    wire::LoginExchange d(Side::kDevice, in.password, in.user, in.device_nonce, in.client_nonce);
    EXPECT_TRUE(d.TakePeerShare(c.share()));
    EXPECT_TRUE(c.TakePeerShare(d.share()));
    client = std::make_unique<wire::LinkSeal>(c);
    device = std::make_unique<wire::LinkSeal>(d);
  }
  std::unique_ptr<wire::LinkSeal> client, device;
};

wire::Frame ParseOne(const std::string& bytes) {
  wire::FrameParser p;
  EXPECT_TRUE(p.Feed(bytes.data(), bytes.size()));
  auto f = p.Next();
  EXPECT_TRUE(f.has_value());
  return f ? *f : wire::Frame{};
}

}  // namespace

// The sealed frame as docs/device-protocol.md describes it, checked with
// libsodium directly: the header (its length counting the tag) is the
// associated data, the nonce four zero bytes and the frame's number in its
// direction, the tag after the encrypted payload.
TEST(LinkSeal, FramesAreSealedAsDocumented) {
  std::array<unsigned char, 32> send{}, receive{};
  send.fill(0x11);
  receive.fill(0x22);
  wire::LinkSeal seal(send, receive);
  const std::string text = "<Capture Volume=\"80\" />";
  std::string stream;
  ASSERT_TRUE(seal.Append(stream, wire::FrameType::kSetConfig, 7, 3, 527, 0, "first"));
  ASSERT_TRUE(seal.Append(stream, wire::FrameType::kSetConfig, 8, 3, 527, 0, text));
  const std::string second = stream.substr(wire::kHeaderSize + 5 + wire::kSealTagSize);
  ASSERT_EQ(second.size(), wire::kHeaderSize + text.size() + wire::kSealTagSize);
  const auto* p = reinterpret_cast<const unsigned char*>(second.data());
  const wire::FrameHeader h = wire::DecodeHeader(p);
  EXPECT_EQ(h.payload_length, text.size() + wire::kSealTagSize);
  EXPECT_EQ(h.sequence, 8u);
  EXPECT_EQ(second.find(text), std::string::npos);  // not in clear
  unsigned char nonce[crypto_aead_chacha20poly1305_ietf_NPUBBYTES] = {};
  nonce[11] = 1;  // the second frame of its direction
  std::string plain(text.size(), '\0');
  ASSERT_EQ(crypto_aead_chacha20poly1305_ietf_decrypt_detached(
                reinterpret_cast<unsigned char*>(plain.data()), nullptr, p + wire::kHeaderSize,
                text.size(), p + wire::kHeaderSize + text.size(), p, wire::kHeaderSize, nonce,
                send.data()),
            0);
  EXPECT_EQ(plain, text);
  // The peer (keys crossed) opens both in order.
  wire::LinkSeal peer(receive, send);
  wire::FrameParser parser;
  ASSERT_TRUE(parser.Feed(stream.data(), stream.size()));
  auto a = parser.Next();
  auto b = parser.Next();
  ASSERT_TRUE(a && b);
  ASSERT_TRUE(peer.Open(*a));
  ASSERT_TRUE(peer.Open(*b));
  EXPECT_EQ(a->payload, "first");
  EXPECT_EQ(b->payload, text);
  EXPECT_EQ(b->header.payload_length, text.size());
  EXPECT_EQ(b->header.command, 527u);
}

// Both ends of a login derive the same two keys; whatever is changed, moved,
// repeated, reflected or brought from another link does not open, and an
// unchanged frame still opens after a failed attempt only if in its place.
TEST(LinkSeal, OnlyTheNextUnchangedFrameOfThePeerOpens) {
  struct Case {
    const char* name;
    // Given the client's first two sealed frames, what reaches the device.
    std::function<std::string(const std::string& first, const std::string& second)> wire;
  };
  auto flip = [](size_t at) {
    return [at](const std::string& first, const std::string&) {
      std::string f = first;
      f[at] = static_cast<char>(f[at] ^ 1);
      return f;
    };
  };
  SealedPair other;
  const Case cases[] = {
      {"type", flip(7)},
      {"sequence", flip(11)},
      {"handle", flip(15)},
      {"command", flip(19)},
      {"result", flip(23)},
      {"reserved", flip(31)},
      {"payload", flip(wire::kHeaderSize + 2)},
      {"tag", flip(wire::kHeaderSize + 5 + 3)},
      {"second before the first", [](const std::string&, const std::string& second) { return second; }},
      {"in clear", [](const std::string&, const std::string&) {
         return wire::EncodeFrame(wire::FrameType::kGetConfig, 1, 0, 504, 0, std::string(16, 'x'));
       }},
      {"shorter than a tag", [](const std::string&, const std::string&) {
         return wire::EncodeFrame(wire::FrameType::kGetConfig, 1, 0, 504, 0, "x");
       }},
      {"of another login", [&](const std::string&, const std::string&) {
         return other.client->Seal(wire::FrameType::kGetConfig, 1, 0, 504, 0, "hello");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SealedPair link;
    const std::string first = link.client->Seal(wire::FrameType::kGetConfig, 1, 0, 504, 0, "hello");
    const std::string second = link.client->Seal(wire::FrameType::kGetConfig, 2, 0, 505, 0, "world");
    wire::Frame f = ParseOne(c.wire(first, second));
    EXPECT_FALSE(link.device->Open(f));
    EXPECT_EQ(link.device->opened(), 0u);
  }
  SealedPair link;
  const std::string first = link.client->Seal(wire::FrameType::kGetConfig, 1, 0, 504, 0, "hello");
  wire::Frame f = ParseOne(first);
  wire::Frame again = f;
  ASSERT_TRUE(link.device->Open(f));
  EXPECT_EQ(f.payload, "hello");
  EXPECT_FALSE(link.device->Open(again)) << "a repeated frame";
  // A frame reflected to its sender does not open (each direction has its key).
  const std::string reply = link.client->Seal(wire::FrameType::kGetConfig, 2, 0, 504, 0, "x");
  wire::Frame reflected = ParseOne(reply);
  EXPECT_FALSE(link.client->Open(reflected));
  // The device's replies open at the client, the largest payload too.
  const std::string big(wire::kMaxPayload, 'b');
  wire::Frame back = ParseOne(link.device->Seal(0x8005, 1, 0, 504, 0, big));
  ASSERT_TRUE(link.client->Open(back));
  EXPECT_EQ(back.payload, big);
  EXPECT_THROW(link.device->Seal(0x8005, 2, 0, 504, 0, big + "x"), std::length_error);
}

// A frame one byte too long for the link is refused without a trace: nothing
// appended, nothing counted, so the frames after it still open in order.
TEST(LinkSeal, AFrameThatCannotBeSealedLeavesTheLinkInStep) {
  SealedPair link;
  std::string out = "queued";
  EXPECT_FALSE(link.client->Append(out, wire::FrameType::kGetFile, 1, 0, 4, 0,
                                   std::string(wire::kMaxPayload + 1, 'p')));
  EXPECT_EQ(out, "queued");
  EXPECT_EQ(link.client->sent(), 0u);
  out.clear();
  ASSERT_TRUE(link.client->Append(out, wire::FrameType::kGetFile, 2, 0, 4, 0, "/oem/mp3/a.mp3"));
  wire::Frame f = ParseOne(out);
  ASSERT_TRUE(link.device->Open(f));
  EXPECT_EQ(f.payload, "/oem/mp3/a.mp3");
}
