#pragma once
// Device commands end to end: the real SDK against the device simulator on
// loopback (no discovery, nothing broadcast). The SDK's callbacks queue
// their records; Pump() hands them to the handlers on the test thread, as the
// window's UI thread does.
#include <VaRurOvoDiv/zq_netsdk_ipc.h>
#include <tinyxml.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

#include "device/core/aux_replies.h"
#include "device/core/device_commands.h"
#include "device/core/row_login.h"
#include "device/core/sdk_tap.h"
#include "device/core/status_events.h"
#include "device/core/zq_command_sdk.h"
#include "device/core/zq_netsdk.h"
#include "discovery/core/device_map.h"
#include "discovery/core/device_rows.h"
#include "simulator.h"

namespace kelvara::device::test {

// Records the callbacks' posts; the test thread takes them.
class QueueSink : public SdkEventSink {
 public:
  using Item = std::variant<DeviceStatusEvent, DeviceAuxResponse>;
  void PostStatusEvent(DeviceStatusEvent e) override { Push(std::move(e)); }
  void PostAuxResponse(DeviceAuxResponse r) override { Push(std::move(r)); }
  // Waits up to `wait` for at least one item; returns all there are.
  std::deque<Item> Take(std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    cv_.wait_for(lock, wait, [this] { return !items_.empty(); });
    std::deque<Item> out;
    out.swap(items_);
    return out;
  }

 private:
  void Push(Item item) {
    {
      std::lock_guard lock(mutex_);
      items_.push_back(std::move(item));
    }
    cv_.notify_one();
  }
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Item> items_;
};

// A list view that keeps the last text of every cell.
class CellView : public discovery::RowView {
 public:
  void RowInserted(discovery::DeviceListRow&) override {}
  void CellText(discovery::DeviceListRow& row, int column, const std::string& text) override {
    cells[{&row, column}] = text;
  }
  void RowTextColour(discovery::DeviceListRow&, discovery::RowColour) override {}
  void RowsCleared() override { cells.clear(); }
  std::map<std::pair<discovery::DeviceListRow*, int>, std::string> cells;
};

// Attributes of every element by path ("Video/Capture[0]@TVSystem") and
// element names in order: what a block says, for comparing two of them.
inline std::map<std::string, std::string> FlattenXml(const std::string& text) {
  std::map<std::string, std::string> out;
  TiXmlDocument doc;
  doc.Parse(text.c_str(), nullptr, TIXML_ENCODING_LEGACY);
  if (doc.Error() || !doc.RootElement()) {
    out["!error"] = text;
    return out;
  }
  std::function<void(const TiXmlElement*, const std::string&)> walk = [&](const TiXmlElement* e,
                                                                            const std::string& path) {
    for (const TiXmlAttribute* a = e->FirstAttribute(); a; a = a->Next()) out[path + "@" + a->Name()] = a->Value();
    std::map<std::string, int> seen;
    int index = 0;
    for (const TiXmlElement* c = e->FirstChildElement(); c; c = c->NextSiblingElement(), ++index) {
      const std::string child = path + "/" + c->Value() + "[" + std::to_string(seen[c->Value()]++) + "]";
      out[path + "#" + std::to_string(index)] = c->Value();
      walk(c, child);
    }
  };
  walk(doc.RootElement(), doc.RootElement()->Value());
  return out;
}

// The keys whose values differ (or exist on one side only).
inline std::map<std::string, std::pair<std::string, std::string>> DiffXml(const std::string& before,
                                                                           const std::string& after) {
  const auto a = FlattenXml(before);
  const auto b = FlattenXml(after);
  std::map<std::string, std::pair<std::string, std::string>> diff;
  for (const auto& [k, v] : a) {
    auto it = b.find(k);
    if (it == b.end() || it->second != v) diff[k] = {v, it == b.end() ? "<none>" : it->second};
  }
  for (const auto& [k, v] : b) {
    if (!a.count(k)) diff[k] = {"<none>", v};
  }
  return diff;
}

inline std::string HexDecode(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

// `count` simulated devices, each with a logged-in, online row.
class DevsimCommands {
 public:
  explicit DevsimCommands(int count, std::filesystem::path documents, DeviceSeams seams = {})
      : docs_(std::move(documents)) {
    // The reply time also bounds the login handshake (PBKDF2 on both ends).
    setenv("VARUROVODIV_REPLY_TIMEOUT_MS", std::to_string(Scaled(1500)).c_str(), 1);
    setenv("VARUROVODIV_CONNECT_TIMEOUT_MS", std::to_string(Scaled(2000)).c_str(), 1);
    devsim::SimConfig c;
    c.discovery_port = 0;  // loopback only: nothing is broadcast
    for (int i = 0; i < count; ++i) {
      devsim::DeviceConfig d;
      d.ip = "127.0.0.1";
      d.command_port = 0;
      d.log_port = 0;
      d.reboot_ms = 300;
      devsim::CompleteDevice(d, i);
      c.devices.push_back(d);
    }
    sim_ = std::make_unique<devsim::Simulator>(c);
    started_ = sim_->Start();
    columns_.BuildColumnMap({});
    rows_ = std::make_unique<discovery::DeviceRows>(columns_, view_);
    ZQ_NETSDK_IPC_Init();
    RegisterSdkCallbacks(&sink_);
    DeviceCommands::Options o;
    tap_.SetInner(&commandSdk_);
    o.sdk = &tap_;  // batch jobs watch the requests here
    o.lookup = [](const char* key) { return std::string(key); };
    o.documentsDir = [this] { return docs_; };
    o.seams = seams;
    commands_ = std::make_unique<DeviceCommands>(*rows_, o);
    replies_ = std::make_unique<AuxReplyHandler>(*commands_);
    events_ = std::make_unique<StatusEventHandler>(*commands_, *replies_);
  }

  ~DevsimCommands() {
    RegisterSdkCallbacks(nullptr);
    ZQ_NETSDK_IPC_Cleanup();
    sim_->Stop();
  }

  const std::string& StartError() const { return started_; }

  // Milliseconds times KELVARA_TEST_TIME_SCALE, which CTest sets above 1 for
  // sanitizer builds, where everything runs several times slower.
  static int Scaled(int ms) {
    const char* v = std::getenv("KELVARA_TEST_TIME_SCALE");
    const int scale = v != nullptr ? std::atoi(v) : 1;
    return ms * (scale < 1 ? 1 : scale);
  }

  // Lists every device and logs each in; true when all are online.
  bool LoginAll(std::chrono::milliseconds wait = std::chrono::milliseconds(30000)) {
    for (int i = 0; i < sim_->device_count(); ++i) {
      // A search reply naming a loopback address is refused, so the record
      // is made here.
      DeviceSearchInfo d;
      d.serialNumber = sim_->device(i).serial();
      d.deviceType = sim_->device(i).config().device_type;
      d.uuid = "u" + std::to_string(i);
      d.lanConfig.ipAddress = "127.0.0.1";
      d.streamAccess.ptzPort = sim_->command_port(i);
      d.userConfig.accountCount = 1;
      d.userConfig.accounts[0].userName = "admin";
      d.userConfig.accounts[0].password = sim_->device(i).config().password;
      d.hasAccounts = 1;
      map_.AddOrUpdateDevice(d, "127.0.0.1", 1);
    }
    ProcessReloginQueue(*rows_, rows_->RefreshDeviceList(map_, {}), loginSdk_, {"admin", ""});
    return PumpUntil([this] {
      for (std::size_t i = 0; i < rows_->Count(); ++i) {
        if (!rows_->At(i).m_online) return false;
      }
      return true;
    }, wait);
  }

  // Hands queued records to the handlers until `done` holds or `wait` passed.
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds wait = std::chrono::milliseconds(5000)) {
    const auto end = std::chrono::steady_clock::now() + wait * Scaled(1);
    while (!done()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      for (auto& item : sink_.Take(std::min(left, std::chrono::milliseconds(50)))) Dispatch(item);
    }
    return true;
  }
  // Hands over whatever arrives within `quiet`.
  void Drain(std::chrono::milliseconds quiet = std::chrono::milliseconds(200)) {
    for (auto items = sink_.Take(quiet); !items.empty(); items = sink_.Take(quiet)) {
      for (auto& item : items) Dispatch(item);
    }
  }

  std::string Status(std::size_t i) { return Cell(i, discovery::kColState); }
  std::string Cell(std::size_t i, int logical) {
    auto it = view_.cells.find({&rows_->At(i), columns_.GetColumnIndex(logical)});
    return it == view_.cells.end() ? std::string() : it->second;
  }
  // The block the device stores now.
  std::string Block(int device, int code) {
    return sim_->device(device).GetConfig(static_cast<std::uint32_t>(code)).text;
  }
  // The SDK frames the device received with this command code (journal).
  std::vector<std::string> Received(int device, int command);

  devsim::Simulator& Sim() { return *sim_; }
  discovery::DeviceRows& Rows() { return *rows_; }
  discovery::DeviceListRow& Row(std::size_t i) { return rows_->At(i); }
  DeviceCommands& Commands() { return *commands_; }
  SdkTap& Tap() { return tap_; }

  std::function<void(const DeviceStatusEvent&)> onEvent;  // after the handler
  std::function<void(const DeviceAuxResponse&)> onReply;  // after the handler

 private:
  void Dispatch(QueueSink::Item& item) {
    if (auto* e = std::get_if<DeviceStatusEvent>(&item)) {
      events_->OnDeviceStatusEvent(*e);
      if (onEvent) onEvent(*e);
    } else {
      replies_->OnDeviceAuxResponse(std::get<DeviceAuxResponse>(item));
      if (onReply) onReply(std::get<DeviceAuxResponse>(item));
    }
  }

  std::filesystem::path docs_;
  std::unique_ptr<devsim::Simulator> sim_;
  std::string started_;
  discovery::ColumnMap columns_;
  CellView view_;
  discovery::DeviceMap map_;
  std::unique_ptr<discovery::DeviceRows> rows_;
  QueueSink sink_;
  ZqNetSdk loginSdk_;
  ZqCommandSdk commandSdk_;
  SdkTap tap_;
  std::unique_ptr<DeviceCommands> commands_;
  std::unique_ptr<AuxReplyHandler> replies_;
  std::unique_ptr<StatusEventHandler> events_;
};

inline std::vector<std::string> DevsimCommands::Received(int device, int command) {
  std::vector<std::string> out;
  for (const devsim::JournalEntry& e : sim_->device(device).Journal(false)) {
    const std::string& frame = e.bytes;
    if (e.channel != "sdk" || frame.size() < 32) continue;
    auto u32 = [&](std::size_t o) {
      return (static_cast<std::uint32_t>(static_cast<unsigned char>(frame[o])) << 24) |
             (static_cast<std::uint32_t>(static_cast<unsigned char>(frame[o + 1])) << 16) |
             (static_cast<std::uint32_t>(static_cast<unsigned char>(frame[o + 2])) << 8) |
             static_cast<unsigned char>(frame[o + 3]);
    };
    const std::uint32_t type = u32(4) & 0xFFFF;
    if (type < 4 || type > 7) continue;  // requests only
    if (u32(16) == static_cast<std::uint32_t>(command)) out.push_back(frame.substr(32));
  }
  return out;
}

}  // namespace kelvara::device::test
