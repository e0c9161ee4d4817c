// The pane context menu (144) and the layout menu (143) of the live view.
#include <QCursor>
#include <QMenu>

#include "common/language_table.h"
#include "media/core/pane_mouse.h"
#include "media/ui/live_view.h"
#include "media/ui/wnd_manager.h"

namespace kelvara::media {

namespace {
QString Text(const LiveViewHost& host, const char* key) {
  if (host.text) {
    const std::string t = host.text(key);
    if (!t.empty()) return QString::fromStdString(t);
  }
  return QString::fromUtf8(key);
}

// A check mark says that the state the item names is on; an item that only
// runs a command (Stop recording, snapshots) never gets one.
QAction* Item(QMenu* menu, const QString& text, bool checked, bool enabled) {
  QAction* a = menu->addAction(text);
  if (checked) {
    a->setCheckable(true);
    a->setChecked(true);
  }
  a->setEnabled(enabled);
  return a;
}
}  // namespace

QMenu* LiveView::BuildLayoutMenu(QWidget* parent) {
  auto* menu = new QMenu(parent);
  const int count = grid_ != nullptr ? grid_->PaneCountInGrid() : 0;
  const int checked = GridCommandForPaneCount(count);
  static const char* const kLabels[] = {"STRING_CLOSE", "1", "1X2", "2X2", "3X3", "4X4", "4X5", "5X5"};
  for (size_t i = 0; i < kGridChoices.size(); ++i) {
    const int command = kGridChoices[i].command;
    const QString text = i == 0 ? Text(host_, kLabels[0]) : QString::fromUtf8(kLabels[i]);
    connect(Item(menu, text, command == checked, true), &QAction::triggered, this,
            [this, command] { OnMenuSplit(command); });
  }
  return menu;
}

QMenu* LiveView::BuildPaneMenu(QWidget* parent) {
  if (grid_ == nullptr) return nullptr;
  const int pane = grid_->GetSelectedPane();
  const int sub = GetPaneSubStream(pane);
  if (sub < 0) return nullptr;  // nothing plays in the selected pane
  CSaveParam* s = host_.settings;
  const int play_mode = s ? s->play_mode : 0, scale = s ? s->scale_mode : 0, decode = s ? s->decode_mode : 0;
  auto* menu = new QMenu(parent);

  QMenu* mode = menu->addMenu(Text(host_, LangKey("MENU_PLAY_MODE")));
  connect(Item(mode, Text(host_, LangKey("MENU_PLAY_MODE_REALTIME")), play_mode == 0, true), &QAction::triggered, this,
          [this] { OnSetPlayMode(0); });
  connect(Item(mode, Text(host_, LangKey("MENU_PLAY_MODE_FLUENT")), play_mode == 1, true), &QAction::triggered, this,
          [this] { OnSetPlayMode(1); });
  connect(Item(mode, Text(host_, LangKey("STR_KEEP_SCALE")), scale == 0, true), &QAction::triggered, this,
          [this] { OnSetScaleMode(0); });
  connect(Item(mode, Text(host_, LangKey("STR_WND_SCALE")), scale == 1, true), &QAction::triggered, this,
          [this] { OnSetScaleMode(1); });

  const bool rec = IsPaneRecording(pane) != 0, kf = IsPaneKeyFrameOnly(pane) != 0;
  const bool yuv = IsPaneYuvDumping(pane) != 0, raw = IsPaneStreamDumping(pane) != 0;
  const bool any = rec || yuv || raw;
  QMenu* record = menu->addMenu(Text(host_, LangKey("MENU_PLAY_RECORD")));
  connect(Item(record, Text(host_, LangKey("MENU_PLAY_RECORD_START")), rec && !kf, !any), &QAction::triggered, this,
          [this, pane] { OnRecord(pane, RecordParam(1, 0, 0)); });
  connect(Item(record, Text(host_, LangKey("IDS_STR_TIMELAPSE")), rec && kf, !any), &QAction::triggered, this,
          [this, pane] { OnRecord(pane, RecordParam(1, 1, 0)); });
  connect(Item(record, Text(host_, LangKey("MENU_PLAY_RECORD_STARTYUV")), yuv, !any), &QAction::triggered, this,
          [this, pane] { OnRecordYuv(pane, 1); });
  connect(Item(record, Text(host_, LangKey("RECORD_BARE_STREAM")), raw, !any), &QAction::triggered, this,
          [this, pane] { OnRecordRawStream(pane, 1); });
  // Stop is a command: greyed while nothing records, never checked.
  connect(Item(record, Text(host_, LangKey("MENU_PLAY_RECORD_STOP")), false, any), &QAction::triggered, this, [this, pane] {
    OnRecord(pane, RecordParam(0, 0, 0));
    OnRecordYuv(pane, 0);
    OnRecordRawStream(pane, 0);
  });
  connect(Item(record, Text(host_, LangKey("MENU_PLAY_RECORD_SNAPYUV")), false, true), &QAction::triggered, this,
          [this, pane] { OnRecord(pane, RecordParam(0, 0, 1)); });
  connect(Item(record, Text(host_, LangKey("MENU_PLAY_RECORD_SNAPJPG")), false, true), &QAction::triggered, this,
          [this, pane] { OnRecord(pane, RecordParam(0, 0, 2)); });
  connect(Item(record, Text(host_, LangKey("OPEN_RECORD_PATH")), false, true), &QAction::triggered, this, [this] {
    const std::filesystem::path folder = Documents() / "record";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (host_.open_url) host_.open_url(folder.string());
  });

  QMenu* stream = menu->addMenu(Text(host_, LangKey("MENU_PLAY_STREAM")));
  connect(Item(stream, Text(host_, LangKey("MENU_PLAY_STREAM_MAIN")), sub == 0, true), &QAction::triggered, this,
          [this, pane] { OnSetStream(pane, 1); });
  connect(Item(stream, Text(host_, LangKey("MENU_PLAY_STREAM_SUB")), sub == 1, true), &QAction::triggered, this,
          [this, pane] { OnSetStream(pane, 0); });

  QMenu* channel = menu->addMenu(Text(host_, LangKey("IDS_STR_VIDEO_CHANNEL")));
  static const char* const kDecode[] = {"CPU", "GPU_BUFFER", "GPU_FAST"};
  for (int m = 0; m < 3; ++m)
    connect(Item(channel, QString::fromUtf8(kDecode[m]), decode == m, true), &QAction::triggered, this,
            [this, pane, m] { OnSetDecodeMode(pane, m); });

  QMenu* set_preset = menu->addMenu(Text(host_, LangKey("IDS_STR_ZH_CN_SETPRESET")));
  for (int p = 1; p <= 6; ++p)
    connect(set_preset->addAction(QString::number(p)), &QAction::triggered, this, [this, pane, p] { OnPresetSet(pane, p); });
  QMenu* call_preset = menu->addMenu(Text(host_, LangKey("IDS_STR_ZH_CN_CALLPRESET")));
  for (int p = 1; p <= 6; ++p) {
    QAction* a = call_preset->addAction(QString::number(p));
    if (p <= 5) connect(a, &QAction::triggered, this, [this, pane, p] { OnPresetCall(pane, p); });  // 6 does nothing
  }

  // Display switches 33373 .. 33375 take the AF study, PTZ zoom tour and
  // digital zoom submenus out.
  auto shown = [this](int id) { return !host_.display_switch || host_.display_switch(id) != 0; };
  if (shown(33373)) {
    QMenu* af = menu->addMenu(Text(host_, LangKey("IDS_AF_STUDY")));
    connect(af->addAction(Text(host_, LangKey("IDS_AF_STUDY_CFG"))), &QAction::triggered, this, [this] { OnTourConfig(0); });
    connect(af->addAction(Text(host_, LangKey("IDS_AF_STUDY_EXEC"))), &QAction::triggered, this, [this] { OnAfStudyRun(); });
    connect(af->addAction(QStringLiteral("ZOOM +")), &QAction::triggered, this, [this] { OnPtzCommand(0xFFFF, kPtzZoomIn); });
    connect(af->addAction(QStringLiteral("ZOOM -")), &QAction::triggered, this, [this] { OnPtzCommand(0xFFFF, kPtzZoomOut); });
    connect(af->addAction(QStringLiteral("STOP")), &QAction::triggered, this, [this] { OnPtzCommand(0xFFFF, kPtzStop); });
  }
  if (shown(33374)) {
    QMenu* multiple = menu->addMenu(Text(host_, LangKey("IDS_PTZ_MULTIPLE_SET")));
    connect(multiple->addAction(Text(host_, LangKey("IDS_AF_STUDY_CFG"))), &QAction::triggered, this, [this] { OnTourConfig(1); });
    connect(multiple->addAction(Text(host_, LangKey("IDS_AF_STUDY_EXEC"))), &QAction::triggered, this, [this] { OnPtzMultipleRun(); });
  }
  if (shown(33375)) {
    QMenu* dzoom = menu->addMenu(Text(host_, LangKey("IDS_DZOOM_MULTIPLE_SET")));
    for (int m = 1; m <= 10; ++m)
      connect(dzoom->addAction(QString::number(m)), &QAction::triggered, this, [this, m] { OnDigitalZoom(m * 10); });
    connect(dzoom->addAction(QStringLiteral("1.5")), &QAction::triggered, this, [this] { OnDigitalZoom(15); });
  }
  QMenu* zoom = menu->addMenu(QStringLiteral("ZOOM"));
  connect(zoom->addAction(QStringLiteral("ZOOM +")), &QAction::triggered, this, [this, pane] { OnPtzCommand(pane, kPtzZoomIn); });
  connect(zoom->addAction(QStringLiteral("ZOOM -")), &QAction::triggered, this, [this, pane] { OnPtzCommand(pane, kPtzZoomOut); });
  connect(zoom->addAction(QStringLiteral("STOP")), &QAction::triggered, this, [this, pane] { OnPtzCommand(pane, kPtzStop); });

  connect(Item(menu, QStringLiteral("PTZ 3D"), s != nullptr && s->mouse_3d_locate != 0, true), &QAction::triggered,
          this, [this] { OnToggle3D(); });
  connect(menu->addAction(Text(host_, LangKey("TEXT37"))), &QAction::triggered, this, [this, pane] {
    if (host_.remote_config) host_.remote_config(pane);
  });
  connect(menu->addAction(Text(host_, LangKey("TEXT27"))), &QAction::triggered, this, [this, pane] { StopPanePreview(pane); });
  return menu;
}

void LiveView::OnPaneContextMenu(int) {
  QMenu* menu = BuildPaneMenu(grid_);
  if (menu == nullptr) return;
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(QCursor::pos());
}

}  // namespace kelvara::media
