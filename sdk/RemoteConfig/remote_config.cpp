// The stand-in of the remote-configuration library: a page in the host that
// names the device and shows the login state. The login (a connection to the
// device's login port) runs on a thread of its own; its outcome reaches the
// page through a call queued to the UI thread, and an instance released
// before the outcome arrives simply drops it.
#include "remote_config.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QLabel>
#include <QPointer>
#include <QVBoxLayout>
#include <QWidget>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace {

constexpr int kLoginTimeoutMs = 3000;

// True when a TCP connection to address:port opens within the time-out.
bool Reachable(const std::string& address, int port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) return false;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool ok = false;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
    ok = true;
  } else if (errno == EINPROGRESS) {
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, kLoginTimeoutMs) == 1) {
      int err = 0;
      socklen_t len = sizeof err;
      ok = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
    }
  }
  ::close(fd);
  return ok;
}

struct Instance {
  QPointer<QWidget> page;
  QPointer<QLabel> state;
};

std::mutex g_lock;
std::map<int, Instance> g_instances;
int g_next = 1;

}  // namespace

extern "C" int CFG_UC_Init(const char* address, int port, const char* user, const char* password,
                           const char* language, void* host, unsigned short channel) {
  if (!address || !user || !password || !language || !host || port <= 0 || port > 65535) return -1;
  auto* parent = static_cast<QWidget*>(host);
  auto* page = new QWidget(parent);
  page->setObjectName("RemoteConfigPage");
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(new QLabel(QString("%1:%2  channel %3  (%4)")
                                   .arg(QString::fromLocal8Bit(address))
                                   .arg(port)
                                   .arg(channel)
                                   .arg(QString::fromLocal8Bit(language)),
                               page));
  auto* state = new QLabel("logging in", page);
  state->setObjectName("RemoteConfigState");
  layout->addWidget(state);
  layout->addStretch();
  page->hide();
  int id;
  {
    std::lock_guard<std::mutex> guard(g_lock);
    id = g_next++;
    g_instances[id] = {page, state};
  }
  std::thread([id, a = std::string(address), port] {
    const bool ok = Reachable(a, port);
    // The page lives on the UI thread: the outcome goes there queued and is
    // shown only while the instance still exists.
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return;
    QMetaObject::invokeMethod(app, [id, ok] {
      std::lock_guard<std::mutex> guard(g_lock);
      const auto it = g_instances.find(id);
      if (it != g_instances.end() && it->second.state) it->second.state->setText(ok ? "logged in" : "login failed");
    }, Qt::QueuedConnection);
  }).detach();
  return id;
}

extern "C" int CFG_UC_ShowModelessDlg(int instance, int left, int top, int right, int bottom) {
  std::lock_guard<std::mutex> guard(g_lock);
  const auto it = g_instances.find(instance);
  if (it == g_instances.end() || !it->second.page) return -1;
  QWidget* page = it->second.page;
  if (left == 0 && top == 0 && right == 0 && bottom == 0) {
    page->hide();
  } else {
    page->setGeometry(left, top, right - left, bottom - top);
    page->show();
  }
  return 0;
}

extern "C" int CFG_UC_UnInit(int instance) {
  std::lock_guard<std::mutex> guard(g_lock);
  const auto it = g_instances.find(instance);
  if (it == g_instances.end()) return -1;
  if (it->second.page) delete it->second.page.data();
  g_instances.erase(it);
  return 0;
}
