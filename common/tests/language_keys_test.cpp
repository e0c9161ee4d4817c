// Every language key the program looks up must have an English text: scans the
// program's sources for string literals passed to the lookup functions and
// checks each against the shipped en-us file.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "common/language_table.h"
#include "kelvara_test/test_env.h"

namespace kelvara {
namespace {

namespace fs = std::filesystem;

// Lookups whose first argument is the key, and those whose second is (a control id first).
const std::regex kKeyFirst(R"re(\b(?:LangText|GetLanguageString|LangKey)\s*\(\s*"([^"\\]+)")re");
const std::regex kKeySecond(
    R"re(\b(?:SetItemLangText|SetItemLangTextIfAny)\s*\(\s*[^,()"]+,\s*"([^"\\]+)")re");

bool SkippedDir(const fs::path& dir) {
  const std::string name = dir.filename().string();
  // Tests look up missing keys on purpose; build trees hold generated copies.
  return name.empty() || name[0] == '.' || name.rfind("build", 0) == 0 || name == "tests" ||
         name == "resources" || name == "docs";
}

bool SourceFile(const fs::path& file) {
  const auto ext = file.extension();
  return ext == ".cpp" || ext == ".h" || ext == ".cc" || ext == ".hpp";
}

// key -> first place it is looked up
std::map<std::string, std::string> LookedUpKeys(const fs::path& root) {
  std::map<std::string, std::string> keys;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    if (it->is_directory()) {
      if (SkippedDir(it->path())) it.disable_recursion_pending();
      continue;
    }
    if (!it->is_regular_file() || !SourceFile(it->path())) continue;
    std::ifstream in(it->path(), std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string text = buffer.str();
    for (const std::regex* re : {&kKeyFirst, &kKeySecond}) {
      for (std::sregex_iterator m(text.begin(), text.end(), *re), end; m != end; ++m) {
        keys.emplace((*m)[1].str(), fs::relative(it->path(), root).string());
      }
    }
  }
  return keys;
}

TEST(LanguageKeysTest, ScannerFindsEveryLookupForm) {
  const std::string sample =
      "a = LangText(\"K1\"); t.GetLanguageString( \"K2\" ); const char* k = LangKey(\"K3\");\n"
      "SetItemLangText(IDC_X, \"K4\"); SetItemLangTextIfAny(1081, \"K5\"); LangText(var);";
  std::set<std::string> found;
  for (const std::regex* re : {&kKeyFirst, &kKeySecond}) {
    for (std::sregex_iterator m(sample.begin(), sample.end(), *re), end; m != end; ++m) {
      found.insert((*m)[1].str());
    }
  }
  EXPECT_EQ(found, (std::set<std::string>{"K1", "K2", "K3", "K4", "K5"}));
}

TEST(LanguageKeysTest, EveryLookedUpKeyHasAnEnglishText) {
  const fs::path root = test::SourceDir();
  ASSERT_TRUE(fs::is_directory(root / "app")) << root;
  LanguageTable english(root / "resources", test::MakeTempDir("cfg"));
  ASSERT_EQ(english.GetLanguageCode(), "en-us");
  ASSERT_GT(english.size(), 0u);
  for (const auto& [key, where] : LookedUpKeys(root)) {
    EXPECT_FALSE(english.GetLanguageString(key).empty())
        << "key \"" << key << "\" (looked up in " << where << ") is missing from "
        << english.GetLanguageFilePath();
  }
}

// A key defined twice shows only its later text, whatever the section that
// defines it first meant: every shipped language file defines each key once.
TEST(LanguageKeysTest, NoLanguageFileDefinesAKeyTwice) {
  const std::regex element(R"re(<([A-Za-z_][A-Za-z0-9_.-]*)>[^<]*</\1>)re");
  const fs::path dir = test::SourceDir() / "resources" / "lang";
  int files = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() != ".xml") continue;
    ++files;
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string text = buffer.str();
    std::map<std::string, int> count;
    for (std::sregex_iterator m(text.begin(), text.end(), element), end; m != end; ++m) {
      ++count[(*m)[1].str()];
    }
    EXPECT_GT(count.size(), 100u) << entry.path();
    for (const auto& [key, n] : count) {
      EXPECT_EQ(n, 1) << "key \"" << key << "\" defined " << n << " times in " << entry.path();
    }
  }
  EXPECT_GT(files, 0);
}

}  // namespace
}  // namespace kelvara
