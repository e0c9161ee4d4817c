#include "recovery_mode.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

#include "firmware/core/firmware_image.h"

namespace kelvara::devsim {
namespace {

using Clock = std::chrono::steady_clock;

class Socket {
 public:
  explicit Socket(const std::string& local_ip) {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sockaddr_in self{};
    self.sin_family = AF_INET;
    inet_pton(AF_INET, local_ip.c_str(), &self.sin_addr);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~Socket() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  void SendTo(const std::string& bytes, std::uint32_t address, std::uint16_t port) const {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = address;
    sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  // One datagram within `ms`; false on silence.
  bool Receive(std::string& bytes, sockaddr_in& from, int ms) const {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return false;
    char buffer[70000];
    socklen_t length = sizeof from;
    const ssize_t n = recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0) return false;
    bytes.assign(buffer, static_cast<std::size_t>(n));
    return true;
  }

 private:
  int fd_ = -1;
};

std::map<std::string, std::string> Fields(const std::string& text) {
  std::map<std::string, std::string> out;
  std::istringstream in(text);
  std::string piece;
  while (std::getline(in, piece, ';')) {
    const auto eq = piece.find('=');
    if (eq != std::string::npos) out[piece.substr(0, eq)] = piece.substr(eq + 1);
  }
  return out;
}

void Put16(std::string& out, unsigned v) {
  out.push_back(static_cast<char>(v >> 8));
  out.push_back(static_cast<char>(v & 0xFF));
}

unsigned Get16(const std::string& s, std::size_t at) {
  return (static_cast<unsigned char>(s[at]) << 8) | static_cast<unsigned char>(s[at + 1]);
}

// A decimal number in [low, high]; false for anything else.
bool ReadNumber(const std::string& text, long low, long high, long& out) {
  char* end = nullptr;
  errno = 0;
  out = std::strtol(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0' && errno == 0 && out >= low && out <= high;
}

}  // namespace

std::string ParseRecoveryPlan(const std::string& args, RecoveryPlan& plan) {
  std::istringstream in(args);
  std::string word;
  long number = 0;
  while (in >> word) {
    const auto eq = word.find('=');
    const std::string key = word.substr(0, eq), value = eq == std::string::npos ? "" : word.substr(eq + 1);
    if (key == "tftp_port" || key == "server_port") {
      if (!ReadNumber(value, 1, 65535, number)) return "err bad port '" + value + "'";
      (key == "tftp_port" ? plan.tftp_port : plan.server_port) = static_cast<std::uint16_t>(number);
    } else if (key == "fault") {
      if (value.rfind("stall_at=", 0) == 0 || value == "stall_at") return "err use fault=stall_at:K";
      if (value.rfind("stall_at:", 0) == 0) {
        if (!ReadNumber(value.substr(9), 0, 12, number)) return "err bad step '" + value.substr(9) + "'";
        plan.fault = "stall_at";
        plan.stall_at = static_cast<int>(number);
      } else if (value == "none" || value == "flash_fail" || value == "tftp_timeout") {
        plan.fault = value;
      } else {
        return "err unknown fault '" + value + "'";
      }
    } else {
      return "err unknown argument '" + word + "'";
    }
  }
  return "";
}

bool TftpFetch(const std::string& local_ip, const std::string& server, std::uint16_t port, const std::string& file,
               std::string& out, std::string& error, const std::atomic<bool>& stop) {
  Socket s(local_ip);
  if (!s.ok()) {
    error = "no socket";
    return false;
  }
  std::uint32_t server_address = 0;
  inet_pton(AF_INET, server.c_str(), &server_address);
  std::string request;
  Put16(request, 1);
  request += file + '\0' + "octet" + '\0' + "blksize" + '\0' + "1468" + '\0';
  constexpr std::size_t kBlock = 1468;
  std::size_t block_size = 512;
  out.clear();
  std::string last = request;  // what is retransmitted on silence
  std::uint32_t last_to_port = port;
  std::uint16_t tid = 0;
  unsigned expected = 1;
  for (int silent = 0; silent < 5 && !stop.load();) {
    s.SendTo(last, server_address, static_cast<std::uint16_t>(last_to_port));
    std::string packet;
    sockaddr_in from{};
    const auto deadline = Clock::now() + std::chrono::seconds(1);
    bool progressed = false;
    while (Clock::now() < deadline && !stop.load()) {
      if (!s.Receive(packet, from, 100) || packet.size() < 4) continue;
      if (from.sin_addr.s_addr != server_address || (tid != 0 && ntohs(from.sin_port) != tid)) continue;
      const unsigned op = Get16(packet, 0);
      if (op == 5) {
        error = "TFTP error " + std::to_string(Get16(packet, 2)) + ": " + packet.substr(4, packet.find('\0', 4) - 4);
        return false;
      }
      tid = ntohs(from.sin_port);
      last_to_port = tid;
      if (op == 6 && expected == 1 && out.empty()) {  // OACK: blksize accepted
        block_size = packet.find(std::string("blksize\0", 8) + "1468") != std::string::npos ? kBlock : 512;
        last.clear();
        Put16(last, 4);
        Put16(last, 0);
        progressed = true;
        break;
      }
      if (op != 3) continue;
      const unsigned block = Get16(packet, 2);
      if (block != (expected & 0xFFFF)) continue;  // a duplicate: the ACK already went
      out.append(packet, 4, std::string::npos);
      last.clear();
      Put16(last, 4);
      Put16(last, block);
      ++expected;
      if (packet.size() - 4 < block_size) {
        s.SendTo(last, server_address, tid);
        return true;
      }
      progressed = true;
      break;
    }
    silent = progressed ? 0 : silent + 1;
  }
  error = "TFTP time-out";
  return false;
}

RecoveryRuns::~RecoveryRuns() { StopAll(); }

void RecoveryRuns::StopAll() {
  stop_.store(true);
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    threads.swap(threads_);
  }
  for (auto& t : threads) t.join();
}

void RecoveryRuns::SetState(int index, std::string state) {
  std::lock_guard lock(mutex_);
  for (auto& [i, s] : states_)
    if (i == index) {
      s = std::move(state);
      return;
    }
  states_.emplace_back(index, std::move(state));
}

std::string RecoveryRuns::State(int index) const {
  std::lock_guard lock(mutex_);
  for (const auto& [i, s] : states_)
    if (i == index) return s;
  return "idle";
}

void RecoveryRuns::Start(Device& device, RecoveryPlan plan) {
  SetState(device.index(), "recovering");
  std::lock_guard lock(mutex_);
  threads_.emplace_back([this, &device, plan] { Run(device, plan); });
}

void RecoveryRuns::Run(Device& device, RecoveryPlan plan) {
  const DeviceConfig config = device.config();
  device.SetOffline(true);  // broken firmware: no search answers
  Socket s(device.ip());
  if (!s.ok()) {
    SetState(device.index(), "failed no socket on " + device.ip());
    return;
  }
  const std::string request = "CMD_CODE=1;DEV_TYPE=" + config.device_type + ";UUID=" + config.uuid;
  std::map<std::string, std::string> reply;
  for (int attempt = 0; attempt < plan.request_tries && reply.empty() && !stop_.load(); ++attempt) {
    s.SendTo(request, htonl(INADDR_BROADCAST), plan.server_port);
    const auto deadline = Clock::now() + std::chrono::seconds(1);
    std::string packet;
    sockaddr_in from{};
    while (Clock::now() < deadline && !stop_.load()) {
      if (!s.Receive(packet, from, 100)) continue;
      auto fields = Fields(packet);
      if (fields["CMD_CODE"] == "2" && fields["UUID"] == config.uuid) {
        reply = std::move(fields);
        break;
      }
    }
  }
  if (reply.empty()) {
    SetState(device.index(), "failed no reply");
    return;
  }
  if (reply["RESULT"] != "0") {
    SetState(device.index(), "failed refused");
    device.SetOffline(false);  // a device refused as already recovered boots on
    return;
  }
  std::uint32_t server = 0;
  inet_pton(AF_INET, reply["TFTP_SERVER"].c_str(), &server);
  const std::string dev_ip = reply["DEV_IP"];
  // Steps go to the server as a broadcast on its port, as the loader does.
  auto step = [&](int k) -> bool {
    if (plan.fault == "stall_at" && k > plan.stall_at) return false;
    s.SendTo("CMD_CODE=3;DEV_TYPE=" + config.device_type + ";UUID=" + config.uuid + ";STEP=" + std::to_string(k),
             htonl(INADDR_BROADCAST), plan.server_port);
    return true;
  };
  if (!step(0) || !step(1)) return SetState(device.index(), "failed stalled");
  std::string image, error;
  const bool fetched = TftpFetch(device.ip(), reply["TFTP_SERVER"],
                                 plan.fault == "tftp_timeout" ? static_cast<std::uint16_t>(plan.tftp_port + 1)
                                                              : plan.tftp_port,
                                 reply["FIRMWARE_FILE"], image, error, stop_);
  if (!fetched) return SetState(device.index(), "failed " + error);
  if (!step(2) || !step(3)) return SetState(device.index(), "failed stalled");
  // The header and every present part's CRC, as the loader checks them.
  using namespace kelvara::firmware;
  bool good = image.size() >= kFirmwareHeaderSize;
  FirmwareImageHeader header;
  if (good)
    good = ParseFirmwareHeader(reinterpret_cast<const std::uint8_t*>(image.data()), image.size(), header) ==
           HeaderError::kNone;
  for (int i = 0; good && i < kFirmwarePartCount; ++i) {
    if (!header.Has(i)) continue;
    const FirmwarePart& part = header.Part(i);
    good = FirmwareCrc32(image.data() + part.offset, part.size) == part.crc;
  }
  if (!good) {
    step(11);
    return SetState(device.index(), "failed bad image");
  }
  for (int k = 4; k <= 9; ++k) {
    if (k == 5 && plan.fault == "flash_fail") {
      step(12);
      return SetState(device.index(), "failed flash write");
    }
    if (!step(k)) return SetState(device.index(), "failed stalled");
  }
  if (!step(10)) return SetState(device.index(), "failed stalled");
  device.ApplyFirmwareVersion(header.RootfsName());
  device.SetOffline(false);
  SetState(device.index(), "recovered " + header.RootfsName() + " ip=" + dev_ip);
}

std::string RecoverControl(RecoveryRuns& runs, Device& device, const std::string& args) {
  RecoveryPlan plan;
  const std::string error = ParseRecoveryPlan(args, plan);
  if (!error.empty()) return error;
  if (runs.State(device.index()) == "recovering") return "err already recovering";
  runs.Start(device, plan);
  return "ok";
}

}  // namespace kelvara::devsim
