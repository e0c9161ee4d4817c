#include "common/language_table.h"

#include <tinyxml.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "common/atomic_file.h"
#include "common/paths.h"
#include "common/xml_guard.h"

namespace kelvara {
namespace {

constexpr char kDefaultCode[] = "en-us";
constexpr char kDefaultRegistryName[] = "Kelvara";

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// The registry name becomes part of a file name in the config folder, so it
// must be one plain path component.
bool IsUsableFileStem(std::string_view name) {
  if (name.empty() || name.size() > 64 || name == "." || name == "..") return false;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7f || c == '/' || c == '\\') return false;
  }
  return true;
}

// A language file named in language.xml must lie below the program folder:
// an absolute name or one that climbs with ".." is refused.
bool IsFileBelowProgram(std::string_view name) {
  if (name.empty() || name.front() == '/' || name.front() == '\\') return false;
  std::size_t start = 0;
  while (start <= name.size()) {
    const std::size_t end = name.find_first_of("/\\", start);
    const std::string_view part = name.substr(start, end == std::string_view::npos ? name.npos : end - start);
    if (part == "..") return false;
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return true;
}

std::string ReadRegistryName(const std::filesystem::path& file) {
  TiXmlDocument doc;
  if (!kelvara::LoadXmlFileGuarded(doc, file)) return kDefaultRegistryName;
  const TiXmlElement* root = doc.FirstChildElement("root");
  if (root == nullptr) return kDefaultRegistryName;
  // Only the very first child counts: a comment before "Registry" hides it.
  const TiXmlNode* first = root->FirstChild();
  const TiXmlElement* reg = first ? first->ToElement() : nullptr;
  if (reg == nullptr || std::strcmp(reg->Value(), "Registry") != 0) return kDefaultRegistryName;
  const char* name = reg->Attribute("name");
  if (name == nullptr || !IsUsableFileStem(name)) return kDefaultRegistryName;
  return name;
}

// Number of UTF-16 units the UTF-8 text takes (4-byte sequences take two).
std::size_t Utf16Units(std::string_view utf8) {
  std::size_t units = 0;
  for (unsigned char c : utf8) {
    if ((c & 0xC0) == 0x80) continue;  // continuation byte
    units += (c >= 0xF0) ? 2 : 1;
  }
  return units;
}

}  // namespace

LanguageTable& LanguageTable::Instance() {
  // Deliberately leaked: worker threads may look texts up while the process exits.
  static LanguageTable* table = new LanguageTable(paths::ProgramDir(), paths::ConfigDir());
  return *table;
}

LanguageTable::LanguageTable(const std::filesystem::path& program_dir,
                             const std::filesystem::path& config_dir)
    : program_dir_(program_dir), config_dir_(config_dir) {
  registry_name_ = ReadRegistryName(GetRegistryXmlPath());
  if (std::string chosen = ReadLanguageChoice(); !chosen.empty()) code_ = chosen;

  TiXmlDocument doc;
  if (!kelvara::LoadXmlFileGuarded(doc, GetLanguageXmlPath())) return;
  loaded_ = true;
  const TiXmlElement* lang = doc.FirstChildElement("Lang");
  if (lang == nullptr) return;
  ChooseLanguage(*lang);
  if (!language_file_.empty()) LoadLanguageFile();
}

void LanguageTable::ChooseLanguage(const TiXmlElement& lang) {
  auto find = [&](std::string_view code) -> const TiXmlElement* {
    for (const TiXmlElement* r = lang.FirstChildElement("Resources"); r;
         r = r->NextSiblingElement("Resources")) {
      const char* lan = r->Attribute("lan");
      if (lan != nullptr && EqualsIgnoreCase(lan, code)) return r;
    }
    return nullptr;
  };
  for (const TiXmlElement* r = lang.FirstChildElement("Resources"); r; r = r->NextSiblingElement("Resources")) {
    const char* lan = r->Attribute("lan");
    const char* file = r->Attribute("filename");
    if (lan != nullptr && file != nullptr && IsFileBelowProgram(file) && available_.count(lan) == 0) {
      available_.emplace(lan, program_dir_ / file);
    }
  }
  const TiXmlElement* chosen = find(code_);
  if (chosen == nullptr) {
    // An unknown choice falls back to English for this run; the choice file
    // keeps what the user picked.
    code_ = kDefaultCode;
    chosen = find(code_);
  }
  if (chosen == nullptr) return;
  if (const char* file = chosen->Attribute("filename"); file != nullptr && IsFileBelowProgram(file)) {
    language_file_ = program_dir_ / file;
  }
  if (const char* title = chosen->Attribute("TITLE")) title_ = Utf8ToText(title);
}

void LanguageTable::LoadLanguageFile() {
  TiXmlDocument doc;
  {
    // Texts keep their blanks as the file has them (a status text ends with
    // one that separates it from the next). TinyXML's switch is process-wide:
    // the table is built before any other thread parses XML, and the switch
    // is put back at once.
    TiXmlBase::SetCondenseWhiteSpace(false);
    const bool loaded = static_cast<bool>(kelvara::LoadXmlFileGuarded(doc, language_file_, TIXML_ENCODING_UTF8));
    TiXmlBase::SetCondenseWhiteSpace(true);
    if (!loaded) return;
  }
  const TiXmlElement* lang = doc.FirstChildElement("Lang");
  const TiXmlElement* resources = lang ? lang->FirstChildElement("Resources") : nullptr;
  if (resources == nullptr) return;
  for (const TiXmlElement* e = resources->FirstChildElement(); e; e = e->NextSiblingElement()) {
    std::string text;
    if (!XmlElementText(e, nullptr, &text)) continue;
    entries_.insert_or_assign(e->Value(), Utf8ToText(text));
  }
}

std::string LanguageTable::GetLanguageString(std::string_view key) const {
  if (!loaded_) return {};
  auto it = entries_.find(key);
  return it == entries_.end() ? std::string() : it->second;
}

bool LanguageTable::IsLanguageAvailable(std::string_view code) const {
  for (const auto& [lan, file] : available_) {
    if (!EqualsIgnoreCase(lan, code)) continue;
    std::error_code ec;
    return std::filesystem::is_regular_file(file, ec);
  }
  return false;
}

bool LanguageTable::IsChinese() const { return EqualsIgnoreCase(code_, "zh-cn"); }

std::filesystem::path LanguageTable::LanguageChoicePath() const {
  return config_dir_ / (registry_name_ + ".language");
}

std::string LanguageTable::ReadLanguageChoice() const {
  std::ifstream in(LanguageChoicePath(), std::ios::binary);
  if (!in) return {};
  std::string code;
  std::getline(in, code);
  while (!code.empty() && (code.back() == '\r' || code.back() == ' ' || code.back() == '\t')) {
    code.pop_back();
  }
  if (code.size() > kMaxCodeLength) return {};
  for (unsigned char c : code) {
    if (c < 0x20 || c == 0x7f) return {};
  }
  return code;
}

int LanguageTable::SetLanguage(std::string_view code) const {
  if (code.empty() || code.size() > kMaxCodeLength || code.find('\n') != std::string_view::npos) {
    return -1;
  }
  if (paths::EnsureDir(config_dir_).empty()) return -1;
  std::string content(code);
  content += '\n';
  return WriteFileAtomically(LanguageChoicePath(), content) ? 0 : -1;
}

std::string LanguageTable::Utf8ToText(std::string_view utf8) {
  if (Utf16Units(utf8) > kMaxTextUnits) return {};
  return std::string(utf8);
}

std::string LangText(std::string_view key) { return LanguageTable::Instance().GetLanguageString(key); }

bool XmlElementText(const TiXmlElement* element, const char* child, std::string* text) {
  if (element == nullptr) return false;
  if (child != nullptr) {
    element = element->FirstChildElement(child);
    if (element == nullptr) return false;
  }
  for (const TiXmlNode* n = element->FirstChild(); n; n = n->NextSibling()) {
    if (const TiXmlText* t = n->ToText()) {
      if (text) *text = t->Value();
      return true;
    }
  }
  return false;
}

}  // namespace kelvara
