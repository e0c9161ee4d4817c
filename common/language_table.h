#pragma once
// The process-wide table from text key ("MSGTIP13", "STRING_CLOSE", ...) to the
// text of the current language.
//
// Files next to the program:
//   language.xml  <Lang><Resources lan="en-us" filename="lang/en-us.xml" TITLE="..."/>...</Lang>
//   registry.xml  <root><Registry name="Kelvara"/></root>: the name under which the
//                 per-user language choice is stored
//   lang/<code>.xml  <Lang><Resources><KEY>text</KEY>...</Resources></Lang> (UTF-8)
// The language choice (the "Language" value) lives in a small file in the
// per-user config folder, named after the registry name (LanguageChoicePath()).
//
// All texts are UTF-8. The table is built once and read-only afterwards, so any
// thread may look texts up once it exists. A language switch writes the choice
// only; it takes effect at the next start.
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

class TiXmlElement;

namespace kelvara {

class LanguageTable {
 public:
  // The one table of the process, built on first use from the program folder
  // and the per-user config folder; never destroyed.
  static LanguageTable& Instance();

  // A table built from the given folders (tests, tools). `program_dir` holds
  // language.xml and registry.xml; `config_dir` the language choice.
  LanguageTable(const std::filesystem::path& program_dir, const std::filesystem::path& config_dir);

  LanguageTable(const LanguageTable&) = delete;
  LanguageTable& operator=(const LanguageTable&) = delete;

  // The text of the key in the current language; empty when the table does not
  // hold the key (never the key itself).
  std::string GetLanguageString(std::string_view key) const;

  // The window title of the current language (TITLE of language.xml); may be empty.
  const std::string& GetTitle() const { return title_; }
  // The current language code, e.g. "en-us".
  std::string GetLanguageCode() const { return code_; }
  bool IsChinese() const;

  // True when language.xml lists `code` and its language file is installed.
  bool IsLanguageAvailable(std::string_view code) const;

  // Stores `code` as the language choice for the next start. 0 on success, -1
  // when the choice file cannot be written. The table itself does not change.
  int SetLanguage(std::string_view code) const;

  // The name from registry.xml ("Kelvara" when it gives none usable).
  const std::string& GetRegistryName() const { return registry_name_; }

  std::filesystem::path GetLanguageXmlPath() const { return program_dir_ / "language.xml"; }
  std::filesystem::path GetRegistryXmlPath() const { return program_dir_ / "registry.xml"; }
  // The per-user file that holds the "Language" value.
  std::filesystem::path LanguageChoicePath() const;
  // The language file in use (empty when none was chosen).
  const std::filesystem::path& GetLanguageFilePath() const { return language_file_; }
  bool IsLoaded() const { return loaded_; }
  std::size_t size() const { return entries_.size(); }

  // A language text as the table stores it: texts longer than 5119 UTF-16 units
  // (the size of a text the program ever shows in one control) give an empty text.
  static std::string Utf8ToText(std::string_view utf8);

  // Longest language code accepted from the choice file (longer counts as missing).
  static constexpr std::size_t kMaxCodeLength = 49;
  static constexpr std::size_t kMaxTextUnits = 5119;

 private:
  std::string ReadLanguageChoice() const;
  void ChooseLanguage(const TiXmlElement& lang);
  void LoadLanguageFile();

  std::filesystem::path program_dir_;
  std::filesystem::path config_dir_;
  std::filesystem::path language_file_;
  std::string title_;
  std::string registry_name_;
  bool loaded_ = false;
  std::string code_ = "en-us";
  std::map<std::string, std::string, std::less<>> entries_;
  std::map<std::string, std::filesystem::path> available_;  // code -> file, as listed
};

// The text of `key` in the current language (LanguageTable::Instance()).
std::string LangText(std::string_view key);

// Marks a string literal as a language key where it is stored in a table and
// looked up later, so the source scan that checks every key exists finds it.
constexpr const char* LangKey(const char* key) { return key; }

// The first text node among the children of `element` (or of its first child
// element named `child`); false when there is none.
bool XmlElementText(const TiXmlElement* element, const char* child, std::string* text);

}  // namespace kelvara
