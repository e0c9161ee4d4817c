#include "app/ui/zq_dev_search_tool_app.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <QDir>
#include <QGuiApplication>
#include <QScreen>

#include "app/core/paths.h"
#include "app/ui/zq_dev_search_tool_dlg.h"

namespace kelvara::ui {

CZqDevSearchToolApp::CZqDevSearchToolApp() {
  program_dir_ = QString::fromStdString(paths::ProgramDir().string());
  data_dir_ = QString::fromStdString((paths::DataDir() / "Data").string());
  QDir().mkpath(data_dir_);
}

std::vector<NetCard> LocalNetCards() {
  std::vector<NetCard> cards;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return cards;
  for (ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
    if ((a->ifa_flags & IFF_LOOPBACK) != 0) continue;
    const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
    char dotted[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &in->sin_addr, dotted, sizeof dotted);
    cards.push_back({in->sin_addr.s_addr, dotted, a->ifa_name != nullptr ? a->ifa_name : ""});
  }
  freeifaddrs(list);
  return cards;
}

int CZqDevSearchToolApp::InitInstance(shell::ShellSdk& sdk) {
  sdk.PlayerInit();
  {
    MainDialogServices services;
    services.sdk = &sdk;
    services.program_dir = program_dir_;
    services.net_cards = LocalNetCards;
    CZqDevSearchToolDlg dlg(services);
    // The window opens over the whole work area; the maximise timer then asks
    // the window manager to maximise it (without one it stays this size).
    if (QScreen* screen = QGuiApplication::primaryScreen()) dlg.setGeometry(screen->availableGeometry());
    dlg.OnInitDialog();
    dlg.show();
    dlg.exec();
  }
  sdk.PlayerReleaseAll();
  return 0;
}

}  // namespace kelvara::ui
