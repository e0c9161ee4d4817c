#include "common/xml_guard.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <vector>

namespace kelvara {
namespace {

std::atomic<std::uint64_t> g_refused{0};

// Zero bytes behind the text: TinyXML's UTF-8 reading steps over a whole
// character (up to four bytes) and its blank skipping looks two bytes ahead.
constexpr std::size_t kPadding = 16;

// TinyXML's own reading steps (protected statics of its base class), so the
// scan walks over names, blanks, entities and UTF-8 characters exactly as the
// parser does; only the node structure is written out here, as a loop.
class Reader : public TiXmlBase {
 public:
  using TiXmlBase::IsAlpha;
  using TiXmlBase::IsWhiteSpace;
  using TiXmlBase::ReadName;
  using TiXmlBase::ReadText;
  using TiXmlBase::SkipWhiteSpace;
  using TiXmlBase::StringEqual;
};

class ShapeScan {
 public:
  ShapeScan(TiXmlEncoding encoding, const XmlLimits& limits, XmlShape& shape)
      : encoding_(encoding), limits_(limits), shape_(shape) {}

  // TiXmlDocument::Parse: the nodes at the top, in turn.
  // `p`: the text, with zero padding behind its `size` bytes.
  std::optional<XmlRefusal> Run(const char* p, std::size_t size) {
    end_ = p + size;
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    if (encoding_ == TIXML_ENCODING_UNKNOWN && u[0] == 0xEF && u[1] == 0xBB && u[2] == 0xBF)
      encoding_ = TIXML_ENCODING_UTF8;
    p = Skip(p);
    while (p && *p == '<') {
      const Kind kind = Identify(p);
      std::string declared;
      if (kind == Kind::kElement) {
        p = Element(p);
      } else if (kind == Kind::kDeclaration) {
        p = CountNode() ? Declaration(p, &declared) : nullptr;
        // The first declaration at the top decides an unknown encoding.
        if (encoding_ == TIXML_ENCODING_UNKNOWN) encoding_ = DeclaredEncoding(declared.c_str());
      } else {
        p = Leaf(p, kind);
      }
      if (refusal_) break;
      p = Skip(p);
    }
    return refusal_;
  }

 private:
  enum class Kind { kDeclaration, kComment, kCData, kUnknown, kElement };

  const char* Skip(const char* p) const { return Reader::SkipWhiteSpace(p, encoding_); }
  bool Equal(const char* p, const char* tag, bool ignoreCase) const {
    return p && *p && Reader::StringEqual(p, tag, ignoreCase, encoding_);
  }

  // TiXmlNode::Identify at a '<'.
  Kind Identify(const char* p) const {
    if (Equal(p, "<?xml", true)) return Kind::kDeclaration;
    if (Equal(p, "<!--", false)) return Kind::kComment;
    if (Equal(p, "<![CDATA[", false)) return Kind::kCData;
    if (Equal(p, "<!", false)) return Kind::kUnknown;
    if (Reader::IsAlpha(static_cast<unsigned char>(p[1]), encoding_) || p[1] == '_') return Kind::kElement;
    return Kind::kUnknown;
  }

  static TiXmlEncoding DeclaredEncoding(const char* value) {
    if (*value == '\0') return TIXML_ENCODING_UTF8;
    if (Reader::StringEqual(value, "UTF-8", true, TIXML_ENCODING_UNKNOWN)) return TIXML_ENCODING_UTF8;
    if (Reader::StringEqual(value, "UTF8", true, TIXML_ENCODING_UNKNOWN)) return TIXML_ENCODING_UTF8;
    return TIXML_ENCODING_LEGACY;
  }

  bool Count(std::size_t& n, std::size_t max, XmlRefusal::Limit limit) {
    if (++n <= max) return true;
    refusal_ = XmlRefusal{limit, max};
    return false;
  }
  bool CountNode() { return Count(shape_.nodes, limits_.max_nodes, XmlRefusal::Limit::kNodes); }

  // The first `what` from `p` on (the text holds no zero byte before its end).
  const char* Find(const char* p, std::string_view what) const {
    if (p >= end_) return nullptr;
    const std::string_view rest(p, static_cast<std::size_t>(end_ - p));
    const std::size_t at = rest.find(what);
    return at == std::string_view::npos ? nullptr : p + at;
  }

  // Nodes without children. A null result: TinyXML stops there (an error).
  const char* Leaf(const char* p, Kind kind) {
    if (!CountNode()) return nullptr;
    switch (kind) {
      case Kind::kDeclaration: {
        std::string ignored;
        return Declaration(p, &ignored);
      }
      case Kind::kComment: {  // TiXmlComment::Parse: up to "-->", else to the end
        const char* end = Find(p + 4, "-->");
        return end ? end + 3 : end_;
      }
      case Kind::kCData: {  // TiXmlText::Parse of CDATA: "]]>" and something after it
        const char* end = Find(p + 9, "]]>");
        if (end == nullptr || end[3] == '\0') return nullptr;
        return end + 3;
      }
      case Kind::kUnknown: {  // TiXmlUnknown::Parse: up to the first '>'
        const char* end = Find(p + 1, ">");
        return end ? end + 1 : end_;
      }
      case Kind::kElement: break;
    }
    return nullptr;
  }

  // TiXmlAttribute::Parse; `value` gets its text when asked for.
  const char* Attribute(const char* p, std::string* value) {
    p = Skip(p);
    if (!p || !*p) return nullptr;
    p = Reader::ReadName(p, &scratch_, encoding_);
    if (!p || !*p) return nullptr;
    p = Skip(p);
    if (!p || *p != '=') return nullptr;
    p = Skip(p + 1);
    if (!p || !*p) return nullptr;
    std::string& out = value ? *value : scratch_;
    if (*p == '\'' || *p == '"') {
      const char end[2] = {*p, '\0'};
      return Reader::ReadText(p + 1, &out, false, end, false, encoding_);
    }
    out.clear();
    for (; *p && !Reader::IsWhiteSpace(*p) && *p != '/' && *p != '>'; ++p) {
      if (*p == '\'' || *p == '"') return nullptr;
      out += *p;
    }
    return p;
  }

  // TiXmlDeclaration::Parse; `encoding` gets its encoding attribute.
  const char* Declaration(const char* p, std::string* encoding) {
    p += 5;
    while (p && *p) {
      if (*p == '>') return p + 1;
      p = Skip(p);
      if (!p || !*p) return nullptr;
      if (Equal(p, "version", true) || Equal(p, "standalone", true)) {
        p = Attribute(p, nullptr);
      } else if (Equal(p, "encoding", true)) {
        p = Attribute(p, encoding);
      } else {
        while (*p && *p != '>' && !Reader::IsWhiteSpace(*p)) ++p;
      }
    }
    return nullptr;
  }

  // TiXmlElement::Parse up to its content: the name and the attributes, up
  // to ">" (`open`) or "/>".
  const char* StartTag(const char* p, std::string_view& name, bool& open) {
    if (!CountNode() || !Count(shape_.elements, limits_.max_elements, XmlRefusal::Limit::kElements))
      return nullptr;
    p = Skip(p + 1);
    if (!p || !*p) return nullptr;
    const char* start = p;
    p = Reader::ReadName(p, &scratch_, encoding_);
    if (!p || !*p) return nullptr;
    name = std::string_view(start, static_cast<std::size_t>(p - start));
    std::size_t here = 0;
    for (;;) {
      p = Skip(p);
      if (!p || !*p) return nullptr;
      if (*p == '/') {
        open = false;
        return p[1] == '>' ? p + 2 : nullptr;
      }
      if (*p == '>') {
        open = true;
        return p + 1;
      }
      if (!Count(here, limits_.max_attributes_per_element, XmlRefusal::Limit::kAttributesPerElement)) return nullptr;
      shape_.most_attributes = std::max(shape_.most_attributes, here);
      if (!Count(shape_.attributes, limits_.max_attributes, XmlRefusal::Limit::kAttributes)) return nullptr;
      p = Attribute(p, nullptr);
      if (!p || !*p) return nullptr;
    }
  }

  // Every element counts as a level of TinyXML's recursion, empty or not.
  bool Level(std::size_t level) {
    shape_.depth = std::max(shape_.depth, level);
    if (level <= limits_.max_depth) return true;
    refusal_ = XmlRefusal{XmlRefusal::Limit::kDepth, limits_.max_depth};
    return false;
  }

  // An element with everything inside it, as TinyXML's recursion through
  // TiXmlElement::Parse and ReadValue reads it, with the open elements kept
  // in a list instead of on the stack.
  const char* Element(const char* p) {
    std::vector<std::string_view> open;
    std::string_view name;
    bool isOpen = false;
    if (!Level(1)) return nullptr;
    p = StartTag(p, name, isOpen);
    if (!p || !isOpen) return p;
    open.push_back(name);
    for (;;) {
      // The content of the innermost open element, up to an end tag.
      p = Skip(p);
      while (p && *p) {
        if (*p != '<') {  // a text, up to the next '<' as TiXmlText reads it
          if (!CountNode()) return nullptr;
          const char* after = Reader::ReadText(p, &scratch_, false, "<", false, encoding_);
          p = after ? after - 1 : nullptr;
        } else if (p[1] == '/') {
          break;
        } else if (const Kind kind = Identify(p); kind == Kind::kElement) {
          if (!Level(open.size() + 1)) return nullptr;
          p = StartTag(p, name, isOpen);
          if (p && isOpen) open.push_back(name);
        } else {
          p = Leaf(p, kind);
        }
        p = Skip(p);
      }
      if (!p || !*p) return nullptr;
      // "</" and the name, blanks, '>'; anything else ends TinyXML's parse.
      const std::string_view inner = open.back();
      if (std::strncmp(p + 2, inner.data(), inner.size()) != 0) return nullptr;
      p = Skip(p + 2 + inner.size());
      if (!p || *p != '>') return nullptr;
      ++p;
      open.pop_back();
      if (open.empty()) return p;
    }
  }

  TiXmlEncoding encoding_;
  const char* end_ = nullptr;
  const XmlLimits& limits_;
  XmlShape& shape_;
  std::optional<XmlRefusal> refusal_;
  std::string scratch_;
};

std::string_view UpToZero(std::string_view text) {
  if (const auto zero = text.find('\0'); zero != std::string_view::npos) text = text.substr(0, zero);
  return text;
}

XmlParseOutcome Refuse(TiXmlDocument& doc, const XmlRefusal& refusal) {
  g_refused.fetch_add(1, std::memory_order_relaxed);
  doc.Clear();
  doc.ClearError();
  doc.SetError(TiXmlBase::TIXML_ERROR, nullptr, nullptr, TIXML_ENCODING_UNKNOWN);
  return XmlParseOutcome{true, refusal.Text()};
}

}  // namespace

std::string XmlRefusal::Text() const {
  const std::string n = std::to_string(allowed);
  switch (limit) {
    case Limit::kBytes: return "the XML text is larger than " + n + " bytes";
    case Limit::kDepth: return "the XML nests deeper than " + n + " elements";
    case Limit::kElements: return "the XML holds more than " + n + " elements";
    case Limit::kNodes: return "the XML holds more than " + n + " nodes";
    case Limit::kAttributes: return "the XML holds more than " + n + " attributes";
    case Limit::kAttributesPerElement: return "an XML element holds more than " + n + " attributes";
  }
  return "the XML is refused";
}

std::optional<XmlRefusal> CheckXmlShape(std::string_view text, TiXmlEncoding encoding, const XmlLimits& limits,
                                         XmlShape* shape) {
  XmlShape local;
  XmlShape& s = shape ? *shape : local;
  s = XmlShape{};
  text = UpToZero(text);
  s.bytes = text.size();
  if (text.size() > limits.max_bytes) return XmlRefusal{XmlRefusal::Limit::kBytes, limits.max_bytes};
  std::string padded;
  padded.reserve(text.size() + kPadding);
  padded.append(text).append(kPadding, '\0');
  return ShapeScan(encoding, limits, s).Run(padded.c_str(), text.size());
}

XmlParseOutcome ParseXmlGuarded(TiXmlDocument& doc, std::string_view text, TiXmlEncoding encoding,
                                const XmlLimits& limits) {
  text = UpToZero(text);
  if (text.size() > limits.max_bytes) return Refuse(doc, {XmlRefusal::Limit::kBytes, limits.max_bytes});
  std::string padded;
  padded.reserve(text.size() + kPadding);
  padded.append(text).append(kPadding, '\0');
  XmlShape shape;
  if (const auto refusal = ShapeScan(encoding, limits, shape).Run(padded.c_str(), text.size())) return Refuse(doc, *refusal);
  doc.Parse(padded.c_str(), nullptr, encoding);
  XmlParseOutcome outcome;
  if (doc.Error()) outcome.error = *doc.ErrorDesc() ? doc.ErrorDesc() : "not well-formed XML";
  return outcome;
}

XmlParseOutcome LoadXmlFileGuarded(TiXmlDocument& doc, const std::filesystem::path& path, TiXmlEncoding encoding,
                                   const XmlLimits& limits) {
  doc.Clear();
  doc.ClearError();
  doc.SetValue(path.string());
  std::ifstream in(path, std::ios::binary);
  std::string raw;
  // Read in pieces, one byte past the limit at most.
  char piece[64 * 1024];
  while (in && raw.size() <= limits.max_bytes) {
    const std::size_t want = std::min(sizeof piece, limits.max_bytes + 1 - raw.size());
    in.read(piece, static_cast<std::streamsize>(want));
    raw.append(piece, static_cast<std::size_t>(in.gcount()));
  }
  if (!in && !in.eof()) {
    doc.SetError(TiXmlBase::TIXML_ERROR_OPENING_FILE, nullptr, nullptr, TIXML_ENCODING_UNKNOWN);
    return XmlParseOutcome{false, "cannot read " + path.string()};
  }
  if (raw.size() > limits.max_bytes) return Refuse(doc, {XmlRefusal::Limit::kBytes, limits.max_bytes});
  // Line ends as LoadFile makes them: "\r\n" and a lone "\r" become "\n".
  const std::string_view text = UpToZero(raw);
  std::string lines;
  lines.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      lines += text[i];
      continue;
    }
    lines += '\n';
    if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
  }
  return ParseXmlGuarded(doc, lines, encoding, limits);
}

std::uint64_t XmlRefusedCount() { return g_refused.load(std::memory_order_relaxed); }

}  // namespace kelvara
