#include "app/ui/zq_dev_search_tool_app.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <QDir>
#include <QGuiApplication>
#include <QScreen>

#include "app/core/local_network.h"
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
  for (const auto& [address, adapter] : GetAdapterAddressMap()) {
    char dotted[INET_ADDRSTRLEN] = {};
    in_addr in{};
    in.s_addr = address;
    inet_ntop(AF_INET, &in, dotted, sizeof dotted);
    cards.push_back({address, dotted, adapter.description});
  }
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
