#pragma once
// The one way outside XML (device replies, datagrams, imported lists,
// language, layout and settings files) reaches TinyXML. TinyXML parses
// recursively, keeps every node, and checks each attribute against all
// earlier ones of its element, so deep nesting overflows the stack and wide
// elements cost time with the square of their attributes. A linear pre-scan
// without recursion measures the text as TinyXML would read it (depth,
// elements, nodes, attributes) and refuses it past fixed limits before
// TinyXML sees it. It is a library of its own, GUI-free and depending on
// nothing else of the program, so the device SDK and the remote
// configuration use it too.
#include <tinyxml.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kelvara {

// Well above the largest legitimate input: device replies of 102,400 bytes,
// list imports of 2,048 devices (8 MB), a language file of about 900 keys.
struct XmlLimits {
  std::size_t max_bytes = 16u << 20;
  std::size_t max_depth = 128;           // elements inside elements
  std::size_t max_elements = 100'000;
  std::size_t max_nodes = 250'000;       // elements, texts, comments and the like
  std::size_t max_attributes = 250'000;  // in the whole text
  std::size_t max_attributes_per_element = 1'024;
};
inline constexpr XmlLimits kXmlLimits{};

// What the pre-scan counted. Past a limit it stops, so the figures are
// those up to the refusal.
struct XmlShape {
  std::size_t bytes = 0;
  std::size_t depth = 0;
  std::size_t elements = 0;
  std::size_t nodes = 0;
  std::size_t attributes = 0;
  std::size_t most_attributes = 0;  // on one element
};

struct XmlRefusal {
  enum class Limit { kBytes, kDepth, kElements, kNodes, kAttributes, kAttributesPerElement };
  Limit limit;
  std::size_t allowed;
  std::string Text() const;  // "the XML nests deeper than 128 elements"
};

// Measures `text` (up to its first zero byte, as TinyXML sees it) as TinyXML
// would parse it with `encoding`. Returns the first limit passed; nothing
// when the text is within all of them. The text need not be well-formed:
// what TinyXML would stop at, the scan stops at too.
std::optional<XmlRefusal> CheckXmlShape(std::string_view text, TiXmlEncoding encoding,
                                         const XmlLimits& limits = kXmlLimits, XmlShape* shape = nullptr);

struct XmlParseOutcome {
  bool refused = false;  // the pre-scan refused it; TinyXML never saw it
  std::string error;     // why it was refused or TinyXML's error; empty when parsed
  explicit operator bool() const { return error.empty(); }
};

// Parses `text` (up to its first zero byte) into `doc` when the pre-scan
// accepts it. The text is parsed from a copy with zero padding behind it:
// TinyXML's UTF-8 reading trusts lead bytes and may step a few bytes past the
// end of a text that ends in a cut character. A refused text leaves `doc`
// empty with an error set, so callers that check doc.Error() see it too.
XmlParseOutcome ParseXmlGuarded(TiXmlDocument& doc, std::string_view text,
                                TiXmlEncoding encoding = TIXML_ENCODING_UNKNOWN,
                                const XmlLimits& limits = kXmlLimits);

// Reads a file as TiXmlDocument::LoadFile does (up to its first zero byte,
// line ends made "\n", the path as the document's value) and parses it
// guarded. A file larger than the byte limit is not read at all.
XmlParseOutcome LoadXmlFileGuarded(TiXmlDocument& doc, const std::filesystem::path& path,
                                   TiXmlEncoding encoding = TIXML_ENCODING_UNKNOWN,
                                   const XmlLimits& limits = kXmlLimits);

// Texts refused since the process started (for the callers' log lines).
std::uint64_t XmlRefusedCount();

}  // namespace kelvara
