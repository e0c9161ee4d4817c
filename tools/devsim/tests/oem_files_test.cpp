// The simulated device's OEM file stores: page limits, which requests and
// names it takes, and what a delete does to the file that plays.
#include <gtest/gtest.h>

#include "oem_files.h"
#include "wire_frame.h"

namespace kelvara::devsim {
namespace {

std::string Page(OemFileStores& s, const char* type, int page) {
  const auto a = s.Control(1021, std::string("<REQUEST_PARAM SearchMode=\"0\" MediaType=\"") + type +
                                     "\" Page=\"" + std::to_string(page) + "\" />");
  return a && a->result == 0 ? a->text : "error";
}

std::size_t Records(const std::string& page) {
  std::size_t n = 0;
  for (std::size_t at = page.find("<RECORD_FILE"); at != std::string::npos; at = page.find("<RECORD_FILE", at + 1)) ++n;
  return n;
}

TEST(DevsimOemFiles, PagesHoldTenInNameOrderAndEndEmpty) {
  OemFileStores s;
  for (int i = 19; i >= 0; --i) ASSERT_EQ(s.Put("mp3", "f" + std::to_string(100 + i) + ".mp3", std::string(1, '\0')), "ok");
  EXPECT_EQ(Records(Page(s, "OEMMP3", 0)), 10u);
  EXPECT_NE(Page(s, "OEMMP3", 0).find("<RECORD_FILE FilePath=\"/oem/mp3/f100.mp3\" FileLength=\"1\""),
            std::string::npos);
  EXPECT_EQ(Records(Page(s, "OEMMP3", 1)), 10u);
  EXPECT_EQ(Records(Page(s, "OEMMP3", 2)), 0u);  // exactly two pages: the third is empty
  EXPECT_EQ(Records(Page(s, "OEMAPP", 0)), 0u);
  ASSERT_EQ(s.Command("fault repeat_pages 1"), "ok");
  EXPECT_EQ(Page(s, "OEMMP3", 7), Page(s, "OEMMP3", 1).replace(Page(s, "OEMMP3", 1).find("Page=\"1\""), 8, "Page=\"7\""));
}

TEST(DevsimOemFiles, RequestsAndNamesItRefuses) {
  OemFileStores s;
  ASSERT_EQ(s.Put("mp3", "a.mp3", "-"), "ok");
  ASSERT_EQ(s.Put("app", "a.mp3", "\x01"), "ok");
  const struct {
    uint32_t code;
    const char* request;
    int result;
  } cases[] = {
      {1021, "<REQUEST_PARAM MediaType=\"OEMMP3\" />", varurovodiv::wire::kResultBadRequest},
      {1021, "<REQUEST_PARAM MediaType=\"OEMMP3\" Page=\"-1\" />", varurovodiv::wire::kResultBadRequest},
      {1021, "<REQUEST_PARAM MediaType=\"VIDEO\" Page=\"0\" />", varurovodiv::wire::kResultBadRequest},
      {1021, "not xml", varurovodiv::wire::kResultBadRequest},
      {1022, "<REQUEST_PARAM Action=\"Rewind\" />", varurovodiv::wire::kResultBadRequest},
      {1022, "<REQUEST_PARAM Action=\"Play\" FileName=\"/oem/app/a.mp3\" />", varurovodiv::wire::kResultNotFound},
      {1022, "<REQUEST_PARAM Action=\"Play\" FileName=\"/oem/mp3/../mp3/a.mp3\" />", varurovodiv::wire::kResultNotFound},
      {1024, "<REQUEST_PARAM FileName=\"/oem/mp3/b.mp3\" />", varurovodiv::wire::kResultNotFound},
      {1024, "<REQUEST_PARAM />", varurovodiv::wire::kResultBadRequest},
  };
  for (const auto& c : cases) {
    const auto a = s.Control(c.code, c.request);
    ASSERT_TRUE(a) << c.request;
    EXPECT_EQ(a->result, c.result) << c.request;
  }
  EXPECT_FALSE(s.Control(1020, "<REQUEST_PARAM />"));  // not a store request

  for (const char* name : {"", ".", "..", "a/b.mp3", "a\\b.mp3", "tab\tname.mp3"})
    EXPECT_EQ(s.AcceptUpload(5, name), varurovodiv::wire::kResultBadRequest) << name;
  EXPECT_EQ(s.AcceptUpload(5, std::string(256, 'x')), varurovodiv::wire::kResultBadRequest);
  EXPECT_EQ(s.AcceptUpload(5, std::string(255, 'x')), 0);
  EXPECT_EQ(s.AcceptUpload(3, "ok.bin"), 0);
  EXPECT_FALSE(s.AcceptUpload(2, "image.bin"));  // firmware is not the stores' business

  // A bare name plays from the MP3 store; deleting the playing file stops it
  // and leaves the application file of the same name.
  EXPECT_EQ(s.Control(1022, "<REQUEST_PARAM Action=\"Play\" FileName=\"a.mp3\" Loop=\"0\" />")->result, 0);
  EXPECT_EQ(s.Command("play"), "ok playing /oem/mp3/a.mp3 loop=0 plays=1");
  EXPECT_EQ(s.Control(1024, "<REQUEST_PARAM FileName=\"a.mp3\" />")->result, 0);
  EXPECT_EQ(s.Command("play"), "ok stopped plays=1");
  std::string content;
  EXPECT_FALSE(s.Read("/oem/mp3/a.mp3", content));
  ASSERT_TRUE(s.Read("/oem/app/a.mp3", content));
  EXPECT_EQ(content, "\x01");
  EXPECT_FALSE(s.Read("a.mp3", content));  // downloads name a path
}

}  // namespace
}  // namespace kelvara::devsim
