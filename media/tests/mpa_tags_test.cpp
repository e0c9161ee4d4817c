// Tags at both ends of MP3 files and VBR headers: encoder-made tags read
// back, hand-made tags for the rarer kinds, and sizes that claim more than
// the file holds.
#include <gtest/gtest.h>

#include "media/core/mpa_file.h"
#include "mp3_fixtures.h"

namespace kelvara::media {
namespace {

using test::Append;
using test::EncodedMp3Dir;
using test::SyntheticFrames;

struct TagSeen {
  std::string name;
  float version;
  bool atEnd;
  std::int64_t offset, size;
};

std::vector<TagSeen> TagsOf(const CMPAFile& file) {
  std::vector<TagSeen> tags;
  for (std::size_t i = 0; i < file.GetTags().GetNumTags(); ++i) {
    const CTag* t = file.GetTags().GetTag(i);
    tags.push_back({t->GetName(), t->GetVersion(), t->IsAtEnd(), t->GetOffset(), t->GetSize()});
  }
  return tags;
}

std::vector<std::uint8_t> Id3v1(std::uint8_t track) {
  std::vector<std::uint8_t> tag(128, 0);
  tag[0] = 'T', tag[1] = 'A', tag[2] = 'G', tag[3] = 'x';
  tag[126] = track;
  return tag;
}

// An ID3v2.4 tag with a body of `body` bytes, header or footer form.
std::vector<std::uint8_t> Id3v2(bool footerForm, int body, bool withFooterFlag = true) {
  const auto head = [&](const char* id) {
    std::vector<std::uint8_t> h = {std::uint8_t(id[0]), std::uint8_t(id[1]), std::uint8_t(id[2]), 4, 0,
                                   std::uint8_t(withFooterFlag ? 0x10 : 0)};
    for (int shift : {21, 14, 7, 0}) h.push_back(static_cast<std::uint8_t>((body >> shift) & 0x7F));
    return h;
  };
  std::vector<std::uint8_t> tag = head("ID3");
  tag.resize(tag.size() + body, 0);
  if (footerForm) Append(tag, head("3DI"));
  return tag;
}

TEST(MpaTagsTest, EncoderTagsAreFoundAndRemovedFromTheAudioRange) {
  {
    CMPAFile file((EncodedMp3Dir() / "cbr_44100_stereo_xing.mp3").string());
    const auto tags = TagsOf(file);
    ASSERT_EQ(tags.size(), 2u);
    EXPECT_EQ(tags[0].name, "ID3");
    EXPECT_TRUE(tags[0].atEnd);
    EXPECT_FLOAT_EQ(tags[0].version, 1.1f);  // a track number
    EXPECT_EQ(tags[1].name, "ID3");
    EXPECT_FALSE(tags[1].atEnd);
    EXPECT_FLOAT_EQ(tags[1].version, 2.3f);
    EXPECT_EQ(file.GetBegin(), tags[1].size);
    EXPECT_EQ(file.GetEnd(), tags[0].offset);
    const auto* info = dynamic_cast<const CXINGHeader*>(file.GetVBRHeader());
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->isInfo);
  }
  {
    // APEv2 with header before an ID3v1.0 tag, ID3v2.4 at the start.
    CMPAFile file((EncodedMp3Dir() / "ape_id3v1.mp3").string());
    const auto tags = TagsOf(file);
    ASSERT_EQ(tags.size(), 3u);
    EXPECT_FLOAT_EQ(tags[0].version, 1.0f);
    EXPECT_EQ(tags[1].name, "APE");
    EXPECT_FLOAT_EQ(tags[1].version, 2.0f);
    EXPECT_EQ(tags[1].offset + tags[1].size, tags[0].offset);
    const auto bytes = test::ReadFileBytes(EncodedMp3Dir() / "ape_id3v1.mp3");
    EXPECT_EQ(std::string(bytes.begin() + tags[1].offset, bytes.begin() + tags[1].offset + 8), "APETAGEX");
    EXPECT_FLOAT_EQ(tags[2].version, 2.4f);
    EXPECT_EQ(file.GetEnd(), tags[1].offset);
    const auto* xing = dynamic_cast<const CXINGHeader*>(file.GetVBRHeader());
    ASSERT_TRUE(xing);
    EXPECT_FALSE(xing->isInfo);
    EXPECT_EQ(xing->toc.size(), 100u);
    EXPECT_GT(xing->frames, 0u);
    EXPECT_EQ(xing->SeekPoint(0).value(), 0u);
    EXPECT_LE(xing->SeekPoint(150).value(), xing->bytes);
  }
}

TEST(MpaTagsTest, HandMadeTagsInSearchOrder) {
  const std::vector<std::uint8_t> audio = SyntheticFrames(4);
  struct Case {
    const char* name;
    std::vector<std::uint8_t> head, tail;
    std::vector<std::string> found;  // names in search order
  };
  std::vector<std::uint8_t> lyrics2;
  Append(lyrics2, std::string("LYRICSBEGIN") + "[00:01]la");
  Append(lyrics2, std::string("000020LYRICS200"));
  std::vector<std::uint8_t> lyrics1;
  Append(lyrics1, std::string("LYRICSBEGINsome words LYRICSEND"));
  std::vector<std::uint8_t> lyricsThenId3 = lyrics2;
  Append(lyricsThenId3, Id3v1(0));
  const std::vector<Case> cases = {
      {"id3v2.4 footer at the end", {}, Id3v2(true, 50), {"ID3"}},
      {"id3v2.4 with footer at the start", Id3v2(true, 50), {}, {"ID3"}},
      {"lyrics3 v2 before id3v1", {}, lyricsThenId3, {"ID3", "Lyrics3"}},
      {"lyrics3 v1", {}, lyrics1, {"Lyrics3"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> bytes = c.head;
    Append(bytes, audio);
    Append(bytes, c.tail);
    CMPAFile file("mem.mp3", bytes);
    const auto tags = TagsOf(file);
    ASSERT_EQ(tags.size(), c.found.size());
    for (std::size_t i = 0; i < tags.size(); ++i) EXPECT_EQ(tags[i].name, c.found[i]);
    EXPECT_EQ(file.GetBegin(), static_cast<std::int64_t>(c.head.size()));
    EXPECT_EQ(file.GetEnd(), static_cast<std::int64_t>(c.head.size() + audio.size()));
  }
}

TEST(MpaTagsTest, ApeAtTheStartAndBeforeLyrics) {
  // APE v2 with header at the start (header form, then items and footer).
  const auto ape = [](bool headerForm, std::uint32_t itemsAndFooter) {
    std::vector<std::uint8_t> t;
    Append(t, std::string("APETAGEX"));
    for (std::uint32_t v : {2000u, itemsAndFooter, 0u, headerForm ? 0xC0000000u : 0x80000000u})
      for (int k = 0; k < 4; ++k) t.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
    t.resize(32, 0);
    return t;
  };
  std::vector<std::uint8_t> bytes = ape(true, 32);
  Append(bytes, ape(false, 32));
  const std::size_t audioAt = bytes.size();
  Append(bytes, SyntheticFrames(3));
  CMPAFile file("mem.mp3", bytes);
  ASSERT_EQ(file.GetTags().GetNumTags(), 1u);
  EXPECT_EQ(file.GetTags().GetTag(0)->GetSize(), 64);
  EXPECT_EQ(file.GetBegin(), static_cast<std::int64_t>(audioAt));
}

TEST(MpaTagsTest, SizesBeyondTheFileAreReportedAndIgnored) {
  const std::vector<std::uint8_t> audio = SyntheticFrames(4);
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    CMPAException::ErrorID error;
  };
  std::vector<Case> cases;
  {
    std::vector<std::uint8_t> b = Id3v2(false, 10, false);
    b[6] = 0x7F;  // about 266 MB
    Append(b, audio);
    cases.push_back({"id3v2 larger than the file", b, CMPAException::EndOfBuffer});
  }
  {
    std::vector<std::uint8_t> b = audio;
    Append(b, std::string("999999LYRICS200"));
    cases.push_back({"lyrics3 v2 larger than the file", b, CMPAException::EndOfBuffer});
  }
  {
    std::vector<std::uint8_t> b = audio;
    Append(b, std::string("no start here LYRICSEND"));
    cases.push_back({"lyrics3 v1 without its start", b, CMPAException::CorruptLyricsTag});
  }
  {
    std::vector<std::uint8_t> b = audio;
    Append(b, std::string("APETAGEX"));
    for (std::uint32_t v : {1000u, 0x7FFFFFF0u, 0u, 0u})
      for (int k = 0; k < 4; ++k) b.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
    b.resize(b.size() + 8, 0);
    cases.push_back({"ape larger than the file", b, CMPAException::EndOfBuffer});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<CMPAException::ErrorID> errors;
    CMPAFile file("mem.mp3", c.bytes, [&](const CMPAException& e) { errors.push_back(e.GetErrorID()); });
    EXPECT_EQ(file.GetTags().GetNumTags(), 0u);
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.front(), c.error);
    EXPECT_GE(file.GetFirstFrame().GetOffset(), 0);
  }
}

// A first frame carrying a VBRI header with a table of `entries` + 1 values.
std::vector<std::uint8_t> VbriFile(std::uint16_t entries, std::uint16_t entrySize) {
  std::vector<std::uint8_t> bytes = SyntheticFrames(1);
  std::vector<std::uint8_t> h;
  const auto be = [&](std::uint32_t v, int n) {
    for (int k = n - 1; k >= 0; --k) h.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
  };
  Append(h, std::string("VBRI"));
  be(1, 2), be(576, 2), be(75, 2), be(417 * 100, 4), be(100, 4), be(entries, 2), be(1, 2), be(entrySize, 2),
      be(10, 2);
  for (int i = 0; i <= 9 && i <= entries; ++i) be(4170, entrySize);
  std::copy(h.begin(), h.end(), bytes.begin() + 36);
  Append(bytes, SyntheticFrames(99));
  return bytes;
}

TEST(MpaTagsTest, VbriHeaderAndItsTable) {
  CMPAFile file("mem.mp3", VbriFile(9, 2));
  const auto* vbri = dynamic_cast<const CVBRIHeader*>(file.GetVBRHeader());
  ASSERT_TRUE(vbri);
  EXPECT_EQ(vbri->frames, 100u);
  EXPECT_EQ(vbri->bytes, 41700u);
  EXPECT_EQ(vbri->toc.size(), 10u);
  EXPECT_EQ(vbri->lengthSec, 2u);  // 100 x 1152 / 44100 = 2.6 s
  EXPECT_EQ(vbri->SeekPoint(50).value(), 20850u);
  // A table that claims more entries than the file holds: no VBR header.
  CMPAFile bad("mem.mp3", VbriFile(0xFFFF, 4));
  EXPECT_EQ(bad.GetVBRHeader(), nullptr);
}

}  // namespace
}  // namespace kelvara::media
