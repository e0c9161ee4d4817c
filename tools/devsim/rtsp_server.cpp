#include "rtsp_server.h"

#include <dirent.h>
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>
#include <gst/video/video-event.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

namespace kelvara::devsim {

namespace {

// True when the calling thread runs in a network namespace made for tests (a
// named one, or any other than process 1's). Streams to a real network are
// never offered.
bool InTestNamespace() {
  struct stat mine {};
  if (stat("/proc/thread-self/ns/net", &mine) != 0) return false;
  auto same = [&mine](const struct stat& o) { return o.st_ino == mine.st_ino && o.st_dev == mine.st_dev; };
  struct stat init {};
  const bool init_known = stat("/proc/1/ns/net", &init) == 0;
  if (init_known && same(init)) return false;
  bool named = false;
  if (DIR* dir = opendir("/run/netns")) {
    while (dirent* e = readdir(dir)) {
      struct stat st {};
      if (e->d_name[0] != '.' && stat((std::string("/run/netns/") + e->d_name).c_str(), &st) == 0 && same(st))
        named = true;
    }
    closedir(dir);
  }
  return named || init_known;
}

bool IsLoopback(const std::string& ip) { return ip.rfind("127.", 0) == 0; }

// Runs fn on the server's main-loop thread and waits for it.
void RunOn(GMainContext* ctx, std::function<void()> fn) {
  struct Call {
    std::function<void()> fn;
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
  } call{std::move(fn), {}, {}, false};
  g_main_context_invoke(
      ctx,
      [](gpointer data) -> gboolean {
        auto* c = static_cast<Call*>(data);
        c->fn();
        std::lock_guard lock(c->m);
        c->done = true;
        c->cv.notify_all();
        return G_SOURCE_REMOVE;
      },
      &call);
  std::unique_lock lock(call.m);
  call.cv.wait(lock, [&] { return call.done; });
}

}  // namespace

std::string StreamLaunch(const RtspDevice& d, int stream) {
  const bool main = stream == 0;
  const int w = main ? d.main_width : d.sub_width, h = main ? d.main_height : d.sub_height;
  const int fps = std::clamp(d.fps, 1, 60);
  const int kbps = main ? 2048 : 512;
  std::ostringstream s;
  s << "( videotestsrc is-live=true pattern=smpte horizontal-speed=2 ! video/x-raw,format=I420,width=" << w
    << ",height=" << h << ",framerate=" << fps << "/1 ! ";
  if (d.codec == "h265") {
    s << "x265enc name=enc tune=zerolatency speed-preset=ultrafast key-int-max=" << 2 * fps << " bitrate=" << kbps
      << " ! video/x-h265,profile=main ! valve name=vgate ! rtph265pay name=pay0 pt=96 config-interval=-1 ";
  } else {
    s << "x264enc name=enc tune=zerolatency speed-preset=ultrafast threads=" << (main ? 2 : 1)
      << " key-int-max=" << 2 * fps << " bitrate=" << kbps
      << " ! video/x-h264,profile=baseline ! valve name=vgate ! rtph264pay name=pay0 pt=96 config-interval=-1 ";
  }
  if (d.audio) {
    // 40-ms packets of 8-kHz u-law: 320 bytes each.
    s << "audiotestsrc is-live=true wave=sine freq=440 volume=0.1 samplesperbuffer=320 ! "
         "audio/x-raw,rate=8000,channels=1 ! mulawenc ! valve name=agate ! "
         "rtppcmupay name=pay1 pt=0 min-ptime=40000000 max-ptime=40000000 ";
  }
  s << ")";
  return s.str();
}

// The medias a device serves, one reference each, and the fault they play.
// "media-configure" and "unprepared" come from the server's client threads
// too, even after Stop has freed the device, so the list is locked and each
// handler holds it by a reference of its own.
struct MediaList {
  std::mutex mutex;
  std::vector<GstRTSPMedia*> medias;
  StreamFault fault = StreamFault::kRun;
  bool closed = false;  // Stop took them: later medias are not kept
};

struct DeviceServer {
  RtspDevice config;
  GstRTSPServer* server = nullptr;
  guint source_id = 0;
  int port = 0;
  std::shared_ptr<MediaList> medias = std::make_shared<MediaList>();
  std::atomic<int> key_frames{0};
};

struct RtspServer::Impl {
  GMainContext* ctx = nullptr;
  GMainLoop* loop = nullptr;
  std::thread thread;
  std::vector<std::unique_ptr<DeviceServer>> devices;
};

namespace {

void ApplyFault(GstRTSPMedia* media, StreamFault fault) {
  GstElement* bin = gst_rtsp_media_get_element(media);
  if (bin == nullptr) return;
  for (const char* name : {"vgate", "agate"}) {
    if (GstElement* valve = gst_bin_get_by_name(GST_BIN(bin), name)) {
      g_object_set(valve, "drop", fault == StreamFault::kStall ? TRUE : FALSE, nullptr);
      gst_object_unref(valve);
    }
  }
  gst_object_unref(bin);
}

void ForceKeyFrame(GstRTSPMedia* media) {
  GstElement* bin = gst_rtsp_media_get_element(media);
  if (bin == nullptr) return;
  if (GstElement* enc = gst_bin_get_by_name(GST_BIN(bin), "enc")) {
    if (GstPad* pad = gst_element_get_static_pad(enc, "src")) {
      gst_pad_send_event(pad, gst_video_event_new_upstream_force_key_unit(GST_CLOCK_TIME_NONE, TRUE, 0));
      gst_object_unref(pad);
    }
    gst_object_unref(enc);
  }
  gst_object_unref(bin);
}

// The device's medias with a reference of the caller's, to use outside the lock.
std::vector<GstRTSPMedia*> HoldMedias(MediaList& list) {
  std::lock_guard lock(list.mutex);
  std::vector<GstRTSPMedia*> held;
  for (GstRTSPMedia* m : list.medias) held.push_back(GST_RTSP_MEDIA(g_object_ref(m)));
  return held;
}

void Release(const std::vector<GstRTSPMedia*>& medias) {
  for (GstRTSPMedia* m : medias) g_object_unref(m);
}

void OnUnprepared(GstRTSPMedia* media, gpointer data) {
  MediaList& list = **static_cast<std::shared_ptr<MediaList>*>(data);
  bool held = false;
  {
    std::lock_guard lock(list.mutex);
    auto it = std::find(list.medias.begin(), list.medias.end(), media);
    if (it != list.medias.end()) {
      list.medias.erase(it);
      held = true;
    }
  }
  if (held) g_object_unref(media);
}

void ForgetMediaList(gpointer data, GClosure*) { delete static_cast<std::shared_ptr<MediaList>*>(data); }

void OnMediaConfigure(GstRTSPMediaFactory*, GstRTSPMedia* media, gpointer data) {
  const std::shared_ptr<MediaList>& list = *static_cast<std::shared_ptr<MediaList>*>(data);
  StreamFault fault;
  {
    std::lock_guard lock(list->mutex);
    if (list->closed) return;
    list->medias.push_back(GST_RTSP_MEDIA(g_object_ref(media)));
    fault = list->fault;
  }
  g_signal_connect_data(media, "unprepared", G_CALLBACK(OnUnprepared), new std::shared_ptr<MediaList>(list),
                        ForgetMediaList, GConnectFlags{});
  ApplyFault(media, fault);
}

GstRTSPFilterResult CloseClient(GstRTSPServer*, GstRTSPClient*, gpointer) { return GST_RTSP_FILTER_REMOVE; }

void AddStream(GstRTSPMountPoints* mounts, DeviceServer* d, const std::string& path, int stream) {
  GstRTSPMediaFactory* factory = gst_rtsp_media_factory_new();
  gst_rtsp_media_factory_set_launch(factory, StreamLaunch(d->config, stream).c_str());
  gst_rtsp_media_factory_set_shared(factory, FALSE);
  gst_rtsp_media_factory_add_role(factory, "user", GST_RTSP_PERM_MEDIA_FACTORY_ACCESS, G_TYPE_BOOLEAN, TRUE,
                                  GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT, G_TYPE_BOOLEAN, TRUE, nullptr);
  g_signal_connect_data(factory, "media-configure", G_CALLBACK(OnMediaConfigure),
                        new std::shared_ptr<MediaList>(d->medias), ForgetMediaList, GConnectFlags{});
  gst_rtsp_mount_points_add_factory(mounts, path.c_str(), factory);  // takes the factory
}

}  // namespace

RtspServer::RtspServer() : impl_(std::make_unique<Impl>()) {}
RtspServer::~RtspServer() { Stop(); }

std::string RtspServer::Start(const std::vector<RtspDevice>& devices) {
  for (const RtspDevice& d : devices)
    if (!IsLoopback(d.ip) && !InTestNamespace())
      return "RTSP streams are served only on loopback or inside a test network namespace";
  gst_init(nullptr, nullptr);
  impl_->ctx = g_main_context_new();
  impl_->loop = g_main_loop_new(impl_->ctx, FALSE);
  for (const RtspDevice& config : devices) {
    auto d = std::make_unique<DeviceServer>();
    d->config = config;
    d->server = gst_rtsp_server_new();
    gst_rtsp_server_set_address(d->server, config.ip.c_str());
    gst_rtsp_server_set_service(d->server, std::to_string(config.port).c_str());
    GstRTSPMountPoints* mounts = gst_rtsp_server_get_mount_points(d->server);
    for (int s = 0; s < 2; ++s) AddStream(mounts, d.get(), "/stream" + std::to_string(s), s);
    for (int ch = 1; ch <= config.channels; ++ch)
      for (int s = 0; s < 2; ++s) {
        char path[32];
        std::snprintf(path, sizeof path, "/ch%02d/stream%d", ch, s);
        AddStream(mounts, d.get(), path, s);
      }
    g_object_unref(mounts);
    GstRTSPAuth* auth = gst_rtsp_auth_new();
    GstRTSPToken* token = gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, "user", nullptr);
    gchar* basic = gst_rtsp_auth_make_basic(config.user.c_str(), config.password.c_str());
    gst_rtsp_auth_add_basic(auth, basic, token);
    g_free(basic);
    gst_rtsp_token_unref(token);
    gst_rtsp_server_set_auth(d->server, auth);
    g_object_unref(auth);
    d->source_id = gst_rtsp_server_attach(d->server, impl_->ctx);
    if (d->source_id == 0) {
      g_object_unref(d->server);
      Stop();
      return "cannot serve RTSP on " + config.ip + ":" + std::to_string(config.port);
    }
    d->port = gst_rtsp_server_get_bound_port(d->server);
    impl_->devices.push_back(std::move(d));
  }
  impl_->thread = std::thread([ctx = impl_->ctx, loop = impl_->loop] {
    g_main_context_push_thread_default(ctx);
    g_main_loop_run(loop);
    g_main_context_pop_thread_default(ctx);
  });
  return "";
}

void RtspServer::Stop() {
  if (impl_->ctx == nullptr) return;
  auto close_all = [this] {
    for (auto& d : impl_->devices) {
      gst_rtsp_server_client_filter(d->server, CloseClient, nullptr);
      if (GSource* src = g_main_context_find_source_by_id(impl_->ctx, d->source_id)) g_source_destroy(src);
    }
  };
  if (impl_->thread.joinable()) {
    RunOn(impl_->ctx, close_all);
    g_main_loop_quit(impl_->loop);
    impl_->thread.join();
  } else {
    close_all();
  }
  for (auto& d : impl_->devices) {
    std::vector<GstRTSPMedia*> held;
    {
      std::lock_guard lock(d->medias->mutex);
      held.swap(d->medias->medias);
      d->medias->closed = true;
    }
    Release(held);
    g_object_unref(d->server);
  }
  impl_->devices.clear();
  g_main_loop_unref(impl_->loop);
  g_main_context_unref(impl_->ctx);
  impl_->loop = nullptr;
  impl_->ctx = nullptr;
}

int RtspServer::port(int device) const {
  if (device < 0 || device >= static_cast<int>(impl_->devices.size())) return 0;
  return impl_->devices[static_cast<size_t>(device)]->port;
}

int RtspServer::key_frame_requests(int device) const {
  if (device < 0 || device >= static_cast<int>(impl_->devices.size())) return 0;
  return impl_->devices[static_cast<size_t>(device)]->key_frames.load();
}

void RtspServer::RequestKeyFrame(int device) {
  if (device < 0 || device >= static_cast<int>(impl_->devices.size()) || impl_->ctx == nullptr) return;
  DeviceServer* d = impl_->devices[static_cast<size_t>(device)].get();
  d->key_frames.fetch_add(1);
  RunOn(impl_->ctx, [d] {
    const std::vector<GstRTSPMedia*> held = HoldMedias(*d->medias);
    for (GstRTSPMedia* m : held) ForceKeyFrame(m);
    Release(held);
  });
}

void RtspServer::SetFault(int device, StreamFault fault) {
  if (device < 0 || device >= static_cast<int>(impl_->devices.size()) || impl_->ctx == nullptr) return;
  DeviceServer* d = impl_->devices[static_cast<size_t>(device)].get();
  RunOn(impl_->ctx, [d, fault] {
    if (fault == StreamFault::kDrop) {
      gst_rtsp_server_client_filter(d->server, CloseClient, nullptr);
      return;
    }
    {
      std::lock_guard lock(d->medias->mutex);
      d->medias->fault = fault;
    }
    const std::vector<GstRTSPMedia*> held = HoldMedias(*d->medias);
    for (GstRTSPMedia* m : held) ApplyFault(m, fault);
    Release(held);
  });
}

std::string RtspControl(RtspServer& server, int device_count, const std::string& line) {
  std::istringstream in(line);
  std::string word, what;
  int device = -1;
  in >> word >> what >> device;
  if (word != "rtsp" || device < 0 || device >= device_count) return "err usage: rtsp keyframe|stall|drop|run D";
  if (what == "keyframe") server.RequestKeyFrame(device);
  else if (what == "stall") server.SetFault(device, StreamFault::kStall);
  else if (what == "drop") server.SetFault(device, StreamFault::kDrop);
  else if (what == "run") server.SetFault(device, StreamFault::kRun);
  else return "err usage: rtsp keyframe|stall|drop|run D";
  return "ok";
}

}  // namespace kelvara::devsim
