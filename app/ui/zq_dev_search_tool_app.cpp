#include "app/ui/zq_dev_search_tool_app.h"

#include <QDir>
#include <QGuiApplication>
#include <QScreen>

#include "app/core/paths.h"
#include "printing/qt/label_printer.h"
#include "app/ui/net_cards.h"
#include "app/ui/zq_dev_search_tool_dlg.h"

namespace kelvara::ui {

// Sends the window's label prints to the application's label printer.
class AppPrinting final : public PrintingSeam {
 public:
  explicit AppPrinting(printing::CLabelPrinter& printer) : printer_(printer) {}
  int PrintQrLabel(const QString& qr_text, const QString& second_text) override {
    return printer_.PrintQrLabel(qr_text, second_text);
  }

 private:
  printing::CLabelPrinter& printer_;
};

CZqDevSearchToolApp::CZqDevSearchToolApp() {
  program_dir_ = QString::fromStdString(paths::ProgramDir().string());
  data_dir_ = QString::fromStdString((paths::DataDir() / "Data").string());
  QDir().mkpath(data_dir_);
  // The tips layout first: the label printer reads it.
  tips_ = std::make_unique<printing::CTipsConfig>();
  label_printer_ = std::make_unique<printing::CLabelPrinter>(*tips_);
}

CZqDevSearchToolApp::~CZqDevSearchToolApp() = default;

int CZqDevSearchToolApp::InitInstance(shell::ShellSdk& sdk) {
  sdk.PlayerInit();
  {
    MainDialogServices services;
    services.sdk = &sdk;
    services.program_dir = program_dir_;
    services.net_cards = LocalNetCards;
    AppPrinting printing(*label_printer_);
    services.printing = &printing;
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
