// The library's exports with their allocations made to fail one after
// another: each failed call returns its failure value, no exception leaves the
// library, a failed Init leaves no window in the host and no instance, and the
// library works on afterwards. Only the library's own allocations fail: Qt's
// widgets are not made to survive an allocation failing inside them. The
// instance logs in to a loopback port nobody serves.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QWidget>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "kelvara_test/alloc_failure.h"
#include "kelvara_test/export_sweep.h"
#include "remote_config.h"

namespace {

using kelvara::test::AllocationSweep;
using kelvara::test::SweepAllocationFailures;

// Any address inside the library: its code alone has allocations fail.
const void* const kLibrary = reinterpret_cast<const void*>(&CFG_UC_Init);

using Export = kelvara::test::ExportCase;

void SweepAll(const std::vector<Export>& calls) { kelvara::test::SweepExports(calls, kLibrary); }

int Pages(const QWidget& host) { return host.findChildren<QWidget*>("RemoteConfigPage").size(); }

TEST(RemoteConfigAllocationFailures, AFailedInitLeavesNothingAndTheInstanceWorks) {
  QWidget host;
  int instance = 0;
  const AllocationSweep init = SweepAllocationFailures(
      [&] { return instance = CFG_UC_Init("127.0.0.1", 9, "admin", "a long password!", "en", &host, 0); }, 0, 400,
      [&] { EXPECT_EQ(Pages(host), 0); }, kLibrary);
  EXPECT_EQ(init.escaped, 0) << init.first_escape;
  EXPECT_EQ(init.wrong_results, 0);
  ASSERT_TRUE(init.completed);
  if (init.escaped != 0) std::printf("exports an exception left: CFG_UC_Init\n");
  ASSERT_GT(instance, 0);
  EXPECT_EQ(Pages(host), 1);
  // The instances of the failed calls were not kept: their numbers are unknown.
  for (int i = 1; i < instance; ++i) EXPECT_EQ(CFG_UC_ShowModelessDlg(i, 0, 0, 0, 0), -1) << i;
  SweepAll({{"CFG_UC_ShowModelessDlg", [&] { return CFG_UC_ShowModelessDlg(instance, 0, 0, 320, 240); }, -1, 0}});
  // A release finishes whatever fails in it: without room to delete the
  // window later it is deleted at once, and the call returns 0; the next
  // call finds the instance gone.
  SweepAll({{"CFG_UC_UnInit", [&] { return CFG_UC_UnInit(instance); }, 0, -1}});
  for (int i = 0; i < 200 && Pages(host) != 0; ++i) QCoreApplication::processEvents();
  EXPECT_EQ(Pages(host), 0);
}

}  // namespace
