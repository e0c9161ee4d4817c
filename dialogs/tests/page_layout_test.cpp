// The pages laid out at fixed positions: where the rows go, that nothing is
// clipped or overlapped, how they scroll, and the trimming volume edits.
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include "dialogs/tests/page_layout_check.h"
#include "dialogs/ui/dialog_pages.h"
#include "dialogs/ui/dialog_time_set.h"
#include "dialogs/ui/trimming_edit.h"

namespace kelvara::dialogs {
namespace {

using test::LayoutProblems;

int ScrollBarWidth(const QWidget& w) { return w.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &w); }

void Wheel(QScrollArea* area, int delta) {
  const QPointF at(5, 5);
  QWheelEvent e(at, area->viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                Qt::NoScrollPhase, false);
  QApplication::sendEvent(area->viewport(), &e);
}

void Resize(QWidget& w, int width, int height) {
  w.resize(width, height);
  QApplication::processEvents();  // the scroll bars show on the next pass
}

void Focus(QWidget* w, QEvent::Type type) {
  QFocusEvent e(type, Qt::TabFocusReason);
  QApplication::sendEvent(w, &e);
}

TEST(PageLayout, AudioCaptureRowsWhereTheyBelong) {
  CMediaACapture d;
  d.show();
  const int width = 772 - ScrollBarWidth(d);
  EXPECT_EQ(d.Page()->width(), width);
  EXPECT_EQ(d.Control(1452)->geometry(), QRect(10, 30, width - 20, 110));
  const struct {
    int id;
    QRect at;
  } placed[] = {
      {1453, {10, 55, 160, 20}},  {4725, {180, 55, 120, 20}}, {1454, {320, 55, 40, 20}},
      {1456, {10, 80, 160, 20}},  {4726, {180, 80, 120, 20}}, {1457, {320, 80, 40, 20}},
      {4688, {10, 105, 160, 20}}, {4689, {180, 105, 120, 20}}, {1455, {260, 140, 80, 20}},
  };
  for (const auto& p : placed) EXPECT_EQ(d.Control(p.id)->geometry(), p.at) << p.id;
  EXPECT_EQ(d.Page()->height(), 180) << "the button row + 40";
  EXPECT_FALSE(d.Control(4690)->isVisible());
  EXPECT_FALSE(d.Control(4691)->isVisible());
  EXPECT_EQ(LayoutProblems(d, "audio_capture"), std::vector<std::string>{});
  // A resize lays the rows out again at the same places.
  d.resize(500, 400);
  EXPECT_EQ(d.Control(1455)->geometry(), QRect(260, 140, 80, 20));
}

TEST(PageLayout, AudioEncodeRowsInItsGroup) {
  CMediaAEncode d;
  d.show();
  EXPECT_EQ(d.Control(1416)->pos(), QPoint(10, 30));
  EXPECT_EQ(d.Control(1461)->geometry(), QRect(180, 80, 120, 20));
  EXPECT_EQ(d.Control(1456)->geometry(), QRect(260, 165, 80, 20));
  EXPECT_EQ(LayoutProblems(d, "audio_encode"), std::vector<std::string>{});
}

TEST(PageLayout, AudioPageScrollsByQuarters) {
  CMediaACapture d;
  d.show();
  Resize(d, 300, 100);
  QScrollArea* area = d.PageArea();
  QScrollBar* bar = area->verticalScrollBar();
  ASSERT_TRUE(bar->isVisible()) << "a client smaller than the content scrolls";
  const int client = area->viewport()->height();
  EXPECT_EQ(bar->singleStep(), std::max(1, client / 4));
  EXPECT_EQ(bar->pageStep(), client);
  EXPECT_EQ(bar->maximum(), d.Page()->height() - client);
  const int saveTop = d.Control(1455)->mapTo(&d, QPoint()).y();
  Wheel(area, -120);
  EXPECT_EQ(bar->value(), bar->singleStep()) << "one line per notch";
  EXPECT_EQ(d.Control(1455)->mapTo(&d, QPoint()).y(), saveTop - bar->value()) << "the controls move with it";
  Wheel(area, -120 * 50);
  EXPECT_EQ(bar->value(), bar->maximum()) << "clamped";
  EXPECT_TRUE(area->horizontalScrollBar()->isVisible());
  EXPECT_EQ(area->horizontalScrollBar()->singleStep(), std::max(1, area->viewport()->width() / 4));
}

TEST(PageLayout, VolumeEditsTrimAndTakeThreeCharacters) {
  CMediaACapture d;
  d.show();
  auto* edit = d.ControlAs<CEditExEx>(1454);
  ASSERT_NE(edit, nullptr);
  ASSERT_NE(d.ControlAs<CEditExEx>(1457), nullptr);
  Focus(edit, QEvent::FocusIn);
  edit->clear();
  QTest::keyClicks(edit, "1234");
  EXPECT_EQ(edit->text(), "123");
  edit->setText(" 7 ");
  Focus(edit, QEvent::FocusOut);
  EXPECT_EQ(edit->text(), "7");
  d.OnSave();
  EXPECT_EQ(d.xml, "<Capture Volume=\"7\" VolumePlay=\"100\" amplify=\"0\" ra_answer=\"0\" />\n");
}

TEST(PageLayout, AlarmClockScrollsAndResetsOnResize) {
  CSYSClock d;
  d.show();
  EXPECT_EQ(LayoutProblems(d, "alarm_clock"), std::vector<std::string>{});
  EXPECT_TRUE(d.Control(4715)->geometry().contains(d.Control(4703)->geometry()));
  EXPECT_GE(d.Control(1858)->y(), d.Control(4715)->geometry().bottom());
  Resize(d, 200, 120);
  QScrollArea* area = d.PageArea();
  QScrollBar* v = area->verticalScrollBar();
  QScrollBar* h = area->horizontalScrollBar();
  ASSERT_TRUE(v->isVisible());
  EXPECT_EQ(v->pageStep(), std::max(1, area->viewport()->height() / 4));
  EXPECT_EQ(v->singleStep(), ConfigDialog::kPageLineStep);
  Wheel(area, -240);
  EXPECT_EQ(v->value(), 2 * ConfigDialog::kPageLineStep);
  h->setValue(30);
  Resize(d, 210, 130);
  EXPECT_EQ(v->value(), 0);
  EXPECT_EQ(h->value(), 0);
}

TEST(PageLayout, TimeRowsFollowTheSource) {
  CSYSTimeSet d(TimeSettings{"NTP", 1200, "pool.ntp.org", 123, 3600}, {}, "en-us", nullptr);
  d.show();
  EXPECT_EQ(LayoutProblems(d, "time_ntp"), std::vector<std::string>{});
  const int saveY = d.Control(1108)->y();
  EXPECT_EQ(d.Control(1108)->size(), QSize(80, 22));
  EXPECT_EQ(d.Control(1112)->y(), saveY) << "Save ends the last row";
  EXPECT_EQ(d.Control(1108)->geometry().right() + 1, d.Control(1072)->geometry().right() + 1 - 10);
  const int ntpHeight = d.Page()->height();
  d.SetComboSel(1093, 1);
  EXPECT_EQ(LayoutProblems(d, "time_manual"), std::vector<std::string>{});
  EXPECT_EQ(d.Control(1085)->y(), d.Control(1097)->y() + 25) << "the PC time takes the server's row";
  EXPECT_EQ(d.Page()->height(), ntpHeight - 50) << "hidden rows take no room";
  EXPECT_GT(d.ControlAs<QComboBox>(1097)->view()->minimumWidth(), 0);
  // Opened in one mode and switched to the taller one: the dialog grows with
  // its page, so Save is in view without scrolling.
  CSYSTimeSet manual(TimeSettings{"MANUAL", 1200, "pool.ntp.org", 123, 3600}, {}, "en-us", nullptr);
  manual.show();
  ASSERT_EQ(manual.GetComboSel(1093), 1);
  manual.SetComboSel(1093, 0);
  QApplication::processEvents();
  EXPECT_EQ(manual.size(), manual.Page()->size());
  const QRect save(manual.Control(1108)->mapTo(&manual, QPoint(0, 0)), manual.Control(1108)->size());
  EXPECT_TRUE(manual.rect().contains(save)) << "Save in view";
}

}  // namespace
}  // namespace kelvara::dialogs
