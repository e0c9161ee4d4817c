#include "oem_files.h"

#include <tinyxml.h>

#include <sstream>

#include "digest.h"
#include "wire_frame.h"

namespace kelvara::devsim {
namespace wire = varurovodiv::wire;
namespace {

constexpr uint32_t kSearch = 1021;
constexpr uint32_t kPlay = 1022;
constexpr uint32_t kDelete = 1024;
constexpr const char* kRoots[] = {"/oem/mp3/", "/oem/app/"};

// The request's REQUEST_PARAM element, or null.
const TiXmlElement* RequestOf(TiXmlDocument& doc, const std::string& text) {
  doc.Parse(text.c_str(), nullptr, TIXML_ENCODING_LEGACY);
  const TiXmlElement* root = doc.Error() ? nullptr : doc.RootElement();
  return root != nullptr && std::string(root->Value()) == "REQUEST_PARAM" ? root : nullptr;
}

std::string Print(const TiXmlElement& e) {
  TiXmlPrinter printer;
  printer.SetStreamPrinting();
  e.Accept(&printer);
  return printer.Str();
}

}  // namespace

std::optional<OemFileStores::Kind> OemFileStores::KindOfTransfer(uint32_t kind) {
  if (kind == static_cast<uint32_t>(wire::TransferKind::kOemMp3File)) return kMp3;
  if (kind == static_cast<uint32_t>(wire::TransferKind::kOemAppFile)) return kApp;
  return std::nullopt;
}

std::string OemFileStores::PathOf(Kind kind, const std::string& name) { return kRoots[kind] + name; }

bool OemFileStores::ValidName(const std::string& name) {
  if (name.empty() || name.size() > kMaxName || name == "." || name == "..") return false;
  for (unsigned char c : name)
    if (c < 0x20 || c == '/' || c == '\\') return false;
  return true;
}

std::optional<OemFileStores::Found> OemFileStores::Find(const std::string& pathOrName) const {
  for (int k = 0; k < kKinds; ++k) {
    const std::string root = kRoots[k];
    if (pathOrName.compare(0, root.size(), root) == 0) {
      const std::string name = pathOrName.substr(root.size());
      if (files_[k].count(name)) return Found{static_cast<Kind>(k), name};
      return std::nullopt;
    }
  }
  // A bare name: the MP3 store first.
  if (pathOrName.find('/') != std::string::npos) return std::nullopt;
  for (int k = 0; k < kKinds; ++k)
    if (files_[k].count(pathOrName)) return Found{static_cast<Kind>(k), pathOrName};
  return std::nullopt;
}

OemAnswer OemFileStores::List(Kind kind, long page) const {
  const auto& files = files_[kind];
  const std::size_t pages = (files.size() + kPageSize - 1) / kPageSize;
  std::size_t p = static_cast<std::size_t>(page);
  // A device that ignores the page number past the end repeats its last page.
  if (repeat_pages_ && pages > 0 && p >= pages) p = pages - 1;
  TiXmlElement root("RESPONSE_PARAM");
  root.SetAttribute("Page", static_cast<int>(page));
  root.SetAttribute("Total", static_cast<int>(files.size()));
  std::size_t i = 0;
  for (const auto& [name, content] : files) {
    if (i++ / kPageSize != p) continue;
    TiXmlElement e("RECORD_FILE");
    e.SetAttribute("FilePath", PathOf(kind, name).c_str());
    e.SetAttribute("FileLength", std::to_string(content.size()).c_str());
    root.InsertEndChild(e);
  }
  return {0, Print(root)};
}

std::optional<OemAnswer> OemFileStores::Control(uint32_t code, const std::string& request) {
  if (code != kSearch && code != kPlay && code != kDelete) return std::nullopt;
  TiXmlDocument doc;
  const TiXmlElement* req = RequestOf(doc, request);
  if (req == nullptr) return OemAnswer{wire::kResultBadRequest, {}};
  std::lock_guard lock(mutex_);
  if (code == kSearch) {
    const char* type = req->Attribute("MediaType");
    int page = -1;
    if (type == nullptr || req->QueryIntAttribute("Page", &page) != TIXML_SUCCESS || page < 0)
      return OemAnswer{wire::kResultBadRequest, {}};
    const std::string t = type;
    if (t == "OEMMP3") return List(kMp3, page);
    if (t == "OEMAPP") return List(kApp, page);
    return OemAnswer{wire::kResultBadRequest, {}};
  }
  if (code == kDelete) {
    const char* name = req->Attribute("FileName");
    if (name == nullptr) return OemAnswer{wire::kResultBadRequest, {}};
    if (refuse_delete_) return OemAnswer{wire::kResultUnsupported, {}};
    const auto found = Find(name);
    if (!found) return OemAnswer{wire::kResultNotFound, {}};
    // Deleting the file that plays stops it.
    if (playing_ == PathOf(found->kind, found->name)) playing_.clear();
    files_[found->kind].erase(found->name);
    return OemAnswer{0, "<RESPONSE_PARAM />"};
  }
  const char* action = req->Attribute("Action");
  const std::string a = action != nullptr ? action : "";
  if (a != "Play" && a != "Stop") return OemAnswer{wire::kResultBadRequest, {}};
  if (refuse_listen_) return OemAnswer{wire::kResultUnsupported, {}};
  if (a == "Stop") {
    playing_.clear();
    return OemAnswer{0, "<RESPONSE_PARAM />"};
  }
  const char* name = req->Attribute("FileName");
  if (name == nullptr) return OemAnswer{wire::kResultBadRequest, {}};
  const auto found = Find(name);
  if (!found || found->kind != kMp3) return OemAnswer{wire::kResultNotFound, {}};
  int loop = 0;
  req->QueryIntAttribute("Loop", &loop);
  playing_ = PathOf(kMp3, found->name);
  loop_ = loop != 0;
  ++plays_;
  return OemAnswer{0, "<RESPONSE_PARAM />"};
}

std::optional<int> OemFileStores::AcceptUpload(uint32_t kind, const std::string& name) const {
  if (!KindOfTransfer(kind)) return std::nullopt;
  std::lock_guard lock(mutex_);
  if (refuse_upload_) return wire::kResultUnsupported;
  if (!ValidName(name)) return wire::kResultBadRequest;
  return 0;
}

bool OemFileStores::Store(uint32_t kind, const std::string& name, const std::string& content) {
  const auto k = KindOfTransfer(kind);
  if (!k) return false;
  std::lock_guard lock(mutex_);
  files_[*k][name] = content;
  return true;
}

bool OemFileStores::Read(const std::string& path, std::string& content) const {
  std::lock_guard lock(mutex_);
  // Only a listed path: a bare name is no device path.
  if (path.find('/') == std::string::npos) return false;
  const auto found = Find(path);
  if (!found) return false;
  content = files_[found->kind].at(found->name);
  return true;
}

std::string OemFileStores::Put(const std::string& kind, const std::string& name, const std::string& content) {
  if (kind != "mp3" && kind != "app") return "err oem D put mp3|app NAME [HEX]";
  if (!ValidName(name)) return "err bad name";
  std::lock_guard lock(mutex_);
  files_[kind == "mp3" ? kMp3 : kApp][name] = content;
  return "ok";
}

std::string OemFileStores::Command(const std::string& line) {
  std::istringstream in(line);
  std::string sub;
  in >> sub;
  auto kindArg = [&](Kind& k) {
    std::string s;
    in >> s;
    if (s == "mp3") k = kMp3;
    else if (s == "app") k = kApp;
    else return false;
    return true;
  };
  std::lock_guard lock(mutex_);
  if (sub == "list") {
    Kind k;
    if (!kindArg(k)) return "err oem D list mp3|app";
    std::string out = "ok " + std::to_string(files_[k].size());
    for (const auto& [name, content] : files_[k])
      out += "\n" + PathOf(k, name) + " " + std::to_string(content.size()) + " " +
             wire::ToHex(wire::DigestBytes(wire::Sha256Of(content)));
    return out;
  }
  if (sub == "play") {
    if (playing_.empty()) return "ok stopped plays=" + std::to_string(plays_);
    return "ok playing " + playing_ + " loop=" + (loop_ ? "1" : "0") + " plays=" + std::to_string(plays_);
  }
  if (sub == "fault") {
    std::string name;
    int on = -1;
    if (!(in >> name >> on) || (on != 0 && on != 1)) return "err oem D fault upload|delete|listen|repeat_pages 0|1";
    if (name == "upload") refuse_upload_ = on;
    else if (name == "delete") refuse_delete_ = on;
    else if (name == "listen") refuse_listen_ = on;
    else if (name == "repeat_pages") repeat_pages_ = on;
    else return "err unknown oem fault '" + name + "'";
    return "ok";
  }
  return "err oem D list|play|fault";
}

}  // namespace kelvara::devsim
