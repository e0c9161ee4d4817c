#include "common/ui/cxdlg.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QFontMetrics>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>
#include <QStyle>
#include <QWheelEvent>
#include <algorithm>

#include "common/language_table.h"

namespace kelvara::ui {
namespace {

// On a scrolling page a list, spin box or slider takes the wheel only while it
// has the focus; otherwise the wheel scrolls the page, so passing over a
// control while scrolling never changes its value.
class WheelToPage : public QObject {
 public:
  explicit WheelToPage(CXDlg* page) : QObject(page), page_(page) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Wheel) return false;
    auto* w = qobject_cast<QWidget*>(watched);
    if (w == nullptr || w->hasFocus()) return false;
    QCoreApplication::sendEvent(page_, event);
    return true;
  }

 private:
  CXDlg* page_;
};

// Extras of a row are 25 high, except lists, edits and texts: a list's given
// height is its dropped-down height on other systems (closed it is as high as
// the row's control), and edits and texts then match the row's control, 20,
// so a row's fields line up.
int ExtraHeight(const QWidget* w) {
  if (qobject_cast<const QComboBox*>(w) || qobject_cast<const QLineEdit*>(w) || qobject_cast<const QLabel*>(w))
    return 20;
  return 25;
}

}  // namespace

CXDlg::CXDlg(int template_id, QWidget* parent) : QDialog(parent), template_id_(template_id) {
  QPalette pal = palette();
  pal.setColor(QPalette::Window, BackgroundColor());
  setPalette(pal);
  setAutoFillBackground(true);
}

CXDlg::~CXDlg() {
  // The children outlive this part of the object: stop listening for their end.
  for (const auto& [id, w] : controls_) disconnect(w, &QObject::destroyed, this, nullptr);
  controls_.clear();
}

void CXDlg::RegisterControl(int id, QWidget* control) {
  if (control == nullptr) return;
  controls_[id] = control;
  control->setProperty("controlId", id);
  // A control destroyed on its own must not be found again.
  connect(control, &QObject::destroyed, this, [this, id, control] {
    auto it = controls_.find(id);
    if (it != controls_.end() && it->second == control) controls_.erase(it);
  });
}

QWidget* CXDlg::Control(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

int CXDlg::SendMessageToParent(int, long long, long long) {
  // Parents are reached through signals in Qt; only the no-parent answer stays.
  return parentWidget() == nullptr ? -1 : 0;
}

int CXDlg::ShowControls(const int* ids, int count, bool show) {
  for (int i = 0; ids != nullptr && i < count; ++i)
    if (QWidget* w = Control(ids[i])) w->setVisible(show);
  return 0;
}

int CXDlg::SetLayoutTop(int y) { return row_top_ = y; }
int CXDlg::AdvanceLayoutTop(int dy) { return row_top_ += dy; }

int CXDlg::PlaceControl(int id, int width, int x) {
  if (QWidget* w = Control(id)) {
    next_x_ = x;
    w->setGeometry(x, row_top_ - scroll_y_, width, 20);
  }
  next_x_ = x + width + 10;
  return row_top_;
}

int CXDlg::PlaceControlPair(int label_id, int control_id, int dy, int label_width, int control_width, int x) {
  PlaceControl(label_id, label_width, x);
  PlaceControl(control_id, control_width, next_x_);
  return row_top_ += dy;
}

int CXDlg::PlaceControlPairAtMargin(int label_id, int control_id, int dy, int label_width, int control_width) {
  return PlaceControlPair(label_id, control_id, dy, label_width, control_width, left_margin_);
}

int CXDlg::BeginGroupBox(int id, int x, int y) {
  QWidget* box = Control(id);
  if (box == nullptr) return 0;
  row_top_ = y;
  box->move(x, y - scroll_y_);
  group_tops_[id] = row_top_;
  row_top_ += 25;  // room for the box's caption
  return 0;
}

int CXDlg::EndGroupBox(int id, int width) {
  QWidget* box = Control(id);
  if (box == nullptr) return 0;
  auto it = group_tops_.find(id);
  const int top = it == group_tops_.end() ? row_top_ : it->second;
  box->resize(width, row_top_ - top + 10);
  row_top_ += 10;
  if (it != group_tops_.end()) group_tops_.erase(it);
  return row_top_;
}

void CXDlg::EnableRows(int start, const LayoutRow* rows, int count, bool enable) {
  for (int r = std::max(start, 0); rows != nullptr && r < count; ++r) {
    EnableItem(rows[r].control, enable);
    for (int e : rows[r].extra) EnableItem(e, enable);
  }
}

void CXDlg::HideRows(const LayoutRow* rows, int count) {
  for (int r = 0; rows != nullptr && r < count; ++r) {
    const LayoutRow& row = rows[r];
    if (row.label <= 0 && row.control <= 0 && row.extra[0] < 0 && row.extra[1] < 0) break;
    HideControl(row.label);
    HideControl(row.control);
    for (int e : row.extra) HideControl(e);
  }
}

void CXDlg::LayoutRows2(const LayoutRow* rows, int count, int label_w, int control_w, int extra1_w, int extra2_w,
                        int disable, int hide_extras) {
  for (int r = 0; rows != nullptr && r < count && rows[r].label >= 1; ++r) {
    const LayoutRow& row = rows[r];
    PlaceControlPairAtMargin(row.label, row.control, 25, label_w, control_w);
    ShowControl(row.label);
    ShowControl(row.control);
    ShowItem(row.extra[0], hide_extras < 1);
    ShowItem(row.extra[1], hide_extras < 1);
    const int y = row_top_ - 25;
    if (row.extra[0] >= 1 && Control(row.extra[0])) {
      MoveControl(row.extra[0], next_x_ + 10, y, extra1_w, ExtraHeight(Control(row.extra[0])));
      if (disable > 0) EnableItem(row.extra[0], false);
    }
    if (row.extra[1] >= 1 && Control(row.extra[1])) {
      MoveControl(row.extra[1], next_x_ + extra1_w + 20, y, extra2_w, ExtraHeight(Control(row.extra[1])));
      if (disable > 0) EnableItem(row.extra[1], false);
    }
  }
}

void CXDlg::LayoutRows5(const LayoutRow* rows, int count, int label_w, int control_w, const int extra_w[5],
                        int disable, int hide_extras) {
  for (int r = 0; rows != nullptr && r < count; ++r) {
    const LayoutRow& row = rows[r];
    if (row.label < 1 && row.control < 1 && row.extra[0] < 1) break;
    PlaceControlPairAtMargin(row.label, row.control, 25, label_w, control_w);
    ShowControl(row.label);
    ShowControl(row.control);
    const bool show_extras = hide_extras < 1;
    for (int e = 0; e < 5; ++e) ShowItem(row.extra[e], show_extras);
    const int y = row_top_ - 25;
    int x = next_x_ + 10;
    for (int e = 0; e < 5; ++e) {
      if (row.extra[e] >= 1 && Control(row.extra[e])) {
        MoveControl(row.extra[e], x, y, extra_w[e], ExtraHeight(Control(row.extra[e])));
        if (disable > 0) EnableItem(row.extra[e], false);
      }
      x += extra_w[e] + 10;
    }
  }
}

void CXDlg::SetContentSize(int width, int height) {
  content_width_ = width;
  content_height_ = height;
  if (wheel_to_page_ == nullptr) wheel_to_page_ = new WheelToPage(this);
  for (QWidget* w : findChildren<QWidget*>()) {
    if (w == scroll_bar_ || w == hscroll_bar_ || w->property("kelvaraWheelToPage").toBool()) continue;
    if (qobject_cast<QComboBox*>(w) == nullptr && qobject_cast<QAbstractSpinBox*>(w) == nullptr &&
        qobject_cast<QSlider*>(w) == nullptr)
      continue;
    // A wheel must not give such a control the focus (and so the wheel) either.
    if (w->focusPolicy() == Qt::WheelFocus) w->setFocusPolicy(Qt::StrongFocus);
    w->installEventFilter(wheel_to_page_);
    w->setProperty("kelvaraWheelToPage", true);
  }
  UpdateScrollBar();
}

void CXDlg::MoveChildren(int dx, int dy) {
  for (QObject* child : children()) {
    auto* w = qobject_cast<QWidget*>(child);
    if (w != nullptr && w != scroll_bar_ && w != hscroll_bar_ && !w->isWindow()) w->move(w->x() + dx, w->y() + dy);
  }
}

QSize CXDlg::ClientSize() const {
  // Each bar takes room from the other direction, so a bar may bring the other one.
  const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  bool vertical = content_height_ > 0 && content_height_ > height();
  bool horizontal = content_width_ > 0 && content_width_ > width() - (vertical ? bar : 0);
  vertical = content_height_ > 0 && content_height_ > height() - (horizontal ? bar : 0);
  horizontal = content_width_ > 0 && content_width_ > width() - (vertical ? bar : 0);
  return {width() - (vertical ? bar : 0), height() - (horizontal ? bar : 0)};
}

void CXDlg::ScrollTo(int y) {
  const int max_y = std::max(0, content_height_ - ClientSize().height());
  y = std::clamp(y, 0, max_y);
  const int dy = scroll_y_ - y;
  if (dy == 0) return;
  scroll_y_ = y;
  MoveChildren(0, dy);
  if (scroll_bar_ != nullptr && scroll_bar_->value() != y) scroll_bar_->setValue(y);
}

void CXDlg::ScrollToX(int x) {
  const int max_x = std::max(0, content_width_ - ClientSize().width());
  x = std::clamp(x, 0, max_x);
  const int dx = scroll_x_ - x;
  if (dx == 0) return;
  scroll_x_ = x;
  MoveChildren(dx, 0);
  if (hscroll_bar_ != nullptr && hscroll_bar_->value() != x) hscroll_bar_->setValue(x);
}

void CXDlg::UpdateScrollBar() {
  const QSize client = ClientSize();
  const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  const bool vertical = client.width() < width();
  const bool horizontal = client.height() < height();
  if (vertical && scroll_bar_ == nullptr) {
    scroll_bar_ = new QScrollBar(Qt::Vertical, this);
    connect(scroll_bar_, &QScrollBar::valueChanged, this, [this](int v) { ScrollTo(v); });
    // The thumb shows the client height; a click beside it moves the page's own step.
    connect(scroll_bar_, &QScrollBar::actionTriggered, this, [this](int action) {
      const int step = VerticalPageStep(ClientSize().height());
      if (action == QAbstractSlider::SliderPageStepAdd) scroll_bar_->setSliderPosition(scroll_y_ + step);
      if (action == QAbstractSlider::SliderPageStepSub) scroll_bar_->setSliderPosition(scroll_y_ - step);
    });
  }
  if (horizontal && hscroll_bar_ == nullptr) {
    hscroll_bar_ = new QScrollBar(Qt::Horizontal, this);
    connect(hscroll_bar_, &QScrollBar::valueChanged, this, [this](int v) { ScrollToX(v); });
  }
  const struct {
    QScrollBar* bar;
    bool shown;
    QRect geometry;
    int range, page;
  } bars[] = {
      {scroll_bar_, vertical, QRect(width() - bar, 0, bar, client.height()), content_height_ - client.height(),
       client.height()},
      {hscroll_bar_, horizontal, QRect(0, height() - bar, client.width(), bar), content_width_ - client.width(),
       client.width()},
  };
  for (const auto& b : bars) {
    if (b.bar == nullptr) continue;
    if (!b.shown) {
      b.bar->hide();
      continue;
    }
    b.bar->setGeometry(b.geometry);
    b.bar->setRange(0, b.range);
    b.bar->setPageStep(b.page);
    b.bar->setSingleStep(b.bar == scroll_bar_ ? VerticalLineStep(client.height()) : 25);
    b.bar->show();
    b.bar->raise();
  }
  // Offsets beyond the new ranges (or any offset once a bar is gone) come back.
  ScrollTo(vertical ? scroll_y_ : 0);
  ScrollToX(horizontal ? scroll_x_ : 0);
}

void CXDlg::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  if (content_height_ > 0 || content_width_ > 0 || scroll_bar_ != nullptr || hscroll_bar_ != nullptr)
    UpdateScrollBar();
}

void CXDlg::wheelEvent(QWheelEvent* event) {
  const QPoint delta = event->angleDelta();
  if (delta.x() != 0 && hscroll_bar_ != nullptr && !hscroll_bar_->isHidden()) {
    ScrollToX(scroll_x_ - delta.x() / 120 * 25);
    event->accept();
    return;
  }
  if (delta.y() != 0 && scroll_bar_ != nullptr && !scroll_bar_->isHidden()) {
    ScrollTo(scroll_y_ - delta.y() / 120 * 25);
    event->accept();
    return;
  }
  QDialog::wheelEvent(event);
}

void CXDlg::mousePressEvent(QMouseEvent* event) {
  // A click on the background takes the focus, so the wheel scrolls the page.
  setFocus(Qt::MouseFocusReason);
  QDialog::mousePressEvent(event);
}

void CXDlg::ShowControl(int id) { ShowItem(id, true); }
void CXDlg::HideControl(int id) {
  if (id >= 0) ShowItem(id, false);
}
void CXDlg::ShowControlPair(int id1, int id2) {
  ShowControl(id1);
  ShowControl(id2);
}
void CXDlg::HideControlPair(int id1, int id2) {
  HideControl(id1);
  HideControl(id2);
}
void CXDlg::ShowItem(int id, bool show) {
  if (QWidget* w = Control(id)) w->setVisible(show);
}
void CXDlg::EnableItem(int id, bool enable) {
  if (id < 0) return;
  if (QWidget* w = Control(id)) w->setEnabled(enable);
}
int CXDlg::EnableControl(int id, bool enable) {
  QWidget* w = Control(id);
  if (w == nullptr) return 0;
  const int was_disabled = w->isEnabled() ? 0 : 1;
  w->setEnabled(enable);
  return was_disabled;
}
void CXDlg::MoveControl(int id, int x, int y, int width, int height, bool repaint) {
  if (QWidget* w = Control(id)) {
    w->setGeometry(x, y, width, height);
    if (repaint) w->update();
  }
}

int CXDlg::IsPushButton(int id) const {
  QWidget* w = Control(id);
  if (w == nullptr || id == 1051) return 0;
  return qobject_cast<QPushButton*>(w) != nullptr ? 1 : 0;
}

void CXDlg::CenterEditText(int id) {
  auto* edit = ControlAs<QLineEdit>(id);
  if (edit == nullptr) return;
  // A line edit lays its single line out in the vertical middle once asked to.
  edit->setAlignment((edit->alignment() & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter);
}

static void SetWidgetText(QWidget* w, const QString& text) {
  if (auto* b = qobject_cast<QAbstractButton*>(w)) b->setText(text);
  else if (auto* l = qobject_cast<QLabel*>(w)) l->setText(text);
  else if (auto* e = qobject_cast<QLineEdit*>(w)) e->setText(text);
  else if (auto* g = qobject_cast<QGroupBox*>(w)) g->setTitle(text);
  else if (auto* c = qobject_cast<QComboBox*>(w)) c->setEditText(text);
  else if (w != nullptr) w->setWindowTitle(text);
}

void CXDlg::SetItemText(int id, const QString& text) { SetWidgetText(Control(id), text); }
void CXDlg::SetItemTextA(int id, const char* local_text) {
  // Device texts reach the window already converted to UTF-8 at the edge.
  SetItemText(id, local_text == nullptr ? QString() : QString::fromUtf8(local_text));
}
void CXDlg::SetItemUInt(int id, unsigned value) { SetItemText(id, QString::number(value)); }
void CXDlg::SetItemLangText(int id, const char* key) { SetItemText(id, LangText(key)); }
int CXDlg::SetItemLangTextIfAny(int id, const char* key) {
  const QString text = LangText(key);
  if (!text.isEmpty()) SetItemText(id, text);
  return 0;
}
QString CXDlg::LangText(const char* key) {
  return QString::fromStdString(LanguageTable::Instance().GetLanguageString(key));
}

QString CXDlg::GetItemText(int id) const {
  QWidget* w = Control(id);
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
  if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
  if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentText();
  return w == nullptr ? QString() : w->windowTitle();
}

void CXDlg::SetCheck(int id, int value) {
  if (auto* b = ControlAs<QAbstractButton>(id)) b->setChecked(value > 0);
}
int CXDlg::GetCheck(int id) const {
  auto* b = ControlAs<QAbstractButton>(id);
  return b != nullptr && b->isChecked() ? 1 : 0;
}

void CXDlg::ResetCombo(int id) {
  if (auto* c = ControlAs<QComboBox>(id)) c->clear();
}
void CXDlg::AddComboString(int id, const QString& text, bool select) {
  if (auto* c = ControlAs<QComboBox>(id)) {
    c->addItem(text);
    if (select) c->setCurrentIndex(c->count() - 1);
  }
}
void CXDlg::AddComboLangString(int id, const char* key, bool select) { AddComboString(id, LangText(key), select); }
void CXDlg::AddComboItem(int id, const QString& text, long long data, bool select) {
  if (auto* c = ControlAs<QComboBox>(id)) {
    c->addItem(text, QVariant::fromValue<qlonglong>(data));
    if (select) c->setCurrentIndex(c->count() - 1);
  }
}
void CXDlg::AddComboLangItem(int id, const char* key, long long data, bool select) {
  AddComboItem(id, LangText(key), data, select);
}
int CXDlg::GetComboCount(int id) const {
  auto* c = ControlAs<QComboBox>(id);
  return c == nullptr ? 0 : c->count();
}
int CXDlg::GetComboSel(int id) const {
  auto* c = ControlAs<QComboBox>(id);
  return c == nullptr ? 0 : c->currentIndex();
}
int CXDlg::SetComboSel(int id, int index) {
  auto* c = ControlAs<QComboBox>(id);
  if (c == nullptr) return -1;
  if (index < 0 || index >= c->count()) {
    c->setCurrentIndex(-1);
    return -1;
  }
  c->setCurrentIndex(index);
  return index;
}
long long CXDlg::GetComboSelData(int id) const {
  auto* c = ControlAs<QComboBox>(id);
  if (c == nullptr || c->currentIndex() < 0) return 0;
  return c->currentData().toLongLong();
}
void CXDlg::SelectComboByData(int id, long long data) {
  auto* c = ControlAs<QComboBox>(id);
  if (c == nullptr) return;
  for (int i = 0; i < c->count(); ++i)
    if (c->itemData(i).toLongLong() == data) {
      c->setCurrentIndex(i);
      return;
    }
}
int CXDlg::SelectComboByText(int id, const QString& text) {
  auto* c = ControlAs<QComboBox>(id);
  if (c == nullptr) return -1;
  const int i = c->findText(text, Qt::MatchExactly);
  if (i >= 0) c->setCurrentIndex(i);
  return 0;
}
void CXDlg::DeleteSelectedComboItem(int id) {
  auto* c = ControlAs<QComboBox>(id);
  if (c == nullptr || c->currentIndex() <= 0) return;
  c->removeItem(c->currentIndex());
  if (c->count() > 0) c->setCurrentIndex(0);
}
void CXDlg::DeleteComboString(int id, const QString& text) {
  auto* c = ControlAs<QComboBox>(id);
  if (c == nullptr) return;
  const int i = c->findText(text, Qt::MatchExactly);
  if (i < 1) return;
  const bool was_selected = c->currentIndex() == i;
  c->removeItem(i);
  if (was_selected && c->count() > 0) c->setCurrentIndex(0);
}
void CXDlg::InitSlider(int id, int minimum, int maximum, int position) {
  if (auto* s = ControlAs<QSlider>(id)) {
    s->setRange(minimum, maximum);
    s->setValue(position);
  }
}
void CXDlg::SetSliderPos(int position, int slider_id, int number_id) {
  if (auto* s = ControlAs<QSlider>(slider_id)) s->setValue(position);
  SetItemText(number_id, QString::number(position));
}
int CXDlg::GetSliderPos(int id) const {
  auto* s = ControlAs<QSlider>(id);
  return s == nullptr ? 0 : s->value();
}
int CXDlg::SetButtonBkColor(QWidget* button) {
  if (button == nullptr) return -1;
  QPalette pal = button->palette();
  pal.setColor(QPalette::Button, BackgroundColor());
  button->setPalette(pal);
  button->setAutoFillBackground(true);
  return 0;
}

int TitleFitWidth(const QString& title) {
  // The title bar's font is the window manager's: the application's title
  // font is the nearest guess, with room for the frame's icon and buttons.
  const QFontMetrics metrics(QApplication::font("QMdiSubWindowTitleBar"));
  return metrics.horizontalAdvance(title) + 160;
}

}  // namespace kelvara::ui
