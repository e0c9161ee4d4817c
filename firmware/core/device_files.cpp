#include "firmware/core/device_files.h"

#include <sys/stat.h>
#include <tinyxml.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vector>

#include "common/atomic_file.h"
#include "common/path_component.h"
#include "common/xml_guard.h"

namespace kelvara::firmware {
namespace fs = std::filesystem;
namespace {

// A folder owned by us and closed to everybody else.
bool IsPrivateDir(const fs::path& dir) {
  struct stat st {};
  return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
         (st.st_mode & 0077) == 0;
}

fs::path MakePrivateFolder() {
  std::vector<fs::path> bases;
  if (const char* home = std::getenv("KELVARA_HOME"); home && *home) {
    std::error_code ec;
    fs::create_directories(fs::path(home) / "run", ec);
    bases.push_back(fs::path(home) / "run");
  }
  if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run && IsPrivateDir(run)) bases.push_back(run);
  if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp) bases.push_back(tmp);
  bases.push_back("/tmp");
  for (const fs::path& base : bases) {
    std::string templ = (base / "kelvara-files-XXXXXX").string();
    if (mkdtemp(templ.data()) != nullptr && IsPrivateDir(templ)) return templ;
  }
  return {};
}

bool ReadWhole(const fs::path& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), {});
  return !in.bad();
}

const char* const kDefaultConfigChildren[] = {"RecordConfig", "ServerConfig",      "SystemConfig", "NetworkConfig",
                                              "MediaConfig",  "MediaStreamConfig", "AlarmConfig"};

// The document when it is an OEM default configuration.
bool LoadDefaultConfig(const fs::path& path, TiXmlDocument& doc) {
  std::string text;
  if (!ReadWhole(path, text)) return false;
  kelvara::ParseXmlGuarded(doc, text, TIXML_ENCODING_UNKNOWN);
  const TiXmlElement* root = doc.Error() ? nullptr : doc.RootElement();
  return root != nullptr && std::string(root->Value()) == "SOLVENConfig";
}

const OemAppFileKind kOemAppFiles[] = {
    {33100, "*.conf", "DANALE CONFIG Files(*.conf)|*.conf|All Files(*.*)|*.*||", "danale_"},
    {33101, "*.goolink", "GOOLINK CONFIG Files(*.goolink)|*.goolink|All Files(*.*)|*.*||", "goolink_"},
    {33102, "*.conf", "CLOSELI CONFIG Files(*.conf)|*.conf|All Files(*.*)|*.*||", "closeli_"},
    {33103, "*.txt", "TUTK CONFIG Files(*.txt)|*.txt|All Files(*.*)|*.*||", "tutk_"},
    {33104, "qnlinking*.conf", "QINIU CONFIG Files(*.conf)|*.conf|All Files(*.*)|*.*||", "qnlinking_"},
    {33105, "*.txt", "TUYA CONFIG Files(*.txt)|*.txt|All Files(*.*)|*.*||", "tuya_"},
    {33106, "*.txt", "TUYA MAIN PID Files(*.txt)|*.txt|All Files(*.*)|*.*||", "tuyamainpid_"},
    {33107, "*.txt", "TUYA SUB PID Files(*.txt)|*.txt|All Files(*.*)|*.*||", "tuyasubpid_"},
    {33108, "*.cws", "RM64PRO CLOUD Files(*.cws)|*.cws|All Files(*.*)|*.*||", ""},
    {33109, "*.aiot", "AIOT cloud ID Files(*.aiot)|*.aiot|All Files(*.*)|*.*||", ""},
    {kMenuFaceModel, "*.tar.gz", "ALI AA Files(*.tar.gz)|*.tar.gz|All Files(*.*)|*.*||", "ali_face_aa.tgz"},
    {33015, "*.bin", "ISP bin Files(*.bin)|*.bin|All Files(*.*)|*.*||", "ispdaybin_"},
    {33016, "*.bin", "ISP bin Files(*.bin)|*.bin|All Files(*.*)|*.*||", "ispnightbin_"},
    {33017, "*.bin", "ISP bin Files(*.bin)|*.bin|All Files(*.*)|*.*||", "aiispbin_"},
};

const CloudIdFile kCloudIdFiles[] = {
    {33378, "/mnt/nand/danale.conf", ".conf"},
    {33379, "/mnt/nand/dorvanex.txt", ".cws"},
};

}  // namespace

fs::path DeviceFileFolder() {
  static std::mutex mutex;
  static fs::path folder;
  std::lock_guard lock(mutex);
  // Made again when something removed it (a cleaner of temporary folders).
  if (folder.empty() || !IsPrivateDir(folder)) folder = MakePrivateFolder();
  return folder;
}

std::string TrimBlanks(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

std::string DeviceTypeFileText(const std::optional<std::string>& name) {
  return name ? "SET_OEM_DEVTYPE_FLAG=" + *name : std::string("DEL_OEM_DEVTYPE_FLAG=");
}

fs::path WriteDeviceTypeFile(const std::optional<std::string>& name) {
  const fs::path dir = DeviceFileFolder();
  if (dir.empty()) return {};
  const fs::path path = dir / "devicetype.oem";
  return WriteFileAtomically(path, DeviceTypeFileText(name)) ? path : fs::path();
}

int CheckOemDefaultConfig(const fs::path& path) {
  TiXmlDocument doc;
  if (!LoadDefaultConfig(path, doc)) return 0;
  for (const char* child : kDefaultConfigChildren)
    if (doc.RootElement()->FirstChildElement(child) == nullptr) return 0;
  return 1;
}

std::string OemDefaultConfigText(const fs::path& path) {
  TiXmlDocument doc;
  if (!LoadDefaultConfig(path, doc)) return {};
  doc.RootElement()->SetAttribute("SET_OEM_DEFAULT_CONFIG", 1);
  TiXmlPrinter printer;
  printer.SetIndent("\t");
  doc.Accept(&printer);
  return printer.Str();
}

int PrepareOemDefaultConfig(const fs::path& path, fs::path& out) {
  const std::string text = OemDefaultConfigText(path);
  if (text.empty()) return 0;
  const fs::path dir = DeviceFileFolder();
  if (dir.empty()) return 0;
  const fs::path target = dir / "config.defaut.xml";
  if (!WriteFileAtomically(target, text)) return 0;
  out = target;
  return 1;
}

fs::path CopyOemAppFile(const fs::path& source, std::string_view prefix) {
  std::string content;
  if (!ReadWhole(source, content)) return {};
  const fs::path dir = DeviceFileFolder();
  if (dir.empty()) return {};
  // The device reads the kind from the name's prefix: the source's own name follows it.
  const fs::path target = dir / (std::string(prefix) + source.filename().string());
  return WriteFileAtomically(target, content) ? target : fs::path();
}

const OemAppFileKind* FindOemAppFileKind(int command) {
  for (const auto& k : kOemAppFiles)
    if (k.command == command) return &k;
  return nullptr;
}

const CloudIdFile* FindCloudIdFile(int command) {
  for (const auto& c : kCloudIdFiles)
    if (c.command == command) return &c;
  return nullptr;
}

std::string CloudIdLocalName(std::string_view serial, std::string_view p2p_id, std::string_view extension) {
  std::string stem(serial);
  if (!p2p_id.empty()) stem += "_" + std::string(p2p_id);
  return SanitizePathComponent(stem) + std::string(extension);
}

}  // namespace kelvara::firmware
