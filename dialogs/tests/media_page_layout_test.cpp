// The media pages' layouts checked offscreen: every shown control inside the
// page, no text clipped, no two controls on top of each other.
#include <QApplication>
#include <gtest/gtest.h>

#include "dialogs/tests/page_layout_check.h"
#include "dialogs/ui/dialog_media_code.h"
#include "dialogs/ui/dialog_media_light.h"
#include "dialogs/ui/dialog_media_vcapture.h"

namespace kelvara::dialogs {
namespace {

using Problems = std::vector<std::string>;

// Tall enough for the whole content, so nothing lies below the window.
void ShowWhole(ui::CXDlg& page) {
  page.resize(page.width(), std::max(page.height(), page.ContentHeight()));
  page.show();
  for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
}

TEST(MediaPageLayouts, NothingClippedOrOverlapping) {
  CMediaVCapture capture(1);
  ShowWhole(capture);
  EXPECT_EQ(test::LayoutProblems(capture, "media-capture"), Problems{});
  CMediaLight light(MediaLightConfig{});
  ShowWhole(light);
  EXPECT_EQ(test::LayoutProblems(light, "media-light"), Problems{});
  CMediaCode encode;
  ShowWhole(encode);
  EXPECT_EQ(test::LayoutProblems(encode, "media-encode"), Problems{});
}

}  // namespace
}  // namespace kelvara::dialogs
