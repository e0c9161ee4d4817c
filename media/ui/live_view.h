#pragma once
// The live views of the main window: one play record (CDevInfo) per occupied
// pane, the RTSP play and the pane's player, the recorders, and the handlers
// of the grid's messages (PTZ, presets, record, modes, menus). Everything here
// runs on the UI thread except the two library callbacks.
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "common/save_param.h"
#include "media/core/live_row.h"
#include "media/core/record_thread.h"
#include "media/core/record_yuv_thread.h"
#include "rivelin.h"
#include "zq_rtsp_client.h"

class QMenu;
class QWidget;

namespace kelvara::ui {
class CWndManager;
class CDialogVideo;
}  // namespace kelvara::ui

namespace kelvara::media {

// The play record of one occupied pane.
class CDevInfo {
 public:
  CDevInfo() = default;
  virtual ~CDevInfo();
  CDevInfo(const CDevInfo&) = delete;
  CDevInfo& operator=(const CDevInfo&) = delete;

  // Set by the play call, or by the first callback that carries the handle
  // (a callback can come before the play call has returned).
  std::atomic<long> m_playHandle{0};
  long m_playerPort = 0;
  int m_windowIndex = -1;
  std::atomic<int> m_audioOn{0};
  int m_subStream = 0;
  int m_channel = 0;
  std::atomic<int> m_audioWanted{0};
  LiveRow m_row;
  std::uint64_t m_statStartTick = 0;
  int m_frameCount = 0;
  int m_announcedFps = 0;
  int m_playMode = 0, m_decodeMode = 0, m_scaleMode = 0;
  std::atomic<bool> m_closing{false};

  // The recorders and the media description, swapped by the UI thread while
  // the callbacks push: every access holds recorders_mutex.
  std::mutex recorders_mutex;
  std::unique_ptr<CRecordThread> m_recordThread;
  bool m_recordKeyFrameOnly = false;
  std::unique_ptr<MEDIA_STREAM_INFO> m_mediaInfo;
  std::unique_ptr<CRecordYuvThread> m_yuvDump;
  std::unique_ptr<CRecordYuvThread> m_streamDump;

  void SetMediaInfo(const MEDIA_STREAM_INFO* info);
};

// What the live view needs of the main window and the device list.
struct LiveViewHost {
  CSaveParam* settings = nullptr;
  std::function<std::optional<LiveRow>(int row)> row_at;
  std::function<int()> row_count;
  // Marks the device list's rows of the selected pane's device (its login
  // handle); nullopt: no pane device, every row back to normal.
  std::function<void(std::optional<int> login_handle)> mark_rows;
  std::function<bool()> sound_checked;
  // A pane is to be heard (the main window says when there is no audio output).
  std::function<void()> sound_wanted;
  std::function<void(const std::string& text, const std::string& caption)> error_box;
  std::function<void(const std::string& url)> open_url;  // web page or folder
  // Uploads a configuration file to a device (digital zoom); its result.
  std::function<int(int login_handle, const std::string& path)> upload_config;
  std::function<void(int pane)> remote_config;
  // Runs the preset tour dialog (mode 0 AF study, 1 PTZ multiple) over a
  // table and gives back the table it holds when it closes.
  std::function<AfStudySettings(int mode, const AfStudySettings& table)> edit_tour;
  std::function<std::string(const std::string& key)> text;  // language table
  std::function<int(int id)> display_switch;  // a display switch's value; none: all on
  std::filesystem::path documents;  // empty: the common documents folder
  std::filesystem::path private_dir;  // our own temporary folder (digital zoom file)
};

class LiveView : public QObject {
  Q_OBJECT
 public:
  explicit LiveView(LiveViewHost host, QObject* parent = nullptr);
  ~LiveView() override;

  // The grid and its window, made by the main window; their messages are connected here.
  void Attach(ui::CWndManager* grid, ui::CDialogVideo* host);

  int StartPanePreview(int row, int channel, int stream, int pane, int audioOnly);
  int StopPanePreview(int pane);
  void SwitchPaneStream(int pane, int mainWanted);
  int CloseAllPreviews();
  int OpenDevicePreview(int row);
  void OpenAllPreviews();
  void PreviewInNextPane(int row);
  int PtzControlPane(int pane, int command, int p1, int p2);
  int GetPaneSubStream(int pane);
  int IsPaneRecording(int pane);
  int IsPaneKeyFrameOnly(int pane);
  int IsPaneYuvDumping(int pane);
  int IsPaneStreamDumping(int pane);
  int PlayingCount();

  // Grid messages (the handlers of 0x1401 .. 0x1434).
  void OnPaneSelected(int pane);
  void OnPtzCommand(int pane, int code);
  void On3DLocate(int pane, unsigned packed);
  void OnSetStream(int pane, int main);
  void OnRecord(int pane, unsigned param);
  void OnRecordYuv(int pane, int on);
  void OnRecordRawStream(int pane, int on);
  void OnSetPlayMode(int mode);
  void OnSetScaleMode(int mode);
  void OnSetDecodeMode(int pane, int mode);
  void OnPresetSet(int pane, int preset);
  void OnPresetCall(int pane, int preset);
  void OnAfStudyRun();
  void OnPtzMultipleRun();
  // The pane menu's tour settings: the edited table is stored and saved
  // whichever way the dialog closed.
  void OnTourConfig(int mode);
  void OnDigitalZoom(int multiple_x10);
  void OnMotionGridOn(int columns, int rows);
  void OnMotionGridOff();
  void OnToggle3D();
  void OnMenuSplit(int command);
  // Device list command 32799: the snapshot folder (<documents>/snap), made when missing, opened.
  void OpenSnapFolder();
  void OnPaneContextMenu(int pane);
  // The pane context menu for the selected pane (null when it does not play).
  QMenu* BuildPaneMenu(QWidget* parent);
  // The layout menu (143) with the current grid checked.
  QMenu* BuildLayoutMenu(QWidget* parent);

  void CallAfStudyPreset(int entry);
  void CallPtzMultiplePreset(int entry);
  void PtzStopAll();
  void PtzZoomOutAll();
  void PtzZoomInAll();
  void SetSelectedPaneAudio(bool on);
  // The zoom cruise's timers (10013 .. 10016) and the preset tours' (10010 .. 10012).
  void OnCruiseTimer(int id);
  bool CruiseTimerActive(int id) const;
  int CruisePhase() const { return cruise_phase_; }

  ui::CWndManager* Grid() const;
  ui::CDialogVideo* VideoHost() const;
  const LiveViewHost& Host() const { return host_; }
  // Test access: the play record of a pane (UI thread).
  CDevInfo* Record(int pane);

  // The library callbacks.
  static int RtspStreamCallBack(ZQ_RTSP_PLAY_HANDLE handle, int type, const unsigned char* data, int length,
                                const ZQ_RTSP_FRAME_INFO* info);
  static int DecodedFrameCallBack(long handle, const unsigned char* data, int length, const int* dims, void* user,
                                  void* reserved);

 private:
  std::shared_ptr<CDevInfo> Find(int pane);
  long Play(CDevInfo& record, int stream, bool audio_only);
  void DeleteRecord(const std::shared_ptr<CDevInfo>& record);
  void StartRecorderIfDescribed(CDevInfo& record);
  void WatchRecorder(CDevInfo& record, CRecordThread& recorder);
  void StartTimer(int id, int ms);
  void KillTimer(int id);
  std::filesystem::path Documents() const;
  void SaveSettings();
  // The list's rows follow the selected pane's live view.
  void MarkSelectedPaneRows();

  LiveViewHost host_;
  // The window owns them; they may be gone before the live view.
  QPointer<ui::CWndManager> grid_;
  QPointer<ui::CDialogVideo> video_host_;
  std::mutex map_mutex_;  // the pane map
  std::map<int, std::shared_ptr<CDevInfo>> panes_;
  std::map<int, std::unique_ptr<QTimer>> timers_;
  int cruise_phase_ = 0;
};

}  // namespace kelvara::media
