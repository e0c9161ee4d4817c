#pragma once
// A simulated device on loopback for the remote configuration window, the
// blocks of a hostile one, and the window's pages as the tests and the
// benchmark open them.
#include <QLineEdit>
#include <QString>
#include <QTabWidget>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "config_pages.h"
#include "dialogs/tests/ui_pass_probe.h"
#include "simulator.h"

namespace kelvara::test {

inline std::unique_ptr<devsim::Simulator> StartDevice() {
  devsim::SimConfig c;
  c.discovery_port = 0;  // loopback only
  devsim::DeviceConfig dev;
  dev.ip = "127.0.0.1";
  dev.command_port = 0;
  dev.log_port = 0;
  dev.password = "pw1";
  dev.rtsp = 0;
  devsim::CompleteDevice(dev, 0);
  c.devices.push_back(dev);
  auto sim = std::make_unique<devsim::Simulator>(c);
  return sim->Start().empty() ? std::move(sim) : nullptr;
}

// The rows a page shows (the rows of a block read before may still wait to
// be deleted), and their fields.
inline QWidget* Rows(QWidget* page) { return page->findChild<QWidget*>("RemoteConfigRows"); }
inline qsizetype RowCount(QWidget* page) {
  QWidget* rows = Rows(page);
  return rows != nullptr ? rows->findChildren<QLineEdit*>().size() : 0;
}

// Shows the page of block `code` and waits until its `fields` rows are
// built and on screen.
inline QWidget* OpenPage(QTabWidget* tabs, std::uint32_t code, std::size_t fields) {
  auto* page = tabs->findChild<QWidget*>(QStringLiteral("RemoteConfigPage:%1").arg(code));
  if (page == nullptr) return nullptr;
  tabs->setCurrentWidget(page);
  const bool built = RunLoopUntil(
      [&] {
        if (RowCount(page) != static_cast<qsizetype>(fields)) return false;
        return fields == 0 || Rows(page)->findChildren<QLineEdit*>().back()->isVisible();
      },
      20000);
  return built ? page : nullptr;
}

// The number of fields of a block the device holds.
inline std::size_t DeviceFields(devsim::Simulator& sim, std::uint32_t code) {
  return remote_config::BlockFields(sim.device(0).GetConfig(code).text)->size();
}

// A block at a page's field cap: 8 elements of 1,024 attributes (720 KB),
// their names long enough to make labels of 400 bytes.
inline std::string BlockAtTheFieldCap() {
  std::string block = "<Config>";
  for (int e = 0; e < 8; ++e) {
    block += "<E" + std::to_string(e) + std::string(386, 'n');
    for (int a = 0; a < 1024; ++a) {
      char name[8];
      std::snprintf(name, sizeof name, "a%04d", a);
      block += std::string(" ") + name + "=\"" + std::string(78, 'v') + "\"";
    }
    block += "/>";
  }
  return block + "</Config>";
}

}  // namespace kelvara::test
