// The broadcast's rules against a recording SDK: start and its failures,
// stop and talk events on the devices that were started, pause, source
// switches, the playlist generation, the settings follow-ups and the device
// file list.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <filesystem>
#include <mutex>

#include "media/core/audio_broadcast.h"
#include "broadcast_fakes.h"
#include "kelvara_test/test_env.h"
#include "mp3_fixtures.h"

namespace kelvara::media {
namespace {

using test::EncodedMp3Dir;
using test::RecordingSdk;
using test::RecordingView;

struct BroadcastTest : ::testing::Test {
  RecordingSdk sdk;
  RecordingView view;
  AudioBroadcast broadcast{sdk, view};
};

TEST_F(BroadcastTest, MicrophoneStartOpensTheTalkForEveryCheckedDevice) {
  view.checked = {7, 8, 9};
  sdk.refuse["StartVoiceCom 8"] = -1;
  BroadcastSettings s;
  s.rate = 16000;
  s.transport = 1;
  ASSERT_TRUE(broadcast.Start(s));
  EXPECT_EQ(broadcast.State(), BroadcastState::Broadcasting);
  EXPECT_EQ(sdk.calls, (std::vector<std::string>{"StartTalk 1 3 16000 16 1", "StartAudioCapture 16000 16 1",
                                                 "StartVoiceCom 7", "StartVoiceCom 8", "StartVoiceCom 9"}));
  EXPECT_EQ(broadcast.TalkDevices(), (std::vector<int>{7, 9}));
  EXPECT_EQ(view.statuses, (std::vector<std::pair<int, std::string>>{{8, "STRING_STARTTALK_FAILED"}}));
  // Microphone data goes out as PCM while the source is the microphone.
  const std::uint8_t pcm[4] = {1, 2, 3, 4};
  sdk.capture(pcm, 4);
  broadcast.SetSource(AudioSource::File);
  sdk.capture(pcm, 4);
  ASSERT_EQ(sdk.data.size(), 1u);
  EXPECT_EQ(sdk.data[0].first, kFormatPCM);
  // No file source was made: switching to file sends nothing.
  EXPECT_FALSE(broadcast.HasFileSource());

  // Stop acts on the devices started, whatever is checked now.
  view.checked = {9, 10};
  sdk.calls.clear();
  broadcast.Stop();
  EXPECT_EQ(sdk.calls, (std::vector<std::string>{"RemoveTalk 7", "StopVoiceCom 7", "RemoveTalk 9", "StopVoiceCom 9",
                                                 "StopAudioCapture", "StopTalk"}));
  EXPECT_EQ(broadcast.State(), BroadcastState::Idle);
}

TEST_F(BroadcastTest, FailedStartsUndoWhatTheyOpenedAndStayIdle) {
  struct Case {
    const char* name;
    std::vector<int> checked;
    std::map<std::string, int> refuse;
    BroadcastSettings settings;
    std::string error;
    std::vector<std::string> calls;
  };
  BroadcastSettings mic;
  BroadcastSettings aac;
  aac.format = kFormatAAC;
  BroadcastSettings noFile;
  noFile.source = AudioSource::File;
  BroadcastSettings missingFile = noFile;
  missingFile.file = "/nonexistent.mp3";
  BroadcastSettings missingMp3 = missingFile;
  missingMp3.format = kFormatMP3;
  const std::vector<Case> cases = {
      {"no device", {}, {}, mic, "STRING_PLEASE_SELECT_DEVICES", {}},
      {"talk refused", {5}, {{"StartTalk 0 3 32000 16 1", -1}}, mic, "STRING_STARTTALK_FAILED",
       {"StartTalk 0 3 32000 16 1"}},
      {"no microphone", {5}, {{"StartAudioCapture 32000 16 2", -1}}, aac, "STRING_NO_MICROPHONE",
       {"StartTalk 0 1 32000 16 2", "StartAudioCapture 32000 16 2", "StopTalk"}},
      {"every device refuses", {5}, {{"StartVoiceCom 5", -1}}, mic, "STRING_STARTTALK_FAILED",
       {"StartTalk 0 3 32000 16 1", "StartAudioCapture 32000 16 1", "StartVoiceCom 5", "StopAudioCapture",
        "StopTalk"}},
      {"no playlist row", {5}, {}, noFile, "STRING_PLEASE_SELECT_AUDIOFILES", {}},
      {"file cannot be decoded", {5}, {}, missingFile, "STRING_AUDIOFILE_OPENFAILED", {}},
      {"file has no frames", {5}, {}, missingMp3, "STRING_AUDIOFILE_OPENFAILED", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSdk sdk;
    RecordingView view;
    sdk.refuse = c.refuse;
    view.checked = c.checked;
    AudioBroadcast b(sdk, view);
    EXPECT_FALSE(b.Start(c.settings));
    EXPECT_EQ(b.State(), BroadcastState::Idle);
    EXPECT_FALSE(b.HasFileSource());
    EXPECT_EQ(view.errors, std::vector<std::string>{c.error});
    EXPECT_EQ(sdk.calls, c.calls);
  }
}

TEST_F(BroadcastTest, TalkEventsConcernOnlyStartedDevices) {
  view.checked = {1, 2};
  ASSERT_TRUE(broadcast.Start({}));
  sdk.calls.clear();
  broadcast.OnDeviceTalkEvent(1, 6);
  broadcast.OnDeviceTalkEvent(3, 6);   // never started
  broadcast.OnDeviceTalkEvent(2, 36);  // the device ended the talk
  broadcast.OnDeviceTalkEvent(2, 37);  // already out
  EXPECT_EQ(sdk.calls, (std::vector<std::string>{"AddTalk 1", "StopVoiceCom 2"}));
  EXPECT_EQ(broadcast.TalkDevices(), std::vector<int>{1});
  sdk.calls.clear();
  broadcast.Stop();
  EXPECT_EQ(sdk.calls, (std::vector<std::string>{"RemoveTalk 1", "StopVoiceCom 1", "StopAudioCapture", "StopTalk"}));
  // Pause and source switches in any state.
  broadcast.Pause();
  broadcast.SetSource(AudioSource::File);
  broadcast.SetSource(AudioSource::Microphone);
  EXPECT_EQ(broadcast.State(), BroadcastState::Idle);
}

TEST_F(BroadcastTest, Mp3FramesGoOutTaggedFiveAndPauseResumesWithoutANewTalk) {
  view.checked = {4};
  const std::string path = (EncodedMp3Dir() / "cbr_8000_mono.mp3").string();
  BroadcastSettings s;
  s.format = kFormatMP3;
  s.rate = 8000;
  s.source = AudioSource::File;
  s.file = path;
  ASSERT_TRUE(broadcast.Start(s));
  EXPECT_EQ(sdk.calls.front(), "StartTalk 0 3 8000 16 1");
  {
    std::unique_lock lock(sdk.dataMutex);
    ASSERT_TRUE(sdk.dataChanged.wait_for(lock, std::chrono::seconds(10), [&] { return sdk.data.size() >= 3; }));
  }
  broadcast.Pause();
  EXPECT_EQ(broadcast.State(), BroadcastState::Paused);
  const std::size_t calls = sdk.calls.size();
  ASSERT_TRUE(broadcast.Start(s));  // resume
  EXPECT_EQ(sdk.calls.size(), calls);
  const unsigned generation = broadcast.Generation();
  {
    std::unique_lock lock(view.mutex);
    ASSERT_TRUE(view.changed.wait_for(lock, std::chrono::seconds(10), [&] { return !view.finished.empty(); }));
  }
  EXPECT_EQ(view.finished, std::vector<unsigned>{generation});
  EXPECT_TRUE(broadcast.OnFileFinished(generation));
  // Frames, unchanged and each once, tagged 5.
  CMPAFile file(path);
  const auto bytes = test::ReadFileBytes(path);
  std::vector<std::uint8_t> frames, sent;
  for (auto f = file.GetFrame(CMPAFile::First); f; f = file.GetFrame(CMPAFile::Next, f.get()))
    frames.insert(frames.end(), bytes.begin() + f->GetOffset(), bytes.begin() + f->GetSubsequentHeaderOffset());
  for (const auto& [format, d] : sdk.data) {
    EXPECT_EQ(format, kFormatMP3);
    sent.insert(sent.end(), d.begin(), d.end());
  }
  EXPECT_TRUE(sent == frames);
  // Each frame read and sent has its debug line, and the end of the file one.
  {
    std::lock_guard lock(view.mutex);
    const auto count = [&](const std::string& prefix) {
      return std::count_if(view.lines.begin(), view.lines.end(),
                           [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    };
    EXPECT_GE(count("offset "), static_cast<long>(sdk.data.size()));
    EXPECT_EQ(count("len "), static_cast<long>(sdk.data.size()));
    EXPECT_EQ(count(path + " read finished."), 1);
    const std::string first = "offset " + std::to_string(file.GetFrame(CMPAFile::First)->GetOffset()) + ", size ";
    EXPECT_EQ(count(first), 1);
    EXPECT_GE(count("len " + std::to_string(sdk.data.front().second.size()) + ", format 5"), 1);
    EXPECT_EQ(std::count_if(view.lines.begin(), view.lines.end(),
                            [](const std::string& l) { return l.size() > 10 && l.substr(l.size() - 10) == ", format 5"; }),
              static_cast<long>(sdk.data.size()));
  }
  broadcast.Stop();
  // A report of a run that has ended starts nothing.
  EXPECT_FALSE(broadcast.OnFileFinished(generation));
}

// A broken tag is shown to the user and the file still plays.
TEST_F(BroadcastTest, TagErrorsOfAnMp3FileAreShown) {
  view.checked = {4};
  std::vector<std::uint8_t> bytes = test::ReadFileBytes((EncodedMp3Dir() / "cbr_8000_mono.mp3").string());
  const std::string broken = "no start here LYRICSEND";
  bytes.insert(bytes.end(), broken.begin(), broken.end());
  const auto path = kelvara::test::MakeTempDir("tag") / "broken_lyrics.mp3";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
  BroadcastSettings s;
  s.format = kFormatMP3;
  s.rate = 8000;
  s.source = AudioSource::File;
  s.file = path.string();
  ASSERT_TRUE(broadcast.Start(s));
  ASSERT_FALSE(view.mpaErrors.empty());
  EXPECT_NE(view.mpaErrors[0].find("Corrupt Lyrics3 Tag"), std::string::npos) << view.mpaErrors[0];
  broadcast.Stop();
}

TEST_F(BroadcastTest, DecodedFileIsTaggedWithTheChosenFormat) {
  view.checked = {4};
  const std::string path = (EncodedMp3Dir() / "cbr_8000_mono.mp3").string();
  BroadcastSettings s;
  s.format = kFormatG711A;
  s.rate = 8000;
  s.source = AudioSource::File;
  s.file = path;
  ASSERT_TRUE(broadcast.Start(s));
  EXPECT_EQ(sdk.calls.front(), "StartTalk 0 2 8000 16 1");
  {
    std::unique_lock lock(view.mutex);
    ASSERT_TRUE(view.changed.wait_for(lock, std::chrono::seconds(10), [&] { return !view.finished.empty(); }));
  }
  broadcast.Stop();
  std::vector<std::uint8_t> whole, sent;
  ASSERT_EQ(DecodeMp3FileWhole(path, 8000, 1, whole), Mp3DecodeStatus::Ok);
  for (const auto& [format, d] : sdk.data) {
    EXPECT_EQ(format, kFormatG711A);
    sent.insert(sent.end(), d.begin(), d.end());
  }
  EXPECT_TRUE(sent == whole);
}

TEST(DeviceSettingsTest, FollowUpsWriteOnlyGoodRepliesAndUseEachRequestOnce) {
  RecordingSdk sdk;
  RecordingView view;
  DeviceAudioSettings settings(sdk, view);
  view.checked = {1, 2, 3};
  sdk.refuse["GetDVRConfig 3 507"] = -1;
  settings.SaveAudio(40, 90, 1);
  EXPECT_EQ(view.statuses, (std::vector<std::pair<int, std::string>>{{3, "IDS_STR_ZH_CN_SET_FAILED"}}));
  view.statuses.clear();
  sdk.calls.clear();
  settings.OnAudioCaptureReply(1, 0, "<Capture/>");
  settings.OnAudioCaptureReply(1, 0, "<Capture/>");  // used once
  settings.OnAudioCaptureReply(2, -1, "<Capture/>");  // failed reply: no write
  settings.OnAudioCaptureReply(3, 0, "<Capture/>");   // never asked
  EXPECT_EQ(sdk.calls, std::vector<std::string>{"SetDVRConfig 1 527 Volume=40 VolumePlay=90 ra_answer=1"});
  EXPECT_EQ(view.statuses, (std::vector<std::pair<int, std::string>>{{2, "IDS_STR_ZH_CN_SET_FAILED"}}));
  settings.SaveAudio(40, 90, 1);
  view.statuses.clear();
  settings.OnAudioCaptureReply(1, 0, "garbage");
  EXPECT_EQ(view.statuses, (std::vector<std::pair<int, std::string>>{{1, "IDS_STR_ZH_CN_SET_FAILED"}}));

  view.checked = {1};
  settings.SaveVideoFlip(true, false);
  std::vector<std::pair<std::string, long long>> edits;
  EXPECT_TRUE(settings.TakeVideoCaptureEdits(1, edits));
  EXPECT_EQ(edits, (std::vector<std::pair<std::string, long long>>{{"HFlip", 1}, {"VFlip", 0}}));
  EXPECT_FALSE(settings.TakeVideoCaptureEdits(1, edits));
  view.statuses.clear();
  settings.OnVideoCaptureWritten(1, -1);
  EXPECT_EQ(view.statuses.size(), 1u);
}

std::string Page(std::initializer_list<const char*> names) {
  std::string xml = "<RESPONSE_PARAM>";
  for (const char* n : names) xml += std::string("<RECORD_FILE FilePath=\"") + n + "\" FileLength=\"10\"/>";
  return xml + "</RESPONSE_PARAM>";
}

TEST(DeviceFilesTest, PagingEndsOnNothingNewAndNeverMixesQueries) {
  RecordingSdk sdk;
  RecordingView view;
  DeviceFileList files(sdk, view);
  files.Query(5, DeviceFileKind::Mp3);
  EXPECT_TRUE(files.OnSearchReply(5, 0, Page({"a.mp3", "b.mp3"})));
  EXPECT_FALSE(files.OnSearchReply(6, 0, Page({"x.mp3"})));  // another device
  EXPECT_FALSE(files.OnSearchReply(5, 0, Page({"b.mp3", "a.mp3"})));  // a repeated page ends it
  EXPECT_EQ(sdk.calls, (std::vector<std::string>{"SearchOEMMp3File 5 0", "SearchOEMMp3File 5 1"}));
  EXPECT_EQ(files.Files(), (std::vector<std::string>{"a.mp3", "b.mp3"}));
  EXPECT_FALSE(files.Querying());

  // A new query while a page is due: that page's reply is not the new list's.
  sdk.calls.clear();
  files.Query(5, DeviceFileKind::App);
  files.Query(5, DeviceFileKind::App);
  EXPECT_FALSE(files.OnSearchReply(5, 0, Page({"old.bin"})));
  EXPECT_TRUE(files.OnSearchReply(5, 0, Page({"new.bin"})));
  EXPECT_EQ(files.Files(), std::vector<std::string>{"new.bin"});
  EXPECT_EQ(sdk.calls[0], "SystemControl 5 1021 <REQUEST_PARAM SearchMode=\"0\" MediaType=\"OEMAPP\" Page=\"0\" />\n");
}

// A device that answers every page with names never seen before: the
// listing stops at its caps, says so once, and keeps what it read.
TEST(DeviceFilesTest, EndlessPagesStopAtTheCaps) {
  struct Case {
    std::size_t namesPerPage;
    std::size_t files;
    std::size_t pagesAsked;
  } cases[] = {
      {1400, DeviceFileList::kMaxFiles, 8},  // the file cap, inside page 8
      {1, DeviceFileList::kMaxPages, DeviceFileList::kMaxPages},
      {10, DeviceFileList::kMaxFiles, DeviceFileList::kMaxFiles / 10 + 1},  // the cap met exactly, then one more page
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.namesPerPage);
    RecordingSdk sdk;
    RecordingView view;
    DeviceFileList files(sdk, view);
    files.Query(5, DeviceFileKind::Mp3);
    std::size_t next = 0, pages = 0, shown = 0;
    while (files.Querying() && pages < 100000) {
      std::string xml = "<RESPONSE_PARAM>";
      for (std::size_t i = 0; i < c.namesPerPage; ++i)
        xml += "<RECORD_FILE FilePath=\"/oem/mp3/f" + std::to_string(next++) + ".mp3\"/>";
      ++pages;
      shown += files.OnSearchReply(5, 0, xml + "</RESPONSE_PARAM>");
    }
    EXPECT_EQ(files.Files().size(), c.files);
    EXPECT_EQ(shown, c.files);  // what the window appended, page by page
    EXPECT_EQ(files.Files().back(), "/oem/mp3/f" + std::to_string(c.files - 1) + ".mp3");
    EXPECT_EQ(sdk.calls.size(), c.pagesAsked);
    EXPECT_EQ(view.errors, std::vector<std::string>{"DEVICE_FILES_LIST_CUT"});
  }
}

TEST(DeviceFilesTest, UploadsDeletesListenAndDownloads) {
  RecordingSdk sdk;
  RecordingView view;
  DeviceFileList files(sdk, view);
  sdk.refuse["UploadOEMMp3File 5 /m/a.Mp3"] = -1;
  files.Upload(5, {"/m/a.Mp3", "/m/b.bin", "/m/c.MP3"});
  EXPECT_EQ(sdk.calls, (std::vector<std::string>{"UploadOEMMp3File 5 /m/a.Mp3", "UploadOEMAppFile 5 /m/b.bin"}));
  EXPECT_EQ(view.statuses, (std::vector<std::pair<int, std::string>>{{5, "MSGTIP7"}}));
  files.UploadNextFile(6);  // another device's upload finished
  EXPECT_EQ(files.UploadsLeft(), 1u);
  // The device fails the application file: reported, and the queue goes on.
  // An upgrade's failure on the same device is not the queue's.
  view.statuses.clear();
  files.OnUploadFailed(5, "<RESPONSE_PARAM Error=\"link lost\" Kind=\"2\" />");
  EXPECT_EQ(files.UploadsLeft(), 1u);
  files.OnUploadFailed(6, "<RESPONSE_PARAM Kind=\"3\" />");
  EXPECT_EQ(files.UploadsLeft(), 1u);
  files.OnUploadFailed(5, "<RESPONSE_PARAM Error=\"refused by the device\" Result=\"6\" Kind=\"3\" />");
  EXPECT_EQ(sdk.calls.back(), "UploadOEMMp3File 5 /m/c.MP3");
  EXPECT_EQ(files.UploadsLeft(), 0u);
  EXPECT_EQ(view.statuses, (std::vector<std::pair<int, std::string>>{{5, "MSGTIP7"}}));
  // The last one fails too: reported once; a repeated event is not a second file.
  files.OnUploadFailed(5, "<RESPONSE_PARAM Kind=\"5\" />");
  files.OnUploadFailed(5, "<RESPONSE_PARAM Kind=\"5\" />");
  EXPECT_EQ(view.statuses.size(), 2u);
  EXPECT_EQ(sdk.calls.size(), 3u);
}

// The end of an upload queue: the device's status says how the queue went,
// once, and the list is asked again only when a file arrived and the list
// shows that device's files or none yet.
TEST(DeviceFilesTest, UploadQueueEndsWithItsOutcomeAndAListingOfThatDevice) {
  using Statuses = std::vector<std::pair<int, std::string>>;
  const std::string ok = "event14", start = "refused", fail = "event15";  // how each file ends
  struct Case {
    const char* name;
    std::vector<std::string> outcomes;
    int listed;  // the device whose files the list shows, 0: none
    Statuses statuses;
    bool askAgain;
  } cases[] = {
      {"all arrive", {ok, ok}, 0, {{5, "UPLOAD_FILES_DONE"}}, true},
      {"all arrive, list of the device", {ok}, 5, {{5, "UPLOAD_FILES_DONE"}}, true},
      {"all arrive, list of another device", {ok, ok}, 6, {{5, "UPLOAD_FILES_DONE"}}, false},
      {"refused at start, then one arrives", {start, ok}, 0, {{5, "MSGTIP7"}, {5, "MSGTIP7"}}, true},
      {"one arrives, the last fails", {ok, fail}, 5, {{5, "MSGTIP7"}, {5, "MSGTIP7"}}, true},
      {"none arrives", {fail, start}, 5, {{5, "MSGTIP7"}, {5, "MSGTIP7"}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSdk sdk;
    RecordingView view;
    DeviceFileList files(sdk, view);
    if (c.listed > 0) files.Query(c.listed, DeviceFileKind::Mp3);
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < c.outcomes.size(); ++i) {
      paths.push_back("/m/f" + std::to_string(i) + ".bin");
      if (c.outcomes[i] == start) sdk.refuse["UploadOEMAppFile 5 " + paths.back()] = -1;
    }
    files.Upload(5, paths);
    bool askAgain = false;
    for (const std::string& outcome : c.outcomes) {
      if (outcome == start) continue;
      EXPECT_FALSE(askAgain) << "asked before the queue ended";
      askAgain = outcome == ok ? files.UploadNextFile(5) : files.OnUploadFailed(5, "<RESPONSE_PARAM Kind=\"3\" />");
    }
    EXPECT_EQ(view.statuses, c.statuses);
    EXPECT_EQ(askAgain, c.askAgain);
    // A later completion of some other transfer ends nothing more.
    EXPECT_FALSE(files.UploadNextFile(5));
    EXPECT_EQ(view.statuses, c.statuses);
  }
}

TEST(DeviceFilesTest, DeleteAndListenChangeOnlyWhenTheDeviceDidIt) {
  RecordingSdk sdk;
  RecordingView view;
  DeviceFileList files(sdk, view);
  files.Query(5, DeviceFileKind::Mp3);
  files.OnSearchReply(5, 0, Page({"a.mp3", "b.mp3", "c.mp3"}));
  // a: the SDK refuses the request; b: the device refuses; c: done.
  sdk.refuse["SystemControl 5 1024 <REQUEST_PARAM FileName=\"a.mp3\" />\n"] = -1;
  files.Delete(5, {"a.mp3", "b.mp3", "c.mp3"});
  EXPECT_EQ(files.Files().size(), 3u);
  EXPECT_FALSE(files.OnDeleteReply(6, 0));  // another device
  EXPECT_FALSE(files.OnDeleteReply(5, 6));
  EXPECT_TRUE(files.OnDeleteReply(5, 0));
  EXPECT_FALSE(files.OnDeleteReply(5, 0));  // nothing more was asked
  EXPECT_EQ(files.Files(), (std::vector<std::string>{"a.mp3", "b.mp3"}));
  EXPECT_EQ(view.statuses, (std::vector<std::pair<int, std::string>>{{5, "IDS_STR_ZH_CN_DELETE_FAILED"},
                                                                     {5, "IDS_STR_ZH_CN_DELETE_FAILED"}}));

  view.statuses.clear();
  sdk.refuse["PlayMp3File 5 a.mp3"] = -1;
  EXPECT_EQ(files.Listen(5, "a.mp3"), "IDS_STR_AUDIOACTION_PLAY_START");
  sdk.refuse.clear();
  EXPECT_FALSE(files.OnPlayReply(5, 0));  // nothing asked
  EXPECT_FALSE(files.DevicePlaying());
  // Accepted, then refused by the device: still stopped.
  EXPECT_EQ(files.Listen(5, "a.mp3"), "IDS_STR_AUDIOACTION_PLAY_START");
  EXPECT_EQ(files.Listen(5, "a.mp3"), "IDS_STR_AUDIOACTION_PLAY_START");  // one request at a time
  EXPECT_TRUE(files.OnPlayReply(5, 6));
  EXPECT_FALSE(files.DevicePlaying());
  EXPECT_EQ(view.statuses, (std::vector<std::pair<int, std::string>>{{5, "IDS_STR_ZH_CN_PLAY_FAILED"},
                                                                     {5, "IDS_STR_ZH_CN_PLAY_FAILED"}}));
  files.Listen(5, "a.mp3");
  EXPECT_FALSE(files.OnPlayReply(6, 0));
  EXPECT_TRUE(files.OnPlayReply(5, 0));
  EXPECT_TRUE(files.DevicePlaying());
  EXPECT_EQ(files.ListenCaption(), "IDS_STR_AUDIOACTION_PLAY_STOP");
  files.Listen(5, "a.mp3");
  EXPECT_TRUE(files.OnPlayReply(5, 0));
  EXPECT_FALSE(files.DevicePlaying());
  EXPECT_EQ(sdk.calls.back(), "StopPlayMp3File 5");
  EXPECT_EQ(std::count(sdk.calls.begin(), sdk.calls.end(), "PlayMp3File 5 a.mp3"), 3);
}

TEST(DeviceFilesTest, DownloadsStayBelowTheFolder) {

  for (const char* devicePath : {"C:\\rec\\..", "/a/../../etc/passwd", "..\\x", "plain.mp3"}) {
    const auto local = DeviceFileList::LocalPathFor(devicePath, "/docs");
    ASSERT_TRUE(local) << devicePath;
    const std::filesystem::path p(*local);
    EXPECT_EQ(p.parent_path(), "/docs") << devicePath;
    EXPECT_NE(p.filename(), "..");
    EXPECT_FALSE(p.filename().string().starts_with("."));
  }
  EXPECT_FALSE(DeviceFileList::LocalPathFor("C:\\rec\\", "/docs"));
}

}  // namespace
}  // namespace kelvara::media
