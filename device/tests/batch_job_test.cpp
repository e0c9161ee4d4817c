// The batch job against a recording SDK: one terminal state per taken row,
// replies matched by handle and command, time-outs on an injected clock.
#include "device/core/batch_job.h"

#include <gtest/gtest.h>

#include <map>

#include "device/core/command_codes.h"
#include "device/tests/command_fixture.h"

namespace kelvara::device::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class BatchJobTest : public CommandFixture {
 protected:
  // Six devices: accepted, offline, not logged in, error result, replies
  // dropped, unchecked; each with its own handle.
  void SetUpSix() {
    const char* serials[] = {"S-OK", "S-OFF", "S-NOLOGIN", "S-ERR", "S-DROP", "S-UNCHECKED"};
    int handle = 101;
    for (const char* s : serials) {
      discovery::test::FakeDevice d;
      d.serial = s;
      d.ip = "10.77.1." + std::to_string(handle - 90);
      rowsBySerial[s] = &AddRow(d, handle++);
    }
    rowsBySerial["S-OFF"]->m_online = false;
    rows.SetLoginHandle(*rowsBySerial["S-NOLOGIN"], 0);
  }
  std::vector<discovery::DeviceListRow*> Checked(std::initializer_list<const char*> serials) {
    std::vector<discovery::DeviceListRow*> out;
    for (const char* s : serials) out.push_back(rowsBySerial.at(s));
    return out;
  }
  std::unique_ptr<BatchJob> MakeJob(BatchCommand command) {
    auto job = std::make_unique<BatchJob>(
        std::move(command), [this](const std::string& serial) { return rows.FindByKey(serial); }, 5000ms,
        [this] { return now; });
    job->onState = [this](discovery::DeviceListRow* row, BatchState s) {
      if (row) shown[row->m_key].push_back(s);
    };
    job->onFinished = [this](const BatchSummary& s) {
      ++finishedCalls;
      finalSummary = s;
    };
    return job;
  }
  BatchCommand SetCommand(int code, const std::string& text) {
    BatchCommand c;
    c.replyCode = code;
    c.send = [this, code, text](discovery::DeviceListRow& row) {
      return sdk.SetDVRConfig(row.m_loginHandle, code, text);
    };
    return c;
  }
  BatchState StateOf(const BatchJob& job, const std::string& serial) {
    for (const auto& e : job.Entries())
      if (e.serial == serial) return e.state;
    ADD_FAILURE() << serial << " not taken";
    return BatchState::kPending;
  }

  std::map<std::string, discovery::DeviceListRow*> rowsBySerial;
  std::map<std::string, std::vector<BatchState>> shown;
  Clock::time_point now{};
  int finishedCalls = 0;
  BatchSummary finalSummary;
};

TEST_F(BatchJobTest, SixDevicesEachEndInOneTerminalStateWithTheRightFrames) {
  SetUpSix();
  const std::string text = "<REQUEST_PARAM Maintenance=\"1\"/>";
  auto job = MakeJob(SetCommand(SET_CFG_TIMED_MAINTENANCE, text));
  job->Start(Checked({"S-OK", "S-OFF", "S-NOLOGIN", "S-ERR", "S-DROP"}));

  // Requests only to the online, logged-in rows, in list order.
  const std::vector<SdkCall> expected = {{"SetDVRConfig", 101, SET_CFG_TIMED_MAINTENANCE, text},
                                         {"SetDVRConfig", 104, SET_CFG_TIMED_MAINTENANCE, text},
                                         {"SetDVRConfig", 105, SET_CFG_TIMED_MAINTENANCE, text}};
  EXPECT_EQ(sdk.calls, expected);
  EXPECT_FALSE(job->Finished());

  // A reply of another command or handle is not the job's.
  EXPECT_FALSE(job->OnReply(101, GET_CFG_VIDEO_CAPTURE, 0));
  EXPECT_FALSE(job->OnReply(106, SET_CFG_TIMED_MAINTENANCE, 0));
  EXPECT_TRUE(job->OnReply(101, SET_CFG_TIMED_MAINTENANCE, 0));
  EXPECT_FALSE(job->OnReply(101, SET_CFG_TIMED_MAINTENANCE, 0));  // once only
  EXPECT_TRUE(job->OnReply(104, SET_CFG_TIMED_MAINTENANCE, 3));
  now += 4999ms;
  job->OnTick();
  EXPECT_FALSE(job->Finished());
  now += 1ms;
  job->OnTick();
  ASSERT_TRUE(job->Finished());

  const std::map<std::string, BatchState> want = {{"S-OK", BatchState::kDone},
                                                  {"S-OFF", BatchState::kSkippedOffline},
                                                  {"S-NOLOGIN", BatchState::kNotLoggedIn},
                                                  {"S-ERR", BatchState::kFailed},
                                                  {"S-DROP", BatchState::kTimedOut}};
  for (const auto& [serial, state] : want) {
    EXPECT_EQ(StateOf(*job, serial), state) << serial;
    EXPECT_EQ(shown[serial], std::vector<BatchState>{state}) << serial;  // shown once
  }
  EXPECT_TRUE(shown["S-UNCHECKED"].empty());
  EXPECT_EQ(finishedCalls, 1);
  EXPECT_EQ(finalSummary.Total(), 5);
  EXPECT_EQ(finalSummary.Count(BatchState::kDone), 1);
  EXPECT_EQ(BatchSummaryText(finalSummary, [](const char* k) { return std::string(k); }),
            "BATCH_STATE_OFFLINE 1, BATCH_STATE_NOT_LOGGED_IN 1, BATCH_STATE_DONE 1, BATCH_STATE_FAILED 1, "
            "BATCH_STATE_TIMED_OUT 1");
}

TEST_F(BatchJobTest, GetWhoseReplyStartsSeveralSetsEndsWithAllTheirReplies) {
  SetUpSix();
  BatchCommand get;
  get.replyCode = 800;
  get.send = [this](discovery::DeviceListRow& row) { return sdk.GetDVRConfig(row.m_loginHandle, 800); };
  auto job = MakeJob(std::move(get));
  job->Start(Checked({"S-OK", "S-ERR"}));
  // Each get's reply starts three sets before the job sees the reply.
  for (int h : {101, 104}) {
    for (int code : {829, 822, 827}) job->OnRequestSent(h, code);
    EXPECT_TRUE(job->OnReply(h, 800, 0));
  }
  EXPECT_EQ(StateOf(*job, "S-OK"), BatchState::kPending);
  EXPECT_TRUE(job->OnReply(101, 829, 0));
  EXPECT_TRUE(job->OnReply(101, 822, 0));
  EXPECT_EQ(StateOf(*job, "S-OK"), BatchState::kPending) << "827 still out";
  EXPECT_FALSE(job->OnReply(101, 829, 0)) << "answered once";
  EXPECT_TRUE(job->OnReply(101, 827, 0));
  EXPECT_EQ(StateOf(*job, "S-OK"), BatchState::kDone);
  // One set refused by the device fails the row at once; the rest change nothing.
  EXPECT_TRUE(job->OnReply(104, 822, 3));
  EXPECT_EQ(StateOf(*job, "S-ERR"), BatchState::kFailed);
  EXPECT_FALSE(job->OnReply(104, 829, 0));
  EXPECT_EQ(shown["S-ERR"], std::vector<BatchState>{BatchState::kFailed});
  EXPECT_EQ(finishedCalls, 1);

  // A get answered well that starts no set changed nothing: failed.
  BatchCommand lone;
  lone.replyCode = 800;
  lone.setFollowsGet = true;
  lone.send = [this](discovery::DeviceListRow& row) { return sdk.GetDVRConfig(row.m_loginHandle, 800); };
  auto unread = MakeJob(std::move(lone));
  unread->Start(Checked({"S-OK", "S-ERR"}));
  unread->OnRequestSent(104, 829);
  EXPECT_TRUE(unread->OnReply(101, 800, 0));
  EXPECT_TRUE(unread->OnReply(104, 800, 0));
  EXPECT_EQ(StateOf(*unread, "S-OK"), BatchState::kFailed);
  EXPECT_EQ(StateOf(*unread, "S-ERR"), BatchState::kPending);
  EXPECT_TRUE(unread->OnReply(104, 829, 0));
  EXPECT_EQ(StateOf(*unread, "S-ERR"), BatchState::kDone);
}

TEST_F(BatchJobTest, RefusedLinkLostAndListClearEndTheWaitingRows) {
  SetUpSix();
  sdk.failCode = SET_CFG_TIMED_MAINTENANCE;
  auto refused = MakeJob(SetCommand(SET_CFG_TIMED_MAINTENANCE, "x"));
  refused->Start(Checked({"S-OK"}));
  EXPECT_EQ(StateOf(*refused, "S-OK"), BatchState::kRefused);
  EXPECT_EQ(finishedCalls, 1);

  sdk.failCode = -1;
  auto job = MakeJob(SetCommand(SET_CFG_TIME, "t"));
  job->Start(Checked({"S-OK", "S-ERR", "S-DROP"}));
  job->OnLinkLost(104);
  EXPECT_EQ(StateOf(*job, "S-ERR"), BatchState::kLinkLost);
  EXPECT_FALSE(job->OnReply(104, SET_CFG_TIME, 0));  // too late: stays link lost
  rows.Clear();
  job->OnRowsCleared();
  EXPECT_EQ(StateOf(*job, "S-OK"), BatchState::kLinkLost);
  EXPECT_EQ(StateOf(*job, "S-DROP"), BatchState::kLinkLost);
  EXPECT_TRUE(job->Finished());
  EXPECT_EQ(finishedCalls, 2);
  job->OnTick();  // nothing left to time out
  EXPECT_EQ(job->Summary().Count(BatchState::kLinkLost), 3);
}

TEST_F(BatchJobTest, AcceptedBroadcastAndBusyShapes) {
  SetUpSix();
  rowsBySerial["S-ERR"]->m_busy = true;

  BatchCommand reboot;
  reboot.answer = BatchCommand::Answer::kAccepted;
  reboot.skipBusy = true;
  reboot.send = [this](discovery::DeviceListRow& row) { return sdk.RebootDVR(row.m_loginHandle); };
  auto job = MakeJob(reboot);
  job->Start(Checked({"S-OK", "S-ERR"}));
  EXPECT_EQ(StateOf(*job, "S-OK"), BatchState::kDone);
  EXPECT_EQ(StateOf(*job, "S-ERR"), BatchState::kSkippedBusy);
  EXPECT_EQ(sdk.calls, (std::vector<SdkCall>{{"RebootDVR", 101, 0, ""}}));

  // A broadcast needs neither a login nor an online row, and ends as sent.
  std::vector<std::string> broadcastTo;
  BatchCommand bd;
  bd.answer = BatchCommand::Answer::kBroadcast;
  bd.send = [&](discovery::DeviceListRow& row) {
    broadcastTo.push_back(row.m_key);
    return 0;
  };
  auto bdJob = MakeJob(bd);
  bdJob->Start(Checked({"S-OFF", "S-NOLOGIN"}));
  EXPECT_EQ(broadcastTo, (std::vector<std::string>{"S-OFF", "S-NOLOGIN"}));
  EXPECT_EQ(bdJob->Summary().Count(BatchState::kSent), 2);

  // Nothing checked: finished at once with an empty summary.
  auto empty = MakeJob(reboot);
  const int before = finishedCalls;
  empty->Start({});
  EXPECT_TRUE(empty->Finished());
  EXPECT_EQ(finishedCalls, before + 1);
  EXPECT_EQ(empty->Summary().Total(), 0);
}

}  // namespace
}  // namespace kelvara::device::test
