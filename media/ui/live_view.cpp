#include "media/ui/live_view.h"

#include <QGuiApplication>
#include <QMenu>
#include <QMetaObject>
#include <QScreen>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>

#include "VaRurOvoDiv/zq_netsdk_ipc.h"
#include "common/debug_log.h"
#include "common/folder_functions.h"
#include "media/core/pane_mouse.h"
#include "media/core/record_files.h"
#include "media/ui/wnd_manager.h"
#include "zq_player.h"

namespace kelvara::media {

namespace {
std::uint64_t TickMs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}
bool Has(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

RecordOptions RecordIn(const std::filesystem::path& base) {
  RecordOptions o;
  o.base_folder = base;
  return o;
}
RecordYuvOptions DumpIn(const std::filesystem::path& base) {
  RecordYuvOptions o;
  o.base_folder = base;
  return o;
}

constexpr int kTimerAfStudyStart = 10010;
constexpr int kTimerPtzMultipleStep1 = 10011;
constexpr int kTimerPtzMultipleStep2 = 10012;
constexpr int kTimerZoomOutRunEnd = 10013;
constexpr int kTimerZoomInRunEnd = 10014;
constexpr int kTimerZoomOutStay = 10015;
constexpr int kTimerZoomInStay = 10016;
}  // namespace

CDevInfo::~CDevInfo() = default;

void CDevInfo::SetMediaInfo(const MEDIA_STREAM_INFO* info) {
  if (!m_mediaInfo) m_mediaInfo = std::make_unique<MEDIA_STREAM_INFO>();
  std::memcpy(m_mediaInfo.get(), info, sizeof *info);
}

LiveView::LiveView(LiveViewHost host, QObject* parent) : QObject(parent), host_(std::move(host)) {}

LiveView::~LiveView() { CloseAllPreviews(); }

ui::CWndManager* LiveView::Grid() const { return grid_.data(); }
ui::CDialogVideo* LiveView::VideoHost() const { return video_host_.data(); }

void LiveView::Attach(ui::CWndManager* grid, ui::CDialogVideo* video_host) {
  grid_ = grid;
  video_host_ = video_host;
  if (grid_ == nullptr) return;
  // Queued, as the grid's posted messages.
  connect(grid_, &ui::CWndManager::paneSelected, this, &LiveView::OnPaneSelected, Qt::QueuedConnection);
  connect(grid_, &ui::CWndManager::ptzCommand, this, &LiveView::OnPtzCommand, Qt::QueuedConnection);
  connect(grid_, &ui::CWndManager::ptz3DLocate, this, &LiveView::On3DLocate, Qt::QueuedConnection);
  connect(grid_, &ui::CWndManager::fullScreenChanged, this, &LiveView::OnSetStream, Qt::QueuedConnection);
  connect(grid_, &ui::CWndManager::streamWanted, this, &LiveView::OnSetStream, Qt::QueuedConnection);
  connect(grid_, &ui::CWndManager::contextMenuRequested, this, &LiveView::OnPaneContextMenu, Qt::QueuedConnection);
  if (video_host_ != nullptr) {
    connect(video_host_, &ui::CDialogVideo::closed, this, [this] { OnMenuSplit(32929); }, Qt::QueuedConnection);
    connect(video_host_, &ui::CDialogVideo::placementChanged, this, [this](QRect r) {
      if (host_.settings == nullptr || video_host_->isMaximized() || video_host_->isMinimized()) return;
      host_.settings->video_rect.left = r.left();
      host_.settings->video_rect.top = r.top();
      host_.settings->video_rect.right = r.right();
      host_.settings->video_rect.bottom = r.bottom();
      SaveSettings();
    });
  }
}

std::filesystem::path LiveView::Documents() const {
  return host_.documents.empty() ? GetCommonDocumentsFolder() : host_.documents;
}

void LiveView::SaveSettings() {
  if (host_.settings != nullptr) host_.settings->Save();
}

std::shared_ptr<CDevInfo> LiveView::Find(int pane) {
  std::lock_guard lock(map_mutex_);
  auto it = panes_.find(pane);
  return it == panes_.end() ? nullptr : it->second;
}

CDevInfo* LiveView::Record(int pane) { return Find(pane).get(); }

int LiveView::PlayingCount() {
  std::lock_guard lock(map_mutex_);
  return static_cast<int>(panes_.size());
}

long LiveView::Play(CDevInfo& r, int stream, bool audio_only) {
  std::string user = r.m_row.user, password = r.m_row.password;
  if (!r.m_row.has_user_config && host_.settings != nullptr) {
    user = host_.settings->GetDefaultUserName();
    password = host_.settings->GetDefaultPassword();
  }
  long handle = 0;
  if (audio_only) {
    handle = ZQ_RTSP_CLINET_LIB_RealPlayBySimple(r.m_row.ip.c_str(), user.c_str(), password.c_str(),
                                                 &LiveView::RtspStreamCallBack, 2, r.m_row.video_port,
                                                 r.m_row.rtp_over_rtsp, &r, 0);
  } else {
    const std::string url = LiveUrl(r.m_row.ip, r.m_row.video_port, r.m_channel, stream);
    DebugLogPrintf("Live view pane %d: %s\n", r.m_windowIndex, url.c_str());  // no credentials in it
    handle = ZQ_RTSP_CLINET_LIB_RealPlayByUrl(url.c_str(), user.c_str(), password.c_str(), 1,
                                              &LiveView::RtspStreamCallBack, &r);
  }
  long expected = 0;
  if (handle != 0) r.m_playHandle.compare_exchange_strong(expected, handle);
  return handle;
}

int LiveView::StartPanePreview(int row, int channel, int stream, int pane, int audioOnly) {
  if (pane < 0 || pane >= ui::CWndManager::kPaneCount) return 0;
  const std::optional<LiveRow> found = host_.row_at ? host_.row_at(row) : std::nullopt;
  if (!found) return -1;
  if (!PlaysVideo(found->device_type)) {
    if (host_.error_box) host_.error_box(UnsupportedModelMessage(found->device_type), "ERROR");
    return -1;
  }
  {
    std::lock_guard lock(map_mutex_);
    for (auto& [index, r] : panes_)
      if (r->m_row.serial == found->serial && r->m_channel == channel) {
        if (grid_ != nullptr) grid_->SelectPane(index);
        return 0;  // a device channel is never shown twice
      }
  }
  StopPanePreview(pane);
  auto r = std::make_shared<CDevInfo>();
  if (host_.settings != nullptr) {
    r->m_playMode = host_.settings->play_mode;
    r->m_decodeMode = host_.settings->decode_mode;
    r->m_scaleMode = host_.settings->scale_mode;
  }
  r->m_windowIndex = pane;
  r->m_playerPort = grid_ != nullptr ? grid_->GetPanePlayer(pane) : 0;
  r->m_row = *found;
  r->m_subStream = stream != 0 ? 1 : 0;
  r->m_channel = channel;
  const bool audio_only = audioOnly != 0 || Has(found->ability_text, "only_audio");
  const bool record = host_.settings != nullptr && host_.settings->record_switch != 0;
  if (record) r->m_recordThread = std::make_unique<CRecordThread>(RecordIn(Documents()));
  {
    std::lock_guard lock(map_mutex_);
    // In the map before the play starts: the callbacks reach it by pointer only.
    panes_[pane] = r;
  }
  const long handle = Play(*r, stream, audio_only);
  if (!audio_only) ZQ_NETSDK_IPC_CreateIFrame(found->login_handle, channel, stream);
  if (handle == 0) {
    std::lock_guard lock(map_mutex_);
    panes_.erase(pane);
    return -2;
  }
  if (r->m_recordThread) WatchRecorder(*r, *r->m_recordThread);
  if (grid_ != nullptr) {
    const QString caption = QString::number(static_cast<unsigned>(found->login_handle));
    grid_->SetPaneCaption(pane, &caption);
  }
  if (grid_ != nullptr && pane == grid_->GetSelectedPane()) MarkSelectedPaneRows();
  if (host_.sound_checked) SetSelectedPaneAudio(host_.sound_checked());
  return 0;
}

void LiveView::DeleteRecord(const std::shared_ptr<CDevInfo>& r) {
  r->m_closing.store(true);
  const long handle = r->m_playHandle.exchange(0);
  if (handle != 0) ZQ_RTSP_CLINET_LIB_StopRealPlay(handle);  // no stream callback after this
  if (r->m_playerPort != 0) {
    // The decoded-picture callback has no such guarantee of its own: it is
    // unregistered, which waits for a delivery in progress.
    ZQ_PLAYER_SetDecCallBack(r->m_playerPort, nullptr, nullptr);
  }
  std::unique_ptr<CRecordThread> rec;
  std::unique_ptr<CRecordYuvThread> yuv, raw;
  {
    std::lock_guard lock(r->recorders_mutex);
    rec = std::move(r->m_recordThread);
    yuv = std::move(r->m_yuvDump);
    raw = std::move(r->m_streamDump);
  }
  // Stopped outside the record's lock: their workers finish what is queued.
}

int LiveView::StopPanePreview(int pane) {
  std::shared_ptr<CDevInfo> r;
  {
    std::lock_guard lock(map_mutex_);
    auto it = panes_.find(pane);
    if (it == panes_.end()) return 0;
    r = it->second;
    panes_.erase(it);
  }
  DeleteRecord(r);
  if (r->m_playerPort != 0) {
    if (r->m_audioOn.load() == 1) ZQ_PLAYER_SetAudioOff();
    ZQ_PLAYER_SetRecordStatus(r->m_playerPort, 0);
    ZQ_PLAYER_CloseDecoder(r->m_playerPort, 0);
    ZQ_PLAYER_CloseDecoder(r->m_playerPort, 1);
    r->m_playerPort = 0;
    r->m_audioOn.store(0);
  }
  if (r->m_windowIndex >= 0 && grid_ != nullptr) grid_->SetPaneCaption(r->m_windowIndex, nullptr);
  r->m_windowIndex = -1;
  if (grid_ != nullptr && pane == grid_->GetSelectedPane()) MarkSelectedPaneRows();
  return 0;
}

int LiveView::CloseAllPreviews() {
  std::map<int, std::shared_ptr<CDevInfo>> all;
  {
    std::lock_guard lock(map_mutex_);
    all.swap(panes_);
  }
  ZQ_PLAYER_SetAudioOff();
  for (auto& [pane, r] : all) {
    DeleteRecord(r);
    if (r->m_playerPort != 0) {
      ZQ_PLAYER_CloseDecoder(r->m_playerPort, 0);
      ZQ_PLAYER_CloseDecoder(r->m_playerPort, 1);
    }
    if (grid_ != nullptr) grid_->SetPaneCaption(pane, nullptr);
  }
  if (!all.empty()) MarkSelectedPaneRows();
  return 0;
}

void LiveView::SwitchPaneStream(int pane, int mainWanted) {
  if (pane < 0 || pane >= ui::CWndManager::kPaneCount) return;
  std::shared_ptr<CDevInfo> old = Find(pane);
  if (!old || old->m_playHandle.load() == 0) return;
  if ((mainWanted != 0 && old->m_subStream == 0) || (mainWanted == 0 && old->m_subStream == 1)) return;
  auto r = std::make_shared<CDevInfo>();
  r->m_channel = old->m_channel;
  r->m_row = old->m_row;
  StopPanePreview(pane);
  if (host_.settings != nullptr) {
    r->m_playMode = host_.settings->play_mode;
    r->m_decodeMode = host_.settings->decode_mode;
    r->m_scaleMode = host_.settings->scale_mode;
  }
  r->m_windowIndex = pane;
  r->m_playerPort = grid_ != nullptr ? grid_->GetPanePlayer(pane) : 0;
  r->m_subStream = mainWanted != 0 ? 0 : 1;
  if (host_.settings != nullptr && host_.settings->record_switch != 0)
    r->m_recordThread = std::make_unique<CRecordThread>(RecordIn(Documents()));
  {
    std::lock_guard lock(map_mutex_);
    panes_[pane] = r;
  }
  const bool audio_only = Has(r->m_row.ability_text, "only_audio");
  const long handle = Play(*r, r->m_subStream, audio_only);
  if (handle == 0) {
    std::lock_guard lock(map_mutex_);
    panes_.erase(pane);
    return;
  }
  if (r->m_recordThread) WatchRecorder(*r, *r->m_recordThread);
  ZQ_NETSDK_IPC_CreateIFrame(r->m_row.login_handle, r->m_channel, r->m_subStream);
  if (grid_ != nullptr && pane == grid_->GetSelectedPane()) MarkSelectedPaneRows();
  if (host_.sound_checked) SetSelectedPaneAudio(host_.sound_checked());
}

int LiveView::OpenDevicePreview(int row) {
  const std::optional<LiveRow> found = row >= 0 && host_.row_at ? host_.row_at(row) : std::nullopt;
  if (!found || !found->online || grid_ == nullptr) return -1;
  CSaveParam* s = host_.settings;
  int channels = 1;
  if (Has(found->device_type, "DAV-ODUVE-2CHN-")) {
    if (s != nullptr) {
      s->video_rows = 1;
      s->video_cols = 2;
    }
    grid_->SetGrid(1, 2);
    // The two channels side by side across the middle of the work area.
    if (video_host_ != nullptr) {
      if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect work = screen->availableGeometry();
        video_host_->setGeometry(work.left(), work.top() + work.height() / 4, work.width(), work.height() / 2);
      }
    }
    channels = 2;
  } else if (s != nullptr && (s->video_rows == 0 || s->video_cols == 0)) {
    s->video_rows = s->video_cols = 1;
    grid_->SetGrid(1, 1);
    SaveSettings();
  }
  const int stream = s != nullptr && s->full_switch_stream != 0 ? 1 : 0;
  for (int c = 0; c < channels; ++c) {
    const int pane = grid_->FindFreePane();
    grid_->update();
    if (pane >= 0 && StartPanePreview(row, c, stream, pane, 0) != 0) return -1;
  }
  if (video_host_ != nullptr) video_host_->SetVisible(5);
  return 0;
}

void LiveView::OpenAllPreviews() {
  if (grid_ == nullptr) return;
  CSaveParam* s = host_.settings;
  if (s != nullptr && (s->video_rows == 0 || s->video_cols == 0)) {
    s->video_rows = s->video_cols = 1;
    grid_->SetGrid(1, 1);
    SaveSettings();
  }
  if (video_host_ != nullptr) video_host_->SetVisible(5);
  CloseAllPreviews();
  const int stream = s != nullptr && s->full_switch_stream != 0 ? 1 : 0;
  const int cells = grid_->PaneCountInGrid();
  int started = 0;
  const int rows = host_.row_count ? host_.row_count() : 0;
  for (int j = 0; j < rows && started < cells; ++j) {
    const std::optional<LiveRow> row = host_.row_at(j);
    if (!row || row->login_version.empty() || Has(row->device_type, "NVR")) continue;
    const int channels = Has(row->device_type, "DAV-ODUVE-2CHN-") ? 2 : 1;
    for (int k = 0; k < channels && started < cells; ++k) {
      StartPanePreview(j, k, stream, grid_->FindFreePane(), 0);
      ++started;
    }
  }
}

void LiveView::PreviewInNextPane(int row) {
  if (grid_ == nullptr) return;
  CSaveParam* s = host_.settings;
  if (s != nullptr && (s->video_rows == 0 || s->video_cols == 0)) {
    s->video_rows = s->video_cols = 1;
    grid_->SetGrid(1, 1);
    SaveSettings();
  }
  const int pane = grid_->FindFreePane();
  grid_->update();
  if (video_host_ != nullptr) video_host_->SetVisible(5);
  const int stream = s != nullptr && s->full_switch_stream != 0 ? 1 : 0;
  if (row >= 0 && pane >= 0) StartPanePreview(row, 0, stream, pane, 1);
}

int LiveView::PtzControlPane(int pane, int command, int p1, int p2) {
  std::shared_ptr<CDevInfo> r = Find(pane);
  if (!r || r->m_row.login_handle < 1) return 0;
  return ZQ_NETSDK_IPC_PTZControl(r->m_row.login_handle, command, p1, p2);
}

int LiveView::GetPaneSubStream(int pane) {
  if (pane < 0 || pane >= ui::CWndManager::kPaneCount) return -1;
  std::shared_ptr<CDevInfo> r = Find(pane);
  if (!r || r->m_playHandle.load() == 0) return -1;
  return r->m_subStream;
}

int LiveView::IsPaneRecording(int pane) {
  std::shared_ptr<CDevInfo> r = Find(pane);
  if (!r || r->m_playHandle.load() == 0) return 0;
  std::lock_guard lock(r->recorders_mutex);
  return r->m_recordThread && r->m_recordThread->IsRunning() ? 1 : 0;
}

int LiveView::IsPaneKeyFrameOnly(int pane) {
  std::shared_ptr<CDevInfo> r = Find(pane);
  if (!r || r->m_playHandle.load() == 0) return 0;
  std::lock_guard lock(r->recorders_mutex);
  return r->m_recordThread && r->m_recordKeyFrameOnly ? 1 : 0;
}

int LiveView::IsPaneYuvDumping(int pane) {
  std::shared_ptr<CDevInfo> r = Find(pane);
  if (!r || r->m_playHandle.load() == 0) return 0;
  std::lock_guard lock(r->recorders_mutex);
  return r->m_yuvDump && r->m_yuvDump->IsRunning() ? 1 : 0;
}

int LiveView::IsPaneStreamDumping(int pane) {
  std::shared_ptr<CDevInfo> r = Find(pane);
  if (!r || r->m_playHandle.load() == 0) return 0;
  std::lock_guard lock(r->recorders_mutex);
  return r->m_streamDump && r->m_streamDump->IsRunning() ? 1 : 0;
}

int LiveView::RtspStreamCallBack(ZQ_RTSP_PLAY_HANDLE handle, int type, const unsigned char* data, int length,
                                 const ZQ_RTSP_FRAME_INFO* info) {
  if (info == nullptr || info->user == nullptr) return 0;
  auto* r = static_cast<CDevInfo*>(info->user);
  if (r->m_closing.load()) return 0;
  long expected = 0;
  r->m_playHandle.compare_exchange_strong(expected, handle);
  if (r->m_playHandle.load() != handle) return 0;
  struct {
    int key;
    int zero;
    long long timestamp;
  } frame{info->key_frame, 0, info->timestamp};
  const long player = r->m_playerPort;
  if (type == ZQ_RTSP_FRAME_VIDEO) {
    ++r->m_frameCount;
    if (r->m_frameCount % 100 == 0) {
      const std::uint64_t elapsed = std::max<std::uint64_t>(1, TickMs() - r->m_statStartTick);
      DebugLogPrintf("%s: Run time %d ms, gotton frames %d,  actual framerate %d, indicate framerate %d. ",
                     r->m_row.ip.c_str(), static_cast<int>(elapsed), r->m_frameCount,
                     static_cast<int>(static_cast<unsigned>(r->m_frameCount) * 1000u / elapsed), r->m_announcedFps);
    }
    {
      std::lock_guard lock(r->recorders_mutex);
      if (r->m_streamDump) r->m_streamDump->PushFrame(data, length, info->key_frame, 0, 0);
    }
    if (player != 0) ZQ_PLAYER_DecodeFrame(player, 1, data, length, &frame, 16);
    std::lock_guard lock(r->recorders_mutex);
    if (r->m_recordThread)
      r->m_recordThread->PushFrame(0, data, length, info->key_frame, static_cast<double>(info->timestamp));
  } else if (type == ZQ_RTSP_FRAME_AUDIO) {
    if (player != 0 && r->m_audioWanted.load()) {
      ZQ_PLAYER_DecodeFrame(player, 0, data, length, &frame, 16);
      if (r->m_audioOn.exchange(1) == 0) ZQ_PLAYER_SetAudioOn(player);
    }
    std::lock_guard lock(r->recorders_mutex);
    if (r->m_recordThread)
      r->m_recordThread->PushFrame(1, data, length, info->key_frame, static_cast<double>(info->timestamp));
  } else if (type == ZQ_RTSP_FRAME_MEDIA_INFO && length >= static_cast<int>(sizeof(MEDIA_STREAM_INFO))) {
    MEDIA_STREAM_INFO mi;
    std::memcpy(&mi, data, sizeof mi);
    {
      std::lock_guard lock(r->recorders_mutex);
      r->SetMediaInfo(&mi);
    }
    if (mi.hasVideo != 0) {
      r->m_statStartTick = TickMs();
      r->m_frameCount = 0;
      r->m_announcedFps = static_cast<int>(mi.video.framerate);
      if (ZQ_PLAYER_SetupDecoder(player, 1, &mi.video, sizeof mi.video, 0) != 0) return 0;
    }
    if (mi.hasAudio != 0) {
      ZQ_PLAYER_SetupDecoder(player, 0, &mi.audio, sizeof mi.audio, 0);
      if (r->m_audioWanted.load()) ZQ_PLAYER_SetAudioOn(player);
    }
    ZQ_PLAYER_SetPlayMode(player, r->m_playMode);
    ZQ_PLAYER_SetDecodeMode(player, r->m_decodeMode);
    ZQ_PLAYER_SetFullFillStatus(player, r->m_scaleMode);
    std::unique_ptr<CRecordThread> failed;
    {
      std::lock_guard lock(r->recorders_mutex);
      if (r->m_recordThread && !r->m_recordThread->IsRunning()) {
        if (r->m_recordThread->Start(r->m_row.ip, &mi, 0, r->m_recordKeyFrameOnly ? 1 : 0) != 0)
          failed = std::move(r->m_recordThread);
        else
          ZQ_PLAYER_SetRecordStatus(player, 1);
      }
    }
  }
  return 0;
}

int LiveView::DecodedFrameCallBack(long, const unsigned char* data, int length, const int* dims, void* user, void*) {
  auto* r = static_cast<CDevInfo*>(user);
  if (r == nullptr || dims == nullptr || r->m_playHandle.load() == 0) return 0;
  std::lock_guard lock(r->recorders_mutex);
  if (r->m_yuvDump) r->m_yuvDump->PushFrame(data, length, 1, dims[0], dims[1]);
  return 0;
}

void LiveView::WatchRecorder(CDevInfo& r, CRecordThread& recorder) {
  const int pane = r.m_windowIndex;
  CRecordThread* which = &recorder;
  recorder.SetFailureCallback([this, pane, which](const std::string& reason) {
    // On the recorder's thread: the pane shows it on the UI thread.
    QMetaObject::invokeMethod(
        this,
        [this, pane, which, reason] {
          std::shared_ptr<CDevInfo> rec = Find(pane);
          if (!rec) return;
          std::lock_guard lock(rec->recorders_mutex);
          if (rec->m_recordThread.get() == which && rec->m_playerPort != 0) {
            ZQ_PLAYER_SetRecordStatus(rec->m_playerPort, 0);
            DebugLogPrintf("Pane %d is not recording any more: %s\n", pane, reason.c_str());
          }
        },
        Qt::QueuedConnection);
  });
}

void LiveView::MarkSelectedPaneRows() {
  if (!host_.mark_rows || grid_ == nullptr) return;
  std::shared_ptr<CDevInfo> r = Find(grid_->GetSelectedPane());
  host_.mark_rows(r ? std::optional<int>(r->m_row.login_handle) : std::nullopt);
}

void LiveView::OnPaneSelected(int pane) {
  std::shared_ptr<CDevInfo> r = Find(pane);
  if (!r) {
    // An empty pane: no row stays marked for a device it does not show.
    if (host_.mark_rows) host_.mark_rows(std::nullopt);
    return;
  }
  if (host_.mark_rows) host_.mark_rows(r->m_row.login_handle);
  SetSelectedPaneAudio(host_.sound_checked ? host_.sound_checked() : false);
}

void LiveView::SetSelectedPaneAudio(bool on) {
  if (grid_ == nullptr) return;
  std::shared_ptr<CDevInfo> r = Find(grid_->GetSelectedPane());
  if (!r) return;
  const int s = on ? 1 : 0;
  if (r->m_audioWanted.load() == s) return;
  r->m_audioWanted.store(s);
  if (r->m_playerPort != 0) {
    if (s == 1) ZQ_PLAYER_SetAudioOn(r->m_playerPort);
    else ZQ_PLAYER_SetAudioOff();
  }
  if (s == 1) {
    {
      std::lock_guard lock(map_mutex_);
      for (auto& [pane, other] : panes_)
        if (other != r) other->m_audioWanted.store(0);  // one pane is heard at a time
    }
    if (host_.sound_wanted) host_.sound_wanted();
  }
}

void LiveView::StartTimer(int id, int ms) {
  auto& t = timers_[id];
  if (!t) {
    t = std::make_unique<QTimer>();
    connect(t.get(), &QTimer::timeout, this, [this, id] { OnCruiseTimer(id); });
  }
  t->start(std::max(0, ms));
}

void LiveView::KillTimer(int id) {
  auto it = timers_.find(id);
  if (it != timers_.end()) it->second->stop();
}

bool LiveView::CruiseTimerActive(int id) const {
  auto it = timers_.find(id);
  return it != timers_.end() && it->second->isActive();
}

void LiveView::OnPtzCommand(int pane, int code) {
  if (code == kPtzZoomIn || code == kPtzZoomOut || code == kPtzStop)
    for (int id = kTimerZoomOutRunEnd; id <= kTimerZoomInStay; ++id) KillTimer(id);
  const int speed = host_.settings != nullptr ? host_.settings->af_study.nPtzSpeed : 0;
  if (pane != 0xFFFF) {
    std::shared_ptr<CDevInfo> r = Find(pane);
    if (r && Has(r->m_row.ability_text, "ptz_control")) PtzControlPane(pane, code, speed, speed);
    return;
  }
  {
    std::lock_guard lock(map_mutex_);
    for (auto& [index, r] : panes_)
      if (r->m_row.login_handle > 0) ZQ_NETSDK_IPC_PTZControl(r->m_row.login_handle, code, speed, speed);
  }
  const int interval = host_.settings != nullptr ? host_.settings->af_study.nPtzZoomInterval : 0;
  if (code == kPtzZoomOut) StartTimer(kTimerZoomOutRunEnd, interval);
  if (code == kPtzZoomIn) StartTimer(kTimerZoomInRunEnd, interval);
  if (code == kPtzZoomOut || code == kPtzZoomIn) cruise_phase_ = 0;
}

void LiveView::OnCruiseTimer(int id) {
  KillTimer(id);
  const AfStudySettings a = host_.settings != nullptr ? host_.settings->af_study : AfStudySettings{};
  const AfStudySettings m = host_.settings != nullptr ? host_.settings->ptz_multiple : AfStudySettings{};
  switch (id) {
    case kTimerAfStudyStart: CallAfStudyPreset(1); break;
    case kTimerPtzMultipleStep1:
      CallPtzMultiplePreset(1);
      StartTimer(kTimerPtzMultipleStep2, m.interval_sec * 1000);
      break;
    case kTimerPtzMultipleStep2: CallPtzMultiplePreset(2); break;
    case kTimerZoomOutRunEnd:
    case kTimerZoomInRunEnd:
      PtzStopAll();
      ++cruise_phase_;
      if (cruise_phase_ < a.nPtzZoomExecTimes)
        StartTimer(id == kTimerZoomOutRunEnd ? kTimerZoomOutStay : kTimerZoomInStay, a.nPtzZoomStayTime);
      break;
    case kTimerZoomOutStay:
      PtzZoomOutAll();
      StartTimer(kTimerZoomOutRunEnd, a.nPtzZoomInterval);
      break;
    case kTimerZoomInStay:
      PtzZoomInAll();
      StartTimer(kTimerZoomInRunEnd, a.nPtzZoomInterval);
      break;
    default: break;
  }
}

void LiveView::PtzStopAll() {
  std::lock_guard lock(map_mutex_);
  for (auto& [pane, r] : panes_)
    if (r->m_row.login_handle > 0)
      for (int i = 0; i < 3; ++i) ZQ_NETSDK_IPC_PTZControl(r->m_row.login_handle, kPtzStop, 3, 3);
}

void LiveView::PtzZoomOutAll() {
  const int speed = host_.settings != nullptr ? host_.settings->af_study.nPtzSpeed : 0;
  std::lock_guard lock(map_mutex_);
  for (auto& [pane, r] : panes_)
    if (r->m_row.login_handle > 0) ZQ_NETSDK_IPC_PTZControl(r->m_row.login_handle, kPtzZoomOut, speed, speed);
}

void LiveView::PtzZoomInAll() {
  const int speed = host_.settings != nullptr ? host_.settings->af_study.nPtzSpeed : 0;
  std::lock_guard lock(map_mutex_);
  for (auto& [pane, r] : panes_)
    if (r->m_row.login_handle > 0) ZQ_NETSDK_IPC_PTZControl(r->m_row.login_handle, kPtzZoomIn, speed, speed);
}

void LiveView::On3DLocate(int pane, unsigned packed) {
  std::shared_ptr<CDevInfo> r = Find(pane);
  if (!r || !Has(r->m_row.ability_text, "ptz_control")) return;
  int p1 = 0, p2 = 0;
  Unpack3DLocate(packed, p1, p2);
  PtzControlPane(pane, kPtz3DLocate, p1, p2);
}

void LiveView::OnSetStream(int pane, int main) {
  if (host_.settings == nullptr || host_.settings->full_switch_stream == 0) return;
  SwitchPaneStream(pane, main);
}

void LiveView::OnRecord(int pane, unsigned param) {
  std::shared_ptr<CDevInfo> r = Find(pane);
  if (!r) return;
  const int record = param & 0xFF, key_only = (param >> 8) & 0xFF, snapshot = (param >> 16) & 0xFF;
  if (snapshot == 0) {
    if (record == 0) {
      std::unique_ptr<CRecordThread> old;
      {
        std::lock_guard lock(r->recorders_mutex);
        old = std::move(r->m_recordThread);  // no push reaches it after this
      }
      old.reset();  // stops it: what is queued is written first
      ZQ_PLAYER_SetRecordStatus(r->m_playerPort, 0);
      return;
    }
    std::lock_guard lock(r->recorders_mutex);
    if (r->m_recordThread) return;
    r->m_recordThread = std::make_unique<CRecordThread>(RecordIn(Documents()));
    r->m_recordKeyFrameOnly = key_only != 0;
    WatchRecorder(*r, *r->m_recordThread);
    if (!r->m_mediaInfo) return;  // the stream callback starts it with the description
    if (r->m_recordThread->Start(r->m_row.ip, r->m_mediaInfo.get(), 0, key_only) != 0)
      r->m_recordThread.reset();
    else
      ZQ_PLAYER_SetRecordStatus(r->m_playerPort, 1);
    return;
  }
  ZQ_PLAYER_SetDecodeMode(r->m_playerPort, 1);
  const std::filesystem::path folder = RecordFolder(Documents(), r->m_row.ip, LocalNow());
  if (folder.empty()) return;
  ZQ_PLAYER_SnapShot(r->m_playerPort, snapshot == 1 ? 0 : 1, (folder.string() + "/").c_str());
}

void LiveView::OnRecordYuv(int pane, int on) {
  std::shared_ptr<CDevInfo> r = Find(pane);
  if (!r) return;
  if (on != 0) {
    ZQ_PLAYER_SetDecodeMode(r->m_playerPort, 1);
    bool started = false;
    {
      std::lock_guard lock(r->recorders_mutex);
      if (r->m_yuvDump) return;
      auto dump = std::make_unique<CRecordYuvThread>(0, DumpIn(Documents()));
      if (r->m_mediaInfo) {
        if (dump->Start(r->m_row.ip, static_cast<int>(r->m_mediaInfo->video.width),
                        static_cast<int>(r->m_mediaInfo->video.height)) != 0)
          return;
        started = true;
      }
      r->m_yuvDump = std::move(dump);
    }
    // Registered outside the record's lock: a delivery holds the player's
    // callback lock and then takes the record's lock.
    if (started) {
      ZQ_PLAYER_SetDecCallBack(r->m_playerPort, &LiveView::DecodedFrameCallBack, r.get());
      ZQ_PLAYER_SetRecordStatus(r->m_playerPort, 1);
    }
    return;
  }
  std::unique_ptr<CRecordYuvThread> old;
  {
    std::lock_guard lock(r->recorders_mutex);
    old = std::move(r->m_yuvDump);
  }
  if (old) {
    ZQ_PLAYER_SetDecCallBack(r->m_playerPort, nullptr, nullptr);
    old.reset();
    ZQ_PLAYER_SetRecordStatus(r->m_playerPort, 0);
  }
}

void LiveView::OnRecordRawStream(int pane, int on) {
  std::shared_ptr<CDevInfo> r = Find(pane);
  if (!r) return;
  std::unique_ptr<CRecordYuvThread> old;
  {
    std::lock_guard lock(r->recorders_mutex);
    if (on == 0) {
      old = std::move(r->m_streamDump);
    } else {
      if (r->m_streamDump) return;
      const int format = r->m_mediaInfo && std::strstr(r->m_mediaInfo->video.codec, "265") != nullptr ? 2 : 1;
      auto dump = std::make_unique<CRecordYuvThread>(format, DumpIn(Documents()));
      if (r->m_mediaInfo) {
        if (dump->Start(r->m_row.ip, static_cast<int>(r->m_mediaInfo->video.width),
                        static_cast<int>(r->m_mediaInfo->video.height)) != 0)
          return;
        ZQ_PLAYER_SetRecordStatus(r->m_playerPort, 1);
      }
      r->m_streamDump = std::move(dump);
      return;
    }
  }
  if (old) {
    old.reset();
    ZQ_PLAYER_SetRecordStatus(r->m_playerPort, 0);
  }
}

void LiveView::OnSetPlayMode(int mode) {
  DebugLogPrintf("OnSetPlayMode mode %d\n", mode);
  {
    std::lock_guard lock(map_mutex_);
    for (auto& [pane, r] : panes_) ZQ_PLAYER_SetPlayMode(r->m_playerPort, mode);
  }
  if (host_.settings != nullptr) host_.settings->play_mode = mode;
  SaveSettings();
}

void LiveView::OnSetScaleMode(int mode) {
  DebugLogPrintf("OnSetPlayMode mode %d\n", mode);
  {
    std::lock_guard lock(map_mutex_);
    for (auto& [pane, r] : panes_) {
      ZQ_PLAYER_SetFullFillStatus(r->m_playerPort, mode);
      DebugLogPrintf("ZQ_PLAYER_SetFullFillStatus %d -> %d\n", static_cast<int>(r->m_playerPort), mode);
    }
  }
  if (host_.settings != nullptr) host_.settings->scale_mode = mode;
  SaveSettings();
}

void LiveView::OnSetDecodeMode(int pane, int mode) {
  if (pane < 0 || pane >= ui::CWndManager::kPaneCount) return;
  std::shared_ptr<CDevInfo> r = Find(pane);
  if (!r || r->m_playHandle.load() == 0) return;
  r->m_decodeMode = mode;
  ZQ_PLAYER_SetDecodeMode(r->m_playerPort, mode);
  if (host_.settings != nullptr) host_.settings->decode_mode = mode;
  SaveSettings();
}

void LiveView::OnPresetSet(int pane, int preset) {
  std::shared_ptr<CDevInfo> r = Find(pane);
  if (r && Has(r->m_row.ability_text, "ptz_control"))
    ZQ_NETSDK_IPC_PTZPreset(r->m_row.login_handle, kPtzPresetSet, preset);
}

void LiveView::OnPresetCall(int pane, int preset) {
  std::shared_ptr<CDevInfo> r = Find(pane);
  if (r && Has(r->m_row.ability_text, "ptz_control"))
    ZQ_NETSDK_IPC_PTZPreset(r->m_row.login_handle, kPtzPresetCall, preset);
}

namespace {
void CallPresetEntry(const AfStudySettings& table, int entry, std::map<int, std::shared_ptr<CDevInfo>>& panes) {
  if (entry < 0 || entry >= static_cast<int>(AfStudySettings::kPresetCount)) return;
  const auto& p = table.presets[static_cast<size_t>(entry)];
  if (p.enable == 0 || p.presetNum <= 0 || p.presetNum >= 256) return;
  for (auto& [pane, r] : panes)
    if (r->m_row.login_handle > 0)
      ZQ_NETSDK_IPC_PTZPreset(r->m_row.login_handle, p.functionType != 0 ? kPtzPresetCall : kPtzPresetSet,
                              p.presetNum);
}
}  // namespace

void LiveView::CallAfStudyPreset(int entry) {
  if (host_.settings == nullptr) return;
  std::lock_guard lock(map_mutex_);
  CallPresetEntry(host_.settings->af_study, entry, panes_);
}

void LiveView::CallPtzMultiplePreset(int entry) {
  if (host_.settings == nullptr) return;
  std::lock_guard lock(map_mutex_);
  CallPresetEntry(host_.settings->ptz_multiple, entry, panes_);
}

void LiveView::OnTourConfig(int mode) {
  if (host_.settings == nullptr || !host_.edit_tour) return;
  AfStudySettings& table = mode == 0 ? host_.settings->af_study : host_.settings->ptz_multiple;
  table = host_.edit_tour(mode, table);
  SaveSettings();
}

void LiveView::OnAfStudyRun() {
  const int interval = host_.settings != nullptr ? host_.settings->af_study.interval_sec : 0;
  if (interval <= 0) {
    for (int i = 0; i < 10; ++i) CallAfStudyPreset(i);
    return;
  }
  CallAfStudyPreset(0);
  StartTimer(kTimerAfStudyStart, interval * 1000);
}

void LiveView::OnPtzMultipleRun() {
  const int interval = host_.settings != nullptr ? host_.settings->ptz_multiple.interval_sec : 0;
  if (interval <= 0) {
    for (int i = 0; i < 10; ++i) CallPtzMultiplePreset(i);
    return;
  }
  CallPtzMultiplePreset(0);
  StartTimer(kTimerPtzMultipleStep1, interval * 1000);
}

void LiveView::OnDigitalZoom(int multiple_x10) {
  // Our own folder, not a fixed name in the shared temporary folder.
  std::filesystem::path dir = host_.private_dir;
  if (dir.empty()) return;
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  const std::filesystem::path file = dir / "dzoom.config.xml";
  {
    std::ofstream out(file, std::ios::trunc);
    if (!out) return;
    out << DigitalZoomXml(multiple_x10);
    if (!out) return;
  }
  std::lock_guard lock(map_mutex_);
  for (auto& [pane, r] : panes_)
    if (r->m_row.login_handle > 0 && host_.upload_config) host_.upload_config(r->m_row.login_handle, file.string());
}

void LiveView::OnMotionGridOn(int columns, int rows) {
  if (columns <= 0 || rows <= 0) return;
  const std::string cells(static_cast<size_t>(columns) * static_cast<size_t>(rows), '1');
  std::lock_guard lock(map_mutex_);
  for (auto& [pane, r] : panes_)
    if (r->m_playerPort != 0) ZQ_PLAYER_SetMotionDetectConfig(r->m_playerPort, columns, rows, cells.c_str());
}

void LiveView::OnMotionGridOff() {
  std::lock_guard lock(map_mutex_);
  for (auto& [pane, r] : panes_)
    if (r->m_playerPort != 0) ZQ_PLAYER_SetMotionDetectConfigOn(r->m_playerPort, 0);
}

void LiveView::OnToggle3D() {
  if (host_.settings == nullptr || grid_ == nullptr) return;
  host_.settings->mouse_3d_locate = host_.settings->mouse_3d_locate != 0 ? 0 : 1;
  SaveSettings();
  for (int i = 0; i < ui::CWndManager::kPaneCount; ++i)
    if (ui::CWndCtrl* pane = grid_->GetPane(i)) pane->SetMouse3DLocate(host_.settings->mouse_3d_locate);
}

void LiveView::OpenSnapFolder() {
  const std::filesystem::path folder = Documents() / "snap";
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (host_.open_url) host_.open_url(folder.string());
}

void LiveView::OnMenuSplit(int command) {
  if (grid_ == nullptr) return;
  for (const GridChoice& g : kGridChoices) {
    if (g.command != command) continue;
    if (g.rows == 0) {
      if (video_host_ != nullptr) video_host_->SetVisible(0);
      CloseAllPreviews();
      return;
    }
    grid_->SetGrid(g.rows, g.cols);
    if (video_host_ != nullptr) video_host_->SetVisible(9);
    if (host_.settings != nullptr) {
      host_.settings->video_rows = g.rows;
      host_.settings->video_cols = g.cols;
    }
    SaveSettings();
    return;
  }
}

}  // namespace kelvara::media
