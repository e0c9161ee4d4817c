#include "device.h"

#include <algorithm>
#include <cstdlib>
#include <tinyxml.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "dialog_rules.h"
#include "digest.h"
#include "wire_frame.h"

namespace kelvara::devsim {
namespace {

constexpr size_t kJournalMaxBytes = 8u << 20;
constexpr size_t kJournalMaxEntries = 4096;
constexpr size_t kLogMaxLines = 1000;

std::string Esc(const std::string& in) {
  std::string out;
  for (char c : in) {
    switch (c) {
      case '"': out += "&quot;"; break;
      case '&': out += "&amp;"; break;
      case '\'': out += "&apos;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Hex(const std::string& bytes) { return varurovodiv::wire::ToHex(bytes); }

std::string Attr(const char* name, const std::string& value) {
  return std::string(" ") + name + "=\"" + Esc(value) + "\"";
}

std::string Attr(const char* name, long value) { return Attr(name, std::to_string(value)); }

// Which block a set command writes: the block its get command reads.
uint32_t BlockOfSetCode(uint32_t code) {
  if (code == 620) return 600;
  const uint32_t in_hundred = code % 100;
  if (code >= 200 && code < 600 && in_hundred >= 20 && in_hundred < 50) return code - 20;
  if (code >= 670 && code <= 682) return code - 20;
  return code;  // device-configuration codes (822, 827, 829...) keep their own block
}

// The LAN block (305) of a device with these settings.
std::string LanBlockOf(const DeviceConfig& c, int allnet, const std::string& extra) {
  return "<LANConfig" + Attr("MacAddress", c.mac) + Attr("DHCP", c.dhcp) + Attr("ALLNET", allnet) +
         Attr("IPAddress", c.ip) + Attr("Netmask", c.netmask) + Attr("Gateway", c.gateway) +
         Attr("DNS1", c.dns1) + Attr("DNS2", c.dns2) + extra + " />";
}

// Takes the network settings a LAN block names into `c` and `allnet`.
void TakeLanSettings(const std::map<std::string, std::string>& lan, DeviceConfig& c, int& allnet) {
  auto get = [&](const char* key, std::string& field) {
    auto it = lan.find(key);
    if (it != lan.end()) field = it->second;
  };
  get("IPAddress", c.ip);
  get("Netmask", c.netmask);
  get("Gateway", c.gateway);
  get("DNS1", c.dns1);
  get("DNS2", c.dns2);
  if (auto it = lan.find("DHCP"); it != lan.end()) c.dhcp = std::atoi(it->second.c_str());
  if (auto it = lan.find("ALLNET"); it != lan.end()) allnet = std::atoi(it->second.c_str());
}

bool IsSetCode(uint32_t code) {
  const uint32_t in_hundred = code % 100;
  return (code >= 200 && code < 900 && in_hundred >= 20 && in_hundred < 50) ||
         (code >= 670 && code <= 682);
}

}  // namespace

Device::Device(int index, DeviceConfig config)
    : index_(index),
      config_(std::move(config)),
      initial_(config_) {
  ResetBlocks();
}

void Device::ResetBlocks() {
  blocks_ = DefaultConfigBlocks(config_);
  lan_extra_ = kDefaultLanExtra;
}

DeviceConfig Device::config() const {
  std::lock_guard lock(mutex_);
  return config_;
}

std::string Device::serial() const {
  std::lock_guard lock(mutex_);
  return config_.serial;
}

std::string Device::ip() const {
  std::lock_guard lock(mutex_);
  return config_.ip;
}

std::string Device::SearchReplyText() const {
  std::lock_guard lock(mutex_);
  const DeviceConfig& c = config_;
  std::string t = "<?xml version=\"1.0\" encoding=\"GB2312\" ?>\n<" + c.root + ">\n";
  t += "<MESSAGE_HEADER Msg_type=\"SYSTEM_SEARCHIPC_MESSAGE\" Msg_code=\"3\" Msg_flag=\"0\" />\n";
  t += "<MESSAGE_BODY>\n";
  t += "<IPC_SERIALNUMBER" + Attr("SerialNumber", c.serial) + Attr("OEM_SN", c.oem_serial) +
       Attr("PLATFORMID", c.platform_id) + Attr("VERSION", c.version) +
       Attr("AF_VERSION", c.af_version) + Attr("MODULE4G_VERSION", c.module4g_version) +
       Attr("P2PTYPE", c.p2p_type) + Attr("P2PID", c.p2p_id) + Attr("UUID", c.uuid) +
       Attr("runtime", c.uptime_s) + Attr("P2PSTATUS", c.p2p_status) + " />\n";
  t += "<DEVICE_TYPE" + Attr("DeviceType", c.device_type) + Attr("OSD", Hex(c.title)) + " />\n";
  t += LanBlock() + "\n";
  t += "<MediaStreamConfig><StreamAccess Auth=\"1\" RTPOverRTSP=\"1\"" +
       Attr("VideoPort", c.video_port) + Attr("PTZPort", c.command_port) +
       Attr("WEBPort", c.web_port) + " /></MediaStreamConfig>\n";
  if (c.reply_account) {
    t += "<UserConfig><Account" + Attr("Username", c.user) + Attr("Password", c.password) +
         " Group=\"Administrator\" Status=\"Enable\" /></UserConfig>\n";
  }
  t += "</MESSAGE_BODY>\n</" + c.root + ">";
  return t;
}

std::string Device::LanBlock() const { return LanBlockOf(config_, allnet_, lan_extra_); }

varurovodiv::wire::Hello Device::NewHello() {
  return {varurovodiv::wire::RandomBytes(varurovodiv::wire::kNonceSize)};
}

std::optional<std::string> Device::LoginPassword(const std::string& user) const {
  std::lock_guard lock(mutex_);
  if (faults_.refuse_login || user != config_.user) return std::nullopt;
  return config_.password;
}

SdkAnswer Device::SystemControl(uint32_t code, const std::string& request) {
  if (!ControlValuesInRange(code, request)) return {varurovodiv::wire::kResultBadRequest, {}};
  if (auto a = oem_files_.Control(code, request)) return {a->result, a->text};
  if (code == 1157) {
    // Manual focus: a report at once after the start, and with each
    // heartbeat until the stop.
    if (auto report = FocusReportFor(request)) {
      {
        std::lock_guard lock(mutex_);
        focus_report_ = *report;
      }
      PushEvent(23, AlarmRecordNow(201, 0, *report));
    } else if (IsFocusStop(request)) {
      std::lock_guard lock(mutex_);
      focus_report_.clear();
    }
    return {0, "<RESPONSE_PARAM />"};
  }
  std::lock_guard lock(mutex_);
  const DeviceConfig& c = config_;
  if (IsStoredControl(code)) blocks_[code] = request;
  if (auto made = MakeFileFor(code, made_files_, c.serial, made_count_ + 1)) {
    // The file exists at once; the alarm that names it follows later.
    ++made_count_;
    files_[made->path] = *made->content;
    delayed_events_.emplace_back(Clock::now() + std::chrono::milliseconds(made_files_.delay_ms), 23,
                                 AlarmRecordNow(static_cast<int>(made->alarm_code), 0, made->path));
    return {0, "<RESPONSE_PARAM />"};
  }
  switch (code) {
    case 1094: {
      // Factory mode as the request sets it (`state` shows it).
      const size_t at = request.find("Mode=\"");
      if (at != std::string::npos) factory_mode_.store(std::atoi(request.c_str() + at + 6));
      return {0, "<RESPONSE_PARAM />"};
    }
    case 1012:
      return {0, "<RESPONSE_PARAM" + Attr("FileSystemVersion", c.fs_version) +
                     Attr("McuVersion", c.mcu_version) +
                     Attr("Module4gVersion", c.module4g_version) + " />"};
    case 1019:
      return {0, "<RESPONSE_PARAM" + Attr("SerialNumber", c.serial) + " />"};
    case 1020:
      return {0, "<RESPONSE_PARAM" + Attr("DeviceType", c.device_type) +
                     Attr("Version", c.version) +
                     " VideoChannels=\"1\" AudioIn=\"1\" AudioOut=\"1\" Ptz=\"0\" Storage=\"1\"" +
                     (c.abilities.empty() ? std::string() : Attr("Abilities", c.abilities)) + " />"};
    case 1095:
      return {0, "<RESPONSE_PARAM" + Attr("FileSystemVersion", c.fs_version) + " />"};
    case 1014:
      return {0, "<STORAGE_INFO><Storage DevName=\"sd1\" Mounted=\"1\" Status=\"1\""
                 " Total=\"30436\" Used=\"1024\" Free=\"29412\" Percent=\"3\" /></STORAGE_INFO>"};
    case 2003:  // key frame request of a live stream
      key_frame_requests_.fetch_add(1);
      return {0, "<RESPONSE_PARAM />"};
    case 1002:
      ResetBlocks();
      ++restores_;
      return {0, "<RESPONSE_PARAM />"};
    default:
      return {0, "<RESPONSE_PARAM />"};
  }
}

SdkAnswer Device::GetConfig(uint32_t code) {
  std::lock_guard lock(mutex_);
  if (code == 305) return {0, LanBlock()};
  auto it = blocks_.find(code);
  if (it == blocks_.end()) return {varurovodiv::wire::kResultNotFound, {}};
  return {0, it->second};
}

SdkAnswer Device::SetConfig(uint32_t code, const std::string& text) {
  TiXmlDocument doc;
  // Legacy (byte-wise) reading: TinyXML's UTF-8 path reads past the end of
  // malformed multi-byte names; the texts are 8-bit anyway.
  doc.Parse(text.c_str(), nullptr, TIXML_ENCODING_LEGACY);
  if (doc.Error() || doc.RootElement() == nullptr || !IsSetCode(code)) {
    return {varurovodiv::wire::kResultBadRequest, {}};
  }
  const uint32_t block = BlockOfSetCode(code);
  if (block == 305) {
    return ApplyLanText(text) ? SdkAnswer{0, {}} : SdkAnswer{varurovodiv::wire::kResultBadRequest, {}};
  }
  if (!SetValuesInRange(code, *doc.RootElement())) return {varurovodiv::wire::kResultBadRequest, {}};
  std::lock_guard lock(mutex_);
  if (code == 223) {
    // The user set changes the account the device logs in with.
    if (auto password = AccountPassword(*doc.RootElement(), config_.user)) config_.password = *password;
  }
  const std::string part_name = doc.RootElement()->Value();
  if ((code == 822 || code == 827 || code == 829) &&
      (part_name == "PDAlarm" || part_name == "MDAlarm" || part_name == "AudioAlarm")) {
    // A part of the alarm block: it replaces that part inside block 800.
    TiXmlDocument alarms;
    alarms.Parse(blocks_[800].c_str(), nullptr, TIXML_ENCODING_LEGACY);
    TiXmlElement* root = alarms.RootElement();
    const char* part = doc.RootElement()->Value();
    if (root != nullptr) {
      if (TiXmlElement* old = root->FirstChildElement(part)) {
        root->ReplaceChild(old, *doc.RootElement());
      } else {
        root->InsertEndChild(*doc.RootElement());
      }
      TiXmlPrinter printer;
      printer.SetStreamPrinting();
      alarms.Accept(&printer);
      // A block is read back in one frame: a set that would grow it past
      // that is refused, and changes nothing.
      if (!varurovodiv::wire::FitsOneFrame(printer.Size())) return {varurovodiv::wire::kResultBadRequest, {}};
      blocks_[800] = printer.CStr();
    }
  }
  if (code == 525) {
    // The overlay is kept decoded, as a device does, not as the text sent.
    auto merged = MergeOverlaySet(blocks_[block], *doc.RootElement());
    if (!merged || !varurovodiv::wire::FitsOneFrame(merged->size())) {
      return {varurovodiv::wire::kResultBadRequest, {}};
    }
    blocks_[block] = *merged;
    return {0, {}};
  }
  blocks_[block] = text;
  return {0, {}};
}

bool Device::ApplyLanText(const std::string& text) {
  TiXmlDocument doc;
  doc.Parse(text.c_str(), nullptr, TIXML_ENCODING_LEGACY);
  const TiXmlElement* e = doc.Error() ? nullptr : doc.RootElement();
  if (e != nullptr && std::string(e->Value()) != "LANConfig") e = e->FirstChildElement("LANConfig");
  if (e == nullptr) return false;
  std::map<std::string, std::string> lan;
  std::string extra;
  static const std::set<std::string> kKnown = {"MacAddress", "DHCP",    "ALLNET", "IPAddress",
                                               "Netmask",    "Gateway", "DNS1",   "DNS2"};
  for (const TiXmlAttribute* a = e->FirstAttribute(); a != nullptr; a = a->Next()) {
    lan[a->Name()] = a->Value();
    if (!kKnown.count(a->Name())) extra += Attr(a->Name(), a->Value());
  }
  {
    // What the block carries beyond the network settings is kept as sent,
    // if the block it makes still goes in one frame.
    std::lock_guard lock(mutex_);
    DeviceConfig next = config_;
    int allnet = allnet_;
    TakeLanSettings(lan, next, allnet);
    if (!varurovodiv::wire::FitsOneFrame(LanBlockOf(next, allnet, extra).size())) return false;
    lan_extra_ = extra;
  }
  ApplyLan(lan);
  return true;
}

CodeFault Device::code_fault(uint32_t code) const {
  std::lock_guard lock(mutex_);
  auto it = code_faults_.find(code);
  return it == code_faults_.end() ? CodeFault{} : it->second;
}

std::string Device::SetCodeFault(uint32_t code, const std::string& args) {
  std::lock_guard lock(mutex_);
  CodeFault fault = code_faults_[code];
  const std::string error = ParseCodeFault(args, fault);
  if (!error.empty()) return error;
  if (fault.kind == CodeFault::Kind::kNone && fault.alarm_record.empty())
    code_faults_.erase(code);
  else
    code_faults_[code] = fault;
  return "";
}

void Device::SetOffline(bool offline) {
  offline_.store(offline);
  if (offline) {
    DropLinks();
    CloseLogs();
  }
}

void Device::PutBlock(uint32_t code, std::string text) {
  std::lock_guard lock(mutex_);
  blocks_[code] = std::move(text);
}

void Device::RestoreConfig() {
  std::lock_guard lock(mutex_);
  ResetBlocks();
  ++restores_;
}

void Device::StoreUploadedFile(uint32_t kind, const std::string& name, const std::string& content) {
  if (oem_files_.Store(kind, name, content)) return;
  std::lock_guard lock(mutex_);
  if (kind == static_cast<uint32_t>(varurovodiv::wire::TransferKind::kConfigFile)) {
    uploaded_config_ = content;
  }
  files_["/upload/" + name] = content;
}

bool Device::ReadDeviceFile(uint32_t kind, const std::string& path, std::string& content) const {
  if (kind == static_cast<uint32_t>(varurovodiv::wire::TransferKind::kFileByName) && oem_files_.Read(path, content))
    return true;
  std::lock_guard lock(mutex_);
  if (kind == static_cast<uint32_t>(varurovodiv::wire::TransferKind::kConfigFile)) {
    content = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<DEVICE_CONFIG" +
              Attr("SerialNumber", config_.serial) + ">\n";
    for (const auto& [code, text] : blocks_) {
      content += "<BLOCK Code=\"" + std::to_string(code) + "\">" + text + "</BLOCK>\n";
    }
    content += "</DEVICE_CONFIG>\n";
    return true;
  }
  auto it = files_.find(path);
  if (it == files_.end()) return false;
  content = it->second;
  return true;
}

void Device::PutDeviceFile(const std::string& path, std::string content) {
  std::lock_guard lock(mutex_);
  files_[path] = std::move(content);
}

void Device::ApplyLan(const std::map<std::string, std::string>& lan) {
  bool moved = false;
  {
    std::lock_guard lock(mutex_);
    const std::string old_ip = config_.ip;
    TakeLanSettings(lan, config_, allnet_);
    moved = config_.ip != old_ip;
  }
  if (moved) DropLinks();
}

void Device::ApplyIntercom(const std::string& text) {
  std::lock_guard lock(mutex_);
  intercom_ = text;
}

void Device::Restore(bool keep_network) {
  {
    std::lock_guard lock(mutex_);
    DeviceConfig restored = initial_;
    if (keep_network) {
      restored.ip = config_.ip;
      restored.netmask = config_.netmask;
      restored.gateway = config_.gateway;
      restored.dns1 = config_.dns1;
      restored.dns2 = config_.dns2;
      restored.dhcp = config_.dhcp;
    } else {
      restored.ip = initial_.default_ip;
    }
    config_ = restored;
    ResetBlocks();
    ++restores_;
  }
  Reboot();
}

void Device::Reboot() {
  {
    std::lock_guard lock(mutex_);
    down_until_ = Clock::now() + std::chrono::milliseconds(config_.reboot_ms);
    ++reboots_;
  }
  DropLinks();
  CloseLogs();
}

bool Device::Up() const {
  if (offline_.load()) return false;
  std::lock_guard lock(mutex_);
  return Clock::now() >= down_until_;
}

Faults Device::faults() const {
  std::lock_guard lock(mutex_);
  return faults_;
}

bool Device::SetFault(const std::string& name, const std::string& value) {
  const long n = std::strtol(value.c_str(), nullptr, 10);
  {
    std::lock_guard lock(mutex_);
    if (name == "drop_replies") faults_.drop_replies = n != 0;
    else if (name == "delay_ms") faults_.delay_ms = static_cast<int>(std::max(0L, std::min(n, 60000L)));
    else if (name == "malformed_reply") faults_.malformed_reply = n != 0;
    else if (name == "oversize_reply") faults_.oversize_reply = n != 0;
    else if (name == "refuse_login") faults_.refuse_login = n != 0;
    else if (name == "drop_after_bytes") faults_.drop_after_bytes = n;
    else if (name == "stall") faults_.stall = n != 0;
    else if (name == "stall_after_bytes") faults_.stall_after_bytes = n;
    else if (name == "reset_at_end") faults_.reset_at_end = n != 0;
    else if (name == "clear") faults_ = Faults{};
    else return false;
  }
  WakeLinks();
  return true;
}

void Device::Record(const char* channel, std::string bytes) {
  std::lock_guard lock(mutex_);
  Journalize({channel, std::move(bytes), false});
}

void Device::RecordUnauthenticated(const char* channel, std::string_view bytes, size_t& kept) {
  if (kept >= kUnauthenticatedJournalPerPeer) return;
  bytes = bytes.substr(0, kUnauthenticatedJournalPerPeer - kept);
  kept += bytes.size();
  std::lock_guard lock(mutex_);
  Journalize({channel, std::string(bytes), true});
}

void Device::Journalize(JournalEntry entry) {
  journal_bytes_ += entry.bytes.size();
  if (entry.unauthenticated) {
    unauthenticated_bytes_ += entry.bytes.size();
    ++unauthenticated_entries_;
  }
  journal_.push_back(std::move(entry));
  while (unauthenticated_bytes_ > kUnauthenticatedJournalBytes ||
         unauthenticated_entries_ > kUnauthenticatedJournalEntries) {
    ForgetJournalEntry(std::find_if(journal_.begin(), journal_.end(),
                                    [](const JournalEntry& e) { return e.unauthenticated; }));
  }
  while (journal_.size() > kJournalMaxEntries || journal_bytes_ > kJournalMaxBytes) {
    ForgetJournalEntry(journal_.begin());
  }
}

void Device::ForgetJournalEntry(std::deque<JournalEntry>::iterator it) {
  journal_bytes_ -= it->bytes.size();
  if (it->unauthenticated) {
    unauthenticated_bytes_ -= it->bytes.size();
    --unauthenticated_entries_;
  }
  journal_.erase(it);
}

std::vector<JournalEntry> Device::Journal(bool clear) {
  std::lock_guard lock(mutex_);
  std::vector<JournalEntry> out(journal_.begin(), journal_.end());
  if (clear) {
    journal_.clear();
    journal_bytes_ = unauthenticated_bytes_ = unauthenticated_entries_ = 0;
  }
  return out;
}

void Device::PushLog(const std::string& line) {
  std::lock_guard lock(mutex_);
  log_lines_.emplace_back(log_next_++, line);
  while (log_lines_.size() > kLogMaxLines) log_lines_.pop_front();
}

std::vector<std::pair<uint64_t, std::string>> Device::LogSince(uint64_t after) const {
  std::lock_guard lock(mutex_);
  std::vector<std::pair<uint64_t, std::string>> out;
  for (const auto& l : log_lines_) {
    if (l.first > after) out.push_back(l);
  }
  return out;
}

void Device::PushFocusReport() {
  std::string report;
  {
    std::lock_guard lock(mutex_);
    report = focus_report_;
  }
  if (!report.empty()) PushEvent(23, AlarmRecordNow(201, 0, report));
}

std::string Device::SetMadeFileSetting(const std::string& args) {
  std::lock_guard lock(mutex_);
  return devsim::SetMadeFileSetting(made_files_, args);
}

void Device::ReleaseDueEvents() {
  std::lock_guard lock(mutex_);
  const Clock::time_point now = Clock::now();
  while (!delayed_events_.empty() && std::get<0>(delayed_events_.front()) <= now) {
    auto& [due, code, data] = delayed_events_.front();
    events_.emplace_back(event_next_++, code, std::move(data));
    delayed_events_.pop_front();
  }
  while (events_.size() > kLogMaxLines) events_.pop_front();
}

void Device::PushEvent(uint32_t code, std::string data) {
  {
    std::lock_guard lock(mutex_);
    events_.emplace_back(event_next_++, code, std::move(data));
    while (events_.size() > kLogMaxLines) events_.pop_front();
  }
  WakeLinks();
}

void Device::AddLinkWake(int fd) {
  std::lock_guard lock(wake_mutex_);
  link_wakes_.push_back(fd);
}

void Device::RemoveLinkWake(int fd) {
  std::lock_guard lock(wake_mutex_);
  link_wakes_.erase(std::remove(link_wakes_.begin(), link_wakes_.end(), fd), link_wakes_.end());
}

void Device::WakeLinks() {
  std::lock_guard lock(wake_mutex_);
  const uint64_t one = 1;
  for (int fd : link_wakes_) [[maybe_unused]] ssize_t n = write(fd, &one, sizeof one);
}

Device::Clock::time_point Device::NextEventDue() const {
  std::lock_guard lock(mutex_);
  Clock::time_point due = Clock::time_point::max();
  for (const auto& e : delayed_events_) due = std::min(due, std::get<0>(e));
  return due;
}

std::vector<std::tuple<uint64_t, uint32_t, std::string>> Device::EventsSince(uint64_t after) const {
  std::lock_guard lock(mutex_);
  std::vector<std::tuple<uint64_t, uint32_t, std::string>> out;
  for (const auto& e : events_) {
    if (std::get<0>(e) > after) out.push_back(e);
  }
  return out;
}

void Device::SetFlood(uint32_t code, std::string data, uint64_t count) {
  {
    std::lock_guard lock(mutex_);
    flood_code_ = code;
    flood_data_ = std::move(data);
    flood_left_ = count;
  }
  WakeLinks();  // an idle link starts the flood at once
}

uint64_t Device::TakeFlood(uint64_t max, uint32_t& code, std::string& data) {
  std::lock_guard lock(mutex_);
  const uint64_t n = std::min(max, flood_left_);
  flood_left_ -= n;
  flooded_ += n;
  code = flood_code_;
  if (n > 0) data = flood_data_;
  return n;
}

uint64_t Device::last_event() const {
  std::lock_guard lock(mutex_);
  return event_next_ - 1;
}

void Device::CountUpgrade(const std::string& sha_hex, uint64_t size) {
  std::lock_guard lock(mutex_);
  ++upgrades_;
  last_firmware_ = sha_hex + ":" + std::to_string(size);
}

void Device::CountRefusedImage(const std::string& reason) {
  std::lock_guard lock(mutex_);
  ++refused_images_;
  last_refusal_ = reason;
}

void Device::ApplyFirmwareVersion(const std::string& version) {
  std::lock_guard lock(mutex_);
  // What the search reply and the version queries report from now on, also
  // after a restore of the factory settings.
  config_.version = initial_.version = version;
  config_.fs_version = initial_.fs_version = version;
}

void Device::CountLogin(bool ok) {
  std::lock_guard lock(mutex_);
  ++(ok ? logins_ok_ : logins_refused_);
}

std::string Device::StateText() const {
  std::lock_guard lock(mutex_);
  const DeviceConfig& c = config_;
  std::string s = "serial=" + c.serial + " uuid=" + c.uuid + " ip=" + c.ip + " netmask=" +
                  c.netmask + " gateway=" + c.gateway + " dhcp=" + std::to_string(c.dhcp) +
                  " allnet=" + std::to_string(allnet_) +
                  " factory_mode=" + std::to_string(factory_mode_.load()) +
                  " reboots=" + std::to_string(reboots_) + " restores=" + std::to_string(restores_) +
                  " upgrades=" + std::to_string(upgrades_) +
                  " logins_ok=" + std::to_string(logins_ok_) +
                  " logins_refused=" + std::to_string(logins_refused_) +
                  " up=" + std::string(!offline_.load() && Clock::now() >= down_until_ ? "1" : "0") +
                  " offline=" + std::string(offline_.load() ? "1" : "0");
  if (!last_firmware_.empty()) s += " firmware=" + last_firmware_;
  s += " version=" + c.version + " refused_images=" + std::to_string(refused_images_);
  if (!uploaded_config_.empty()) s += " config_file_bytes=" + std::to_string(uploaded_config_.size());
  if (!intercom_.empty()) s += " intercom=1";
  s += " made_files=" + std::to_string(made_count_);
  s += " flooded=" + std::to_string(flooded_);
  s += " journal_bytes=" + std::to_string(journal_bytes_) +
       " journal_unauthenticated_bytes=" + std::to_string(unauthenticated_bytes_);
  return s;
}

}  // namespace kelvara::devsim
