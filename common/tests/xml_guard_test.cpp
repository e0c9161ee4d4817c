// The pre-scan in front of TinyXML: it must count what TinyXML builds (or
// more), even where TinyXML reads markup as text (entities that run to a far
// ';', UTF-8 lead bytes that swallow a '<', quoted values holding '>'); it
// must refuse the hostile shapes and let the largest legitimate texts pass.
#include "common/xml_guard.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "common/tests/xml_shape_oracle.h"

namespace kelvara {
namespace {

using testing::MeasureTree;
using Limit = XmlRefusal::Limit;

std::string Repeat(const std::string& s, std::size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  for (std::size_t i = 0; i < n; ++i) out += s;
  return out;
}

// Texts where a naive scan of '<' and '>' would count differently from TinyXML.
TEST(XmlGuard, CountsWhatTinyXmlBuilds) {
  struct Case {
    const char* name;
    std::string text;
    TiXmlEncoding encoding;
  };
  const Case cases[] = {
      {"plain", "<a x='1'><b y='2' z='3'/><b/>text<c><d/></c></a>", TIXML_ENCODING_LEGACY},
      {"markup inside quoted values", "<a x='</a><b>' y=\"/>\"><c/></a>", TIXML_ENCODING_LEGACY},
      {"unquoted value holding '<'", "<a x=<b><c/></a>", TIXML_ENCODING_LEGACY},
      {"comment, CDATA, unknown holding tags",
       "<!DOCTYPE r><a><!-- </a><b> --><![CDATA[</a><b>]]><?pi </a> ?><c/></a>", TIXML_ENCODING_LEGACY},
      {"hex entity running to a far ';'", "<a>&#x</a><b>x41;<c/></a>", TIXML_ENCODING_LEGACY},
      {"decimal entity running to a far ';'", "<a>&#</a><b>#65;<c/></a>", TIXML_ENCODING_LEGACY},
      {"entity in a value running past its quote", "<a x='&#x'/><b>x41;'><c/></a>", TIXML_ENCODING_LEGACY},
      {"lead byte swallowing an end tag (UTF-8)", "<a>\xE0</a><b>t</b></a>", TIXML_ENCODING_UTF8},
      {"the same read byte by byte", "<a>\xE0</a><b>t</b>", TIXML_ENCODING_LEGACY},
      {"declaration with a quoted '>'", "<?xml version='1>0' encoding=\"x>\"?><a><b/></a>", TIXML_ENCODING_UNKNOWN},
      {"declaration switching to UTF-8", "<?xml version='1.0' encoding='utf-8'?><a>\xE0</a><b/></a>",
       TIXML_ENCODING_UNKNOWN},
      {"byte-order mark", "\xEF\xBB\xBF<a>\xE0</a><b/></a>", TIXML_ENCODING_UNKNOWN},
      {"end tag with blanks", "<a><b></b \n></a  >", TIXML_ENCODING_LEGACY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    XmlShape shape;
    ASSERT_FALSE(CheckXmlShape(c.text, c.encoding, kXmlLimits, &shape));
    TiXmlDocument doc;
    std::string padded = c.text + std::string(16, '\0');
    doc.Parse(padded.c_str(), nullptr, c.encoding);
    const auto built = MeasureTree(doc);
    EXPECT_GE(shape.depth, built.depth);
    EXPECT_GE(shape.elements, built.elements);
    EXPECT_GE(shape.attributes, built.attributes);
    if (!doc.Error()) {
      EXPECT_EQ(shape.depth, built.depth);
      EXPECT_EQ(shape.elements, built.elements);
      EXPECT_EQ(shape.attributes, built.attributes);
    }
  }
}

// The shapes of the faults seen: nesting that overflows TinyXML's recursion,
// one element with a flood of attributes, nesting hidden from a naive scan.
TEST(XmlGuard, RefusesHostileShapes) {
  struct Case {
    const char* name;
    std::string text;
    TiXmlEncoding encoding;
    Limit limit;
  };
  const Case cases[] = {
      {"100,000 nested elements (700 KB list import)", "<root>" + Repeat("<a>", 100'000), TIXML_ENCODING_UNKNOWN,
       Limit::kDepth},
      {"1 MiB of nested elements", Repeat("<a>", (1u << 20) / 3), TIXML_ENCODING_LEGACY, Limit::kDepth},
      {"20,000 nested elements with an attribute each", Repeat("<e a='1'>", 20'000), TIXML_ENCODING_LEGACY,
       Limit::kDepth},
      {"200,000 attributes on one element",
       [] {
         std::string s = "<root><ipcamera";
         for (int i = 0; i < 200'000; ++i) s += " a" + std::to_string(i) + "='1'";
         return s + "/></root>";
       }(),
       TIXML_ENCODING_UNKNOWN, Limit::kAttributesPerElement},
      {"300,000 attributes over 75,000 elements", "<r>" + Repeat("<e a='1' b='2' c='3' d='4'/>", 75'000) + "</r>",
       TIXML_ENCODING_LEGACY, Limit::kAttributes},
      {"150,000 elements", "<r>" + Repeat("<e/>", 150'000) + "</r>", TIXML_ENCODING_LEGACY, Limit::kElements},
      {"nesting behind entities that hide the end tags", Repeat("<a>&#x</a>x41;", 1'000), TIXML_ENCODING_LEGACY,
       Limit::kDepth},
      {"nesting behind lead bytes that swallow the end tags", Repeat("<a>\xE0</a>", 1'000), TIXML_ENCODING_UTF8,
       Limit::kDepth},
      {"a flood of comments", "<r>" + Repeat("<!---->", 300'000) + "</r>", TIXML_ENCODING_LEGACY, Limit::kNodes},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto refusal = CheckXmlShape(c.text, c.encoding);
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->limit, c.limit) << refusal->Text();
  }
  // Too many attributes in all, each element within its own limit.
  XmlLimits few;
  few.max_attributes = 10;
  EXPECT_EQ(CheckXmlShape(Repeat("<e a='1' b='2'/>", 6), TIXML_ENCODING_LEGACY, few)->limit, Limit::kAttributes);
  few.max_bytes = 5;
  EXPECT_EQ(CheckXmlShape("<a></a>", TIXML_ENCODING_LEGACY, few)->limit, Limit::kBytes);
  // The same siblings read byte by byte are no nesting at all.
  EXPECT_FALSE(CheckXmlShape("<r>" + Repeat("<a>\xE0</a>", 1'000) + "</r>", TIXML_ENCODING_LEGACY));
}

// The largest legitimate inputs pass and parse.
TEST(XmlGuard, ParsesLargeLegitimateTexts) {
  std::string language = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Lang>\n<Resources>\n";
  for (int i = 0; i < 900; ++i)
    language += "\t<KEY_" + std::to_string(i) + ">Text number " + std::to_string(i) + " \xE6\x96\x87</KEY_" +
                std::to_string(i) + ">\n";
  language += "</Resources>\n</Lang>\n";

  std::string reply = "<MESSAGE><MESSAGE_BODY>";
  for (int i = 0; reply.size() < 102'400 - 100; ++i)
    reply += "<ITEM ID=\"" + std::to_string(i) + "\" NAME=\"channel\" VALUE=\"0123456789\" ENABLE=\"1\"/>";
  reply += "</MESSAGE_BODY></MESSAGE>";

  std::string list = "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n<root>\n";
  for (int i = 0; i < 2048; ++i) {
    list += "    <ipcamera";
    for (int a = 0; a < 19; ++a) list += " A" + std::to_string(a) + "=\"value " + std::to_string(i) + "\"";
    list += " />\n";
  }
  list += "</root>\n";

  for (const std::string* text : {&language, &reply, &list}) {
    TiXmlDocument doc;
    const XmlParseOutcome outcome = ParseXmlGuarded(doc, *text);
    EXPECT_TRUE(outcome) << outcome.error;
    EXPECT_NE(doc.RootElement(), nullptr);
  }
}

TEST(XmlGuard, RefusedTextLeavesAnEmptyDocumentWithAnError) {
  TiXmlDocument doc;
  ASSERT_TRUE(ParseXmlGuarded(doc, "<a><b/></a>"));
  const std::uint64_t before = XmlRefusedCount();
  const XmlParseOutcome outcome = ParseXmlGuarded(doc, Repeat("<a>", 1'000));
  EXPECT_TRUE(outcome.refused);
  EXPECT_EQ(outcome.error, "the XML nests deeper than 128 elements");
  EXPECT_TRUE(doc.Error());
  EXPECT_EQ(doc.FirstChild(), nullptr);
  EXPECT_EQ(XmlRefusedCount(), before + 1);
  // A text TinyXML itself rejects is no refusal; what follows a zero byte is not read.
  const XmlParseOutcome bad = ParseXmlGuarded(doc, "<a><b></a>");
  EXPECT_FALSE(bad);
  EXPECT_FALSE(bad.refused);
  EXPECT_TRUE(ParseXmlGuarded(doc, std::string("<a/>\0<b>", 8)));
}

TEST(XmlGuard, LoadsFilesAsTinyXmlDoes) {
  const auto dir = std::filesystem::temp_directory_path() / ("xml_guard_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto write = [&](const char* name, const std::string& text) {
    std::ofstream(dir / name, std::ios::binary) << text;
    return dir / name;
  };
  TiXmlDocument doc;
  ASSERT_TRUE(LoadXmlFileGuarded(doc, write("crlf.xml", "<a>\r\n<b>x\r\ny\rz</b></a>\r\n")));
  TiXmlBase::SetCondenseWhiteSpace(false);
  ASSERT_TRUE(LoadXmlFileGuarded(doc, dir / "crlf.xml"));
  TiXmlBase::SetCondenseWhiteSpace(true);
  EXPECT_STREQ(doc.RootElement()->FirstChildElement("b")->GetText(), "x\ny\nz");
  EXPECT_EQ(doc.Value(), (dir / "crlf.xml").string());

  XmlLimits small;
  small.max_bytes = 64;
  const XmlParseOutcome big = LoadXmlFileGuarded(doc, write("big.xml", "<a>" + std::string(100, 'x') + "</a>"),
                                                 TIXML_ENCODING_UNKNOWN, small);
  EXPECT_TRUE(big.refused);
  EXPECT_FALSE(LoadXmlFileGuarded(doc, write("deep.xml", Repeat("<a>", 50'000))));
  const XmlParseOutcome missing = LoadXmlFileGuarded(doc, dir / "missing.xml");
  EXPECT_FALSE(missing);
  EXPECT_FALSE(missing.refused);
  EXPECT_TRUE(doc.Error());
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kelvara
