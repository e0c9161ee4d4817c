#include "kelvara_test/test_lan.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <set>

#include "tools/devsim/lan_numbering.h"

namespace kelvara::test {
namespace {

constexpr char kNetnsDir[] = "/run/netns/";

std::mutex g_live_mutex;
std::set<std::string> g_live;  // namespaces of TestLan objects alive in this process
std::atomic<unsigned> g_counter{0};

std::string FindIp() {
  for (const char* p : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
    if (access(p, X_OK) == 0) return p;
  }
  return {};
}

bool EnterNetns(const std::string& name) {
  const std::string path = kNetnsDir + name;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = setns(fd, CLONE_NEWNET) == 0;
  close(fd);
  return ok;
}

bool SameFile(const char* a, const char* b) {
  struct stat sa {}, sb {};
  return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Waits for a child up to the deadline; kills it when it is late. The raw
// wait status, or -1 when it had to be killed.
int WaitChild(pid_t pid, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  while (true) {
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return status;
    if (r < 0 && errno != EINTR) return -1;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    usleep(2000);
  }
}

// Forks a child that enters `ns` (when not empty) and runs `body`; output of
// the child goes to *output when given.
int ForkRun(const std::string& ns, const std::function<int()>& body, std::chrono::milliseconds timeout,
            std::string* output) {
  int pipe_fds[2] = {-1, -1};
  if (output != nullptr && pipe2(pipe_fds, O_CLOEXEC) != 0) return -1;
  const pid_t pid = fork();
  if (pid < 0) {
    if (output != nullptr) {
      close(pipe_fds[0]);
      close(pipe_fds[1]);
    }
    return -1;
  }
  if (pid == 0) {
    if (output != nullptr) {
      dup2(pipe_fds[1], STDOUT_FILENO);
      dup2(pipe_fds[1], STDERR_FILENO);
    }
    if (!ns.empty() && !EnterNetns(ns)) _exit(125);
    _exit(body() & 0xFF);
  }
  if (output != nullptr) {
    close(pipe_fds[1]);
    // Read until the child closes its end or the deadline passes.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    char buf[4096];
    while (true) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{pipe_fds[0], POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      const ssize_t n = read(pipe_fds[0], buf, sizeof(buf));
      if (n <= 0) break;
      output->append(buf, static_cast<size_t>(n));
    }
    close(pipe_fds[0]);
  }
  const int status = WaitChild(pid, timeout);
  if (status < 0 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

[[noreturn]] void Exec(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
  execvp(args[0], args.data());
  _exit(127);
}

// Runs "ip ARGS..." in the machine's namespace.
int RunIp(const std::vector<std::string>& args, std::string* output = nullptr) {
  static const std::string ip = FindIp();
  std::vector<std::string> argv{ip};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string sink;
  return ForkRun({}, [&]() -> int { Exec(argv, {}); }, std::chrono::seconds(20), output ? output : &sink);
}

// Removes test LANs whose creating process is gone (a test killed mid-run).
void RemoveOrphans() {
  DIR* dir = opendir(kNetnsDir);
  if (dir == nullptr) return;
  std::vector<std::string> orphans;
  while (dirent* e = readdir(dir)) {
    int pid = 0;
    if (std::sscanf(e->d_name, "kvt-%d-", &pid) == 1 && pid > 0 && kill(pid, 0) != 0 && errno == ESRCH) {
      orphans.emplace_back(e->d_name);
    }
  }
  closedir(dir);
  for (const auto& ns : orphans) RunIp({"netns", "del", ns});
}

}  // namespace

std::string TestLan::LanAddress(int n) {
  // devsim numbers its devices by the same rule (tools/devsim/lan_numbering.h).
  const auto a = devsim::NthLanAddress(10u << 24 | 77u << 16 | 1u << 8 | 1u, static_cast<uint32_t>(n));
  if (!a) return {};
  return std::to_string(*a >> 24) + "." + std::to_string(*a >> 16 & 0xFF) + "." +
         std::to_string(*a >> 8 & 0xFF) + "." + std::to_string(*a & 0xFF);
}

std::unique_ptr<TestLan> TestLan::Create(const TestLanOptions& options, std::string* why) {
  std::string reason;
  if (geteuid() != 0) {
    reason = "needs root for ip netns";
  } else if (FindIp().empty()) {
    reason = "ip (iproute2) is not installed";
  } else if (options.lan_addresses < 0 || options.lan_addresses > 60000) {
    reason = "lan_addresses must be 0..60000";
  }
  std::unique_ptr<TestLan> lan;
  if (reason.empty()) {
    RemoveOrphans();
    lan.reset(new TestLan);
    if (!lan->SetUp(options, &reason)) lan.reset();
  }
  if (!lan && why != nullptr) *why = reason;
  return lan;
}

bool TestLan::SetUp(const TestLanOptions& options, std::string* why) {
  std::random_device rd;
  const unsigned id = (g_counter++ << 16) ^ (rd() & 0xFFFF);
  const std::string base = "kvt-" + std::to_string(getpid()) + "-" + std::to_string(id);
  char veth[16];
  std::snprintf(veth, sizeof(veth), "kv%05x%06x", static_cast<unsigned>(getpid()) & 0xFFFFF, id & 0xFFFFFF);
  const std::string va = std::string(veth) + "a";
  const std::string vb = std::string(veth) + "b";

  std::string out;
  if (RunIp({"netns", "add", base + "-pc"}, &out) != 0) {
    *why = "ip netns add failed: " + out;
    return false;
  }
  pc_ = base + "-pc";
  {
    std::lock_guard<std::mutex> guard(g_live_mutex);
    g_live.insert(pc_);
  }
  if (RunIp({"netns", "add", base + "-lan"}, &out) != 0) {
    *why = "ip netns add failed: " + out;
    TearDown();
    return false;
  }
  lan_ = base + "-lan";
  {
    std::lock_guard<std::mutex> guard(g_live_mutex);
    g_live.insert(lan_);
  }
  const std::string prefix = "/" + std::to_string(kPrefixLength);
  const std::vector<std::vector<std::string>> steps = {
      {"link", "add", va, "type", "veth", "peer", "name", vb},
      {"link", "set", va, "netns", pc_},
      {"link", "set", vb, "netns", lan_},
      {"-n", pc_, "link", "set", va, "name", kPcInterface},
      {"-n", lan_, "link", "set", vb, "name", kLanInterface},
      {"-n", pc_, "link", "set", "lo", "up"},
      {"-n", lan_, "link", "set", "lo", "up"},
      {"-n", pc_, "addr", "add", std::string(kPcAddress) + prefix, "dev", kPcInterface},
      {"-n", lan_, "addr", "add", std::string(kLanAddress) + prefix, "dev", kLanInterface},
      {"-n", pc_, "link", "set", kPcInterface, "up"},
      {"-n", lan_, "link", "set", kLanInterface, "up"},
  };
  for (const auto& step : steps) {
    out.clear();
    if (RunIp(step, &out) != 0) {
      *why = "ip " + step[0] + " ... failed: " + out;
      TearDown();
      return false;
    }
  }
  if (options.lan_addresses > 0) {
    char path[] = "/tmp/kvt-batch-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
      *why = "cannot write the address batch";
      TearDown();
      return false;
    }
    std::string batch;
    for (int i = 0; i < options.lan_addresses; ++i) {
      batch += "addr add " + LanAddress(i) + prefix + " dev " + kLanInterface + "\n";
    }
    const bool written = write(fd, batch.data(), batch.size()) == static_cast<ssize_t>(batch.size());
    close(fd);
    out.clear();
    const int rc = written ? RunIp({"-n", lan_, "-batch", path}, &out) : -1;
    unlink(path);
    if (rc != 0) {
      *why = "adding LAN addresses failed: " + out;
      TearDown();
      return false;
    }
  }
  if (options.default_route && !AddDefaultRoute()) {
    *why = "adding the default route failed";
    TearDown();
    return false;
  }
  return true;
}

TestLan::~TestLan() { TearDown(); }

void TestLan::TearDown() {
  while (!spawned_.empty()) Stop(spawned_.back());
  for (std::string* ns : {&lan_, &pc_}) {
    if (ns->empty()) continue;
    // Anything else still running inside would keep the namespace alive.
    std::string pids;
    RunIp({"netns", "pids", *ns}, &pids);
    for (const char* p = pids.c_str(); *p != '\0';) {
      char* end = nullptr;
      const long pid = std::strtol(p, &end, 10);
      if (end == p) break;
      if (pid > 0 && pid != getpid()) kill(static_cast<pid_t>(pid), SIGKILL);
      p = end;
    }
    RunIp({"netns", "del", *ns});
    std::lock_guard<std::mutex> guard(g_live_mutex);
    g_live.erase(*ns);
    ns->clear();
  }
}

int TestLan::Run(LanSide side, const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                 std::string* output) {
  if (argv.empty()) return -1;
  const int rc = ForkRun(Namespace(side), [&]() -> int { Exec(argv, {"KELVARA_TEST_NETNS=" + Namespace(side)}); },
                         timeout, output);
  return rc;
}

pid_t TestLan::Spawn(LanSide side, const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  if (argv.empty()) return -1;
  std::vector<std::string> all_env = env;
  all_env.push_back("KELVARA_TEST_NETNS=" + Namespace(side));
  const std::string ns = Namespace(side);
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (!EnterNetns(ns)) _exit(125);
    Exec(argv, all_env);
  }
  spawned_.push_back(pid);
  return pid;
}

int TestLan::Stop(pid_t pid) {
  std::erase(spawned_, pid);
  if (pid <= 0) return -1;
  kill(pid, SIGTERM);
  int status = WaitChild(pid, std::chrono::seconds(2));
  return status;
}

int TestLan::CallInChild(LanSide side, const std::function<int()>& fn, std::chrono::milliseconds timeout) {
  return ForkRun(Namespace(side), fn, timeout, nullptr);
}

bool TestLan::EnterOnThisThread(LanSide side) const { return EnterNetns(Namespace(side)); }

bool TestLan::AddDefaultRoute(const std::string& via) {
  return RunIp({"-n", pc_, "route", "replace", "default", "via", via}) == 0;
}

bool TestLan::DeleteDefaultRoute() { return RunIp({"-n", pc_, "route", "del", "default"}) == 0; }

bool TestLan::SetSysctl(LanSide side, const std::string& key, const std::string& value) {
  // Network sysctls belong to the namespace of the process that opens them.
  std::string path = "/proc/sys/" + key;
  for (char& c : path) {
    if (c == '.') c = '/';
  }
  return CallInChild(side, [&] {
    const int fd = open(path.c_str(), O_WRONLY);
    if (fd < 0) return 1;
    const bool ok = write(fd, value.data(), value.size()) == static_cast<ssize_t>(value.size());
    close(fd);
    return ok ? 0 : 1;
  }) == 0;
}

bool InTestLanNamespace() {
  constexpr char kSelf[] = "/proc/thread-self/ns/net";
  // Never the machine's own namespace, whatever the names say.
  if (SameFile(kSelf, "/proc/1/ns/net")) return false;
  std::vector<std::string> names;
  {
    std::lock_guard<std::mutex> guard(g_live_mutex);
    names.assign(g_live.begin(), g_live.end());
  }
  if (const char* env = std::getenv("KELVARA_TEST_NETNS"); env != nullptr && std::strncmp(env, "kvt-", 4) == 0) {
    names.emplace_back(env);
  }
  for (const auto& name : names) {
    if (SameFile(kSelf, (kNetnsDir + name).c_str())) return true;
  }
  return false;
}

}  // namespace kelvara::test
