// Every shown and enabled button of the configuration dialogs does something
// when clicked offscreen: each click, on a fresh dialog, must change what the
// user sees or what the caller gets (a control's state, the dialog closing, a
// message, a request sent, a result field).
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <functional>
#include <memory>
#include <sstream>

#include "dialogs/tests/page_layout_check.h"
#include "dialogs/ui/dialog_manual_focus.h"
#include "dialogs/ui/dialog_pages.h"
#include "dialogs/ui/dialog_small_settings.h"
#include "dialogs/ui/dialog_time_set.h"
#include "dialogs/ui/dialog_title_setting.h"
#include "dialogs/ui/dialog_tour_date.h"

namespace kelvara::dialogs {
namespace {

class CountingPrompts : public ui::UserPrompts {
 public:
  int MessageBox(QWidget*, const QString&, const QString&, ui::PromptIcon, ui::PromptButtons) override {
    ++shown;
    return ui::kAnswerOk;
  }
  // A file chooser counts as shown (the user then cancels it).
  QString OpenFileName(QWidget*, const QString&, const QString&, const QString&) override {
    ++shown;
    return {};
  }
  QString SaveFileName(QWidget*, const QString&, const QString&, const QString&) override {
    ++shown;
    return {};
  }
  QString FolderName(QWidget*, const QString&, const QString&) override {
    ++shown;
    return {};
  }
  int shown = 0;
};

// What a user sees of the dialog (the running PC clock left out).
std::string Seen(ConfigDialog& d) {
  std::ostringstream out;
  out << d.isVisible() << d.result() << ';';
  for (const auto& [id, w] : d.Controls()) {
    out << id << ':' << w->isVisibleTo(&d) << w->isEnabled();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) out << b->isChecked() << b->text().toStdString();
    if (auto* e = qobject_cast<QLineEdit*>(w)) out << e->text().toStdString();
    if (auto* c = qobject_cast<QComboBox*>(w)) out << c->currentIndex() << '/' << c->count();
    if (auto* l = qobject_cast<QLabel*>(w)) out << l->text().toStdString();
    if (auto* s = qobject_cast<QSlider*>(w)) out << s->value();
    out << ';';
  }
  return out.str();
}

struct Case {
  const char* name;
  // A fresh dialog, and what its caller gets from it.
  std::function<std::unique_ptr<ConfigDialog>(std::string* sent)> make;
  std::function<std::string(ConfigDialog&)> result;
  // Input a user would have typed first (none when empty).
  std::function<void(ConfigDialog&)> prepare = nullptr;
};

template <class D>
std::string Flag(ConfigDialog& d) {
  auto& x = static_cast<D&>(d);
  if constexpr (requires { x.xml; }) return std::to_string(x.cancelled) + x.xml;
  else return std::to_string(x.cancelled);
}

TEST(ButtonSweep, EveryButtonDoesSomething) {
  const std::filesystem::path focusDir = std::filesystem::path(std::getenv("KELVARA_HOME")) / "sweep-focus";
  const Case cases[] = {
      {"title", [](std::string*) { return std::make_unique<CDialogTitleSetting>(OverlayConfig{}); },
       [](ConfigDialog& d) { return std::to_string(static_cast<CDialogTitleSetting&>(d).cancelled); }},
      {"focus",
       [&](std::string* sent) {
         FocusHost host{[](bool) { return 7; },
                        [sent](int, int code, const std::string& text) {
                          *sent += std::to_string(code) + text;
                          return 0;
                        },
                        [sent](bool on) { *sent += on ? "grid on" : "grid off"; }};
         auto d = std::make_unique<CManualFocusDlg>(host, focusDir);
         d->askName = [](const QString&, const QString&) -> std::optional<QString> { return QString("sweep"); };
         return d;
       },
       [&](ConfigDialog& d) {
         auto& f = static_cast<CManualFocusDlg&>(d);
         std::ifstream file(focusDir / "mfocus_default.txt");
         return f.ResultText().toStdString() + std::to_string(f.Base()[0].first) +
                std::string(std::istreambuf_iterator<char>(file), {});
       },
       // A typed reference value and a common threshold, so loading, saving
       // and setting all have something to show.
       [](ConfigDialog& d) {
         d.SetItemText(2082, "1234");
         d.SetItemText(1011, "77");
       }},
      {"audio capture", [](std::string*) { return std::make_unique<CMediaACapture>(); }, Flag<CMediaACapture>},
      {"audio encode", [](std::string*) { return std::make_unique<CMediaAEncode>(); }, Flag<CMediaAEncode>},
      {"image", [](std::string*) { return std::make_unique<CImageParamDialog>(); }, Flag<CImageParamDialog>},
      {"motion", [](std::string*) { return std::make_unique<CMdAlarmDialog>(); }, Flag<CMdAlarmDialog>},
      {"detection", [](std::string*) { return std::make_unique<CBatchSetPDDlg>(); },
       [](ConfigDialog& d) { return std::to_string(d.result()); }},
      {"platform", [](std::string*) { return std::make_unique<CDlgIpvsSetting>(); }, Flag<CDlgIpvsSetting>},
      {"preset tour", [](std::string*) { return std::make_unique<DialogAfStudyCfg>(0, AfStudySettings{}); },
       [](ConfigDialog& d) { return std::to_string(d.result()); }},
      {"date", [](std::string*) { return std::make_unique<CDialogDateSel>(); },
       [](ConfigDialog& d) { return std::to_string(static_cast<CDialogDateSel&>(d).values.cancelled); }},
      {"input", [](std::string*) { return std::make_unique<CDialogInputValue>(); },
       [](ConfigDialog& d) { return std::to_string(d.result()); }},
      {"alarm clock", [](std::string*) { return std::make_unique<CSYSClock>(); }, Flag<CSYSClock>},
      {"maintenance", [](std::string*) { return std::make_unique<CSYSRMDlg>(); }, Flag<CSYSRMDlg>},
      {"time",
       [](std::string*) {
         return std::make_unique<CSYSTimeSet>(TimeSettings{"NTP", 1200, "pool.ntp.org", 123, 3600},
                                              std::vector<TimeZoneRule>{}, "en-us",
                                              [](const TimeSettings&) { return true; });
       },
       [](ConfigDialog& d) { return std::to_string(static_cast<CSYSTimeSet&>(d).notSaved); }},
  };
  int clicked = 0;
  for (const Case& c : cases) {
    std::vector<int> buttons;
    {
      std::string ignored;
      auto probe = c.make(&ignored);
      probe->show();
      QApplication::processEvents();
      // Nothing of the dialog is cut or covered as it opens.
      EXPECT_EQ(test::LayoutProblems(*probe, c.name), std::vector<std::string>{}) << c.name;
      for (const auto& [id, w] : probe->Controls())
        if (qobject_cast<QAbstractButton*>(w) && w->isVisibleTo(probe.get()) && w->isEnabled()) buttons.push_back(id);
    }
    EXPECT_FALSE(buttons.empty()) << c.name;
    for (int id : buttons) {
      std::string sent;
      CountingPrompts prompts;
      auto d = c.make(&sent);
      d->SetPrompts(&prompts);
      d->show();
      if (c.prepare) c.prepare(*d);
      const std::string before = Seen(*d) + c.result(*d);
      d->ControlAs<QAbstractButton>(id)->click();
      QApplication::processEvents();
      const std::string after = Seen(*d) + c.result(*d);
      EXPECT_TRUE(before != after || prompts.shown > 0 || !sent.empty()) << c.name << ": button " << id;
      ++clicked;
    }
  }
  EXPECT_GT(clicked, 40);
}

}  // namespace
}  // namespace kelvara::dialogs
