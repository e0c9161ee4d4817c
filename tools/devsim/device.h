#pragma once
// The state of one simulated device: identity and network (which commands
// really change), the configuration store behind the get/set commands, fault
// switches, and a journal of everything it received.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "log_stream.h"
#include "made_files.h"
#include "oem_files.h"
#include "config_store.h"
#include "device_config.h"
#include "login_handshake.h"
#include "talk_sink.h"

namespace kelvara::devsim {

// What peers that have not logged in can make a device keep in its journal
// (Device::RecordUnauthenticated): per connection or datagram, and in all.
inline constexpr size_t kUnauthenticatedJournalPerPeer = 4 * 1024;
inline constexpr size_t kUnauthenticatedJournalBytes = 64 * 1024;
inline constexpr size_t kUnauthenticatedJournalEntries = 256;

struct Faults {
  bool drop_replies = false;     // no reply at all: search, login, heartbeat, requests, events
  int delay_ms = 0;              // every reply waits this long
  bool malformed_reply = false;  // replies are sent with a broken header
  bool oversize_reply = false;   // replies announce a payload beyond the limit
  bool refuse_login = false;     // every login is refused
  int64_t drop_after_bytes = -1; // a transfer drops the link after this many bytes
  bool stall = false;            // stop reading and answering, keep the link open
  int64_t stall_after_bytes = -1; // a transfer's link stops moving after this many bytes
  bool reset_at_end = false;     // after a good image the device reboots without answering
};

struct JournalEntry {
  std::string channel;  // "udp", "sdk", "log"
  std::string bytes;
  bool unauthenticated = false;  // from a peer that had not logged in
};

struct SdkAnswer {
  int result = 0;
  std::string text;
};

class Device {
 public:
  using Clock = std::chrono::steady_clock;

  Device(int index, DeviceConfig config);

  int index() const { return index_; }
  DeviceConfig config() const;
  std::string serial() const;
  std::string ip() const;

  // Discovery: the Msg_code 3 reply text.
  std::string SearchReplyText() const;

  // Login: the HELLO this device sends (a fresh nonce), and the password of
  // the account a login names; none for another user or while logins are
  // refused (the exchange then runs to its end with a random secret, so a
  // wrong user looks like a wrong password).
  static varurovodiv::wire::Hello NewHello();
  std::optional<std::string> LoginPassword(const std::string& user) const;

  // SDK requests (the frame type's base value, command, payload).
  SdkAnswer SystemControl(uint32_t code, const std::string& request);
  SdkAnswer GetConfig(uint32_t code);
  SdkAnswer SetConfig(uint32_t code, const std::string& text);
  void RestoreConfig();
  // Stores a block as it is (control interface; no validation).
  void PutBlock(uint32_t code, std::string text);
  // The LAN block (305, <LANConfig .../>): the device takes the settings; a
  // new address moves its sockets. False when the text is not such a block,
  // or when the block it would make does not go in one frame.
  bool ApplyLanText(const std::string& text);

  // Files.
  void StoreUploadedFile(uint32_t kind, const std::string& name, const std::string& content);
  bool ReadDeviceFile(uint32_t kind, const std::string& path, std::string& content) const;
  void PutDeviceFile(const std::string& path, std::string content);
  // The OEM MP3 and application file stores (oem_files.h).
  OemFileStores& oem_files() { return oem_files_; }
  // Files the device makes on request (snapshot, time-lapse, record export):
  // names and the delay before the announcing alarm.
  std::string SetMadeFileSetting(const std::string& args);
  // Alarms whose delay has passed join the events.
  void ReleaseDueEvents();

  // Login-free commands (already matched to this device).
  void ApplyLan(const std::map<std::string, std::string>& lan);
  void ApplyIntercom(const std::string& text);
  void Restore(bool keep_network);
  void SetFactoryMode(int mode) { factory_mode_.store(mode); }

  // Reboot: the device goes silent for its reboot time and drops every link.
  void Reboot();
  // Off the network until set online again: no discovery answer, connections
  // refused, every link dropped.
  void SetOffline(bool offline);

  // Per command code: how the device answers (config_store.h).
  CodeFault code_fault(uint32_t code) const;
  std::string SetCodeFault(uint32_t code, const std::string& args);
  bool Offline() const { return offline_.load(); }
  bool Up() const;
  // Changes whenever links must drop (reboot, address change, control "drop").
  uint64_t generation() const { return generation_.load(); }
  void DropLinks() {
    generation_.fetch_add(1);
    WakeLinks();
  }
  // A served link waits for its socket or its wake-up eventfd, which the
  // device signals on every change a link must act on (an event to send, a
  // fault, a drop), so thousands of idle links do not poll.
  void AddLinkWake(int fd);
  void RemoveLinkWake(int fd);
  void WakeLinks();
  // When the next delayed event falls due; time_point::max() when none.
  Clock::time_point NextEventDue() const;

  Faults faults() const;
  bool SetFault(const std::string& name, const std::string& value);

  // Journals a message of a logged-in link (or a file it delivered). The
  // journal keeps the newest, up to 4096 messages and 8 MiB.
  void Record(const char* channel, std::string bytes);
  // Journals what a peer sent that has not logged in: the login's messages
  // and anything else before the login, the log port's input, discovery
  // datagrams. Anyone on the LAN can send these, so what they can make the
  // device keep is small: each connection (or datagram) its first
  // kUnauthenticatedJournalPerPeer bytes, counted in `kept`, and the device
  // at most kUnauthenticatedJournalBytes of them in all (the oldest go
  // first), whatever the rest of the journal holds.
  void RecordUnauthenticated(const char* channel, std::string_view bytes, size_t& kept);
  std::vector<JournalEntry> Journal(bool clear);

  // Device log: lines pushed by the control interface, numbered from 1.
  void PushLog(const std::string& line);
  std::vector<std::pair<uint64_t, std::string>> LogSince(uint64_t after) const;
  uint64_t log_close_generation() const { return log_close_.load(); }
  void CloseLogs() { log_close_.fetch_add(1); }
  LogStream& log_stream() { return log_stream_; }

  // Status events for the SDK links (alarms on demand), numbered from 1.
  void PushEvent(uint32_t code, std::string data);
  // A focus report while manual focusing runs (between 1157 START and STOP).
  void PushFocusReport();
  std::vector<std::tuple<uint64_t, uint32_t, std::string>> EventsSince(uint64_t after) const;
  uint64_t last_event() const;
  // A flood of one status event (control "flood"): `count` of them in all,
  // sent by the device's links as fast as they are read, between answers.
  void SetFlood(uint32_t code, std::string data, uint64_t count);
  // Up to `max` events of the flood for one link (0: none left).
  uint64_t TakeFlood(uint64_t max, uint32_t& code, std::string& data);

  // The talk sessions the SDK opened and the audio they carried.
  TalkSink& talk() { return talk_; }

  // Key frames asked for by the SDK (the stream server serves them).
  int key_frame_requests() const { return key_frame_requests_.load(); }

  // Counters and state shown by the control "state" command.
  std::string StateText() const;
  void CountUpgrade(const std::string& sha_hex, uint64_t size);
  void CountRefusedImage(const std::string& reason);
  // A good image was written: the device comes back with its version text.
  void ApplyFirmwareVersion(const std::string& version);
  void CountLogin(bool ok);

 private:
  void ResetBlocks();
  // Adds to the journal and drops what is over its bounds; mutex_ held.
  void Journalize(JournalEntry entry);
  void ForgetJournalEntry(std::deque<JournalEntry>::iterator it);
  std::string LanBlock() const;

  const int index_;
  std::atomic<int> key_frame_requests_{0};
  mutable std::mutex mutex_;
  std::string focus_report_;  // the detail of focus reports; empty when not focusing
  DeviceConfig config_;
  DeviceConfig initial_;
  std::map<uint32_t, std::string> blocks_;
  std::string lan_extra_ = kDefaultLanExtra;  // LAN attributes beyond the network settings
  std::map<uint32_t, CodeFault> code_faults_;
  std::map<std::string, std::string> files_;  // device path -> content
  OemFileStores oem_files_;
  std::string uploaded_config_;
  std::string intercom_;
  Faults faults_;
  std::deque<JournalEntry> journal_;
  size_t journal_bytes_ = 0;
  size_t unauthenticated_bytes_ = 0;    // of journal_bytes_
  size_t unauthenticated_entries_ = 0;
  std::deque<std::pair<uint64_t, std::string>> log_lines_;
  uint64_t log_next_ = 1;
  std::deque<std::tuple<uint64_t, uint32_t, std::string>> events_;
  std::deque<std::tuple<Clock::time_point, uint32_t, std::string>> delayed_events_;
  MadeFileSettings made_files_;
  int made_count_ = 0;
  uint64_t event_next_ = 1;
  uint32_t flood_code_ = 0;
  std::string flood_data_;
  uint64_t flood_left_ = 0;
  uint64_t flooded_ = 0;  // flood events handed to links
  Clock::time_point down_until_{};
  int reboots_ = 0;
  int restores_ = 0;
  int upgrades_ = 0;
  int logins_ok_ = 0;
  int logins_refused_ = 0;
  std::string last_firmware_;
  int refused_images_ = 0;
  std::string last_refusal_;
  int allnet_ = 0;
  std::atomic<int> factory_mode_{0};
  std::atomic<uint64_t> generation_{0};
  std::mutex wake_mutex_;  // never held while taking mutex_
  std::vector<int> link_wakes_;
  std::atomic<bool> offline_{false};
  std::atomic<uint64_t> log_close_{0};
  LogStream log_stream_;
  TalkSink talk_;
};

}  // namespace kelvara::devsim
