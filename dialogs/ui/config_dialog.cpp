#include "dialogs/ui/config_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QGroupBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimeEdit>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <functional>

namespace kelvara::dialogs {
namespace {

// The scrolling area of a page: a wheel notch (120 units) moves one line,
// and the steps follow the client size (set by the dialog on every resize).
class PageScrollArea : public QScrollArea {
 public:
  PageScrollArea(QWidget* parent, std::function<void()> onResize)
      : QScrollArea(parent), onResize_(std::move(onResize)) {}

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QScrollArea::resizeEvent(event);
    onResize_();
  }
  void wheelEvent(QWheelEvent* event) override {
    QScrollBar* bar = event->modifiers() & Qt::ShiftModifier ? horizontalScrollBar() : verticalScrollBar();
    const int notches = event->angleDelta().y() / 120;
    if (notches == 0 || !bar->isVisible()) {
      QScrollArea::wheelEvent(event);
      return;
    }
    bar->setValue(bar->value() - notches * bar->singleStep());
    event->accept();
  }

 private:
  std::function<void()> onResize_;
};

}  // namespace

ConfigDialog::ConfigDialog(int templateId, QWidget* parent) : CXDlg(templateId, parent), grid_(new QGridLayout(this)) {}

ui::UserPrompts& ConfigDialog::Prompts() {
  static ui::QtUserPrompts real;
  return prompts_ != nullptr ? *prompts_ : real;
}

void ConfigDialog::ShowMessage(const QString& text, ui::PromptIcon icon) {
  Prompts().MessageBox(this, text, QString(), icon, ui::PromptButtons::kOk);
}

void ConfigDialog::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if ((key == Qt::Key_Return || key == Qt::Key_Enter) && enter_ != EnterKey::kDefaultButton) {
    event->accept();
    if (enter_ == EnterKey::kClose) reject();
    return;
  }
  if (key == Qt::Key_Escape && swallowEscape_) {
    event->accept();
    return;
  }
  CXDlg::keyPressEvent(event);
}

void ConfigDialog::reject() { QDialog::reject(); }

void ConfigDialog::UsePage(PageScrolling scrolling) {
  scrolling_ = scrolling;
  delete grid_;
  grid_ = nullptr;
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  area_ = new PageScrollArea(this, [this] { UpdatePageSteps(); });
  area_->setFrameShape(QFrame::NoFrame);
  area_->setWidgetResizable(false);
  page_ = new QWidget;
  page_->setObjectName("ConfigPage");
  // The page and its static controls wear the dialog's background colour.
  QPalette pal = page_->palette();
  pal.setColor(QPalette::Window, BackgroundColor());
  page_->setPalette(pal);
  page_->setAutoFillBackground(true);
  area_->viewport()->setPalette(pal);
  area_->viewport()->setAutoFillBackground(true);
  area_->setWidget(page_);
  outer->addWidget(area_);
}

void ConfigDialog::SetPageSize(int width, int height) {
  if (page_ == nullptr) return;
  page_->resize(width, height);
  UpdatePageSteps();
}

void ConfigDialog::UpdatePageSteps() {
  if (area_ == nullptr) return;
  const QSize client = area_->viewport()->size();
  const struct {
    QScrollBar* bar;
    int extent;
  } bars[] = {{area_->horizontalScrollBar(), client.width()}, {area_->verticalScrollBar(), client.height()}};
  for (const auto& b : bars) {
    const int quarter = std::max(1, b.extent / 4);
    b.bar->setSingleStep(scrolling_.quarterLineStep ? quarter : kPageLineStep);
    b.bar->setPageStep(scrolling_.quarterPageStep ? quarter : std::max(1, b.extent));
    if (scrolling_.resetOnResize) b.bar->setValue(0);
  }
}

QWidget* ConfigDialog::AddGroupBox(int id, const char* key) {
  auto* box = new QGroupBox(key ? LangText(key) : QString(), Parent());
  RegisterControl(id, box);
  box->lower();  // the controls it frames stay clickable
  return box;
}

QWidget* ConfigDialog::Parent() { return page_ != nullptr ? page_ : static_cast<QWidget*>(this); }

void ConfigDialog::Place(QWidget* w, int row, int column, int rowSpan, int columnSpan) {
  if (grid_ != nullptr) grid_->addWidget(w, row, column, rowSpan, columnSpan);
}

QLabel* ConfigDialog::AddLabel(int id, const char* key, int row, int column, int span) {
  auto* w = new QLabel(key ? LangText(key) : QString(), Parent());
  if (id > 0) RegisterControl(id, w);
  Place(w, row, column, 1, span);
  return w;
}

QLineEdit* ConfigDialog::AddEdit(int id, int row, int column, int span) {
  auto* w = new QLineEdit(Parent());
  RegisterControl(id, w);
  Place(w, row, column, 1, span);
  return w;
}

QComboBox* ConfigDialog::AddCombo(int id, int row, int column, int span) {
  auto* w = new QComboBox(Parent());
  RegisterControl(id, w);
  Place(w, row, column, 1, span);
  return w;
}

QCheckBox* ConfigDialog::AddCheck(int id, const char* key, int row, int column, int span) {
  auto* w = new QCheckBox(key ? LangText(key) : QString(), Parent());
  RegisterControl(id, w);
  Place(w, row, column, 1, span);
  return w;
}

QPushButton* ConfigDialog::AddButton(int id, const char* key, int row, int column, int span) {
  auto* w = new QPushButton(key ? LangText(key) : QString(), Parent());
  // Only OK may be the default button; a page's Save never is.
  w->setAutoDefault(false);
  w->setDefault(false);
  RegisterControl(id, w);
  Place(w, row, column, 1, span);
  return w;
}

QTimeEdit* ConfigDialog::AddTime(int id, int row, int column, int span) {
  auto* w = new QTimeEdit(Parent());
  w->setDisplayFormat("HH:mm:ss");
  RegisterControl(id, w);
  Place(w, row, column, 1, span);
  return w;
}

void ConfigDialog::AddOkCancel(int row, int span, const char* okKey) {
  auto* box = new QHBoxLayout;
  auto* ok = new QPushButton(LangText(okKey), this);
  auto* cancel = new QPushButton(LangText("CANCEL"), this);
  cancel->setAutoDefault(false);
  ok->setDefault(true);
  RegisterControl(kIdOk, ok);
  RegisterControl(kIdCancel, cancel);
  box->addStretch();
  box->addWidget(ok);
  box->addWidget(cancel);
  if (grid_ != nullptr) grid_->addLayout(box, row, 0, 1, span);
  connect(ok, &QPushButton::clicked, this, [this] { OnOk(); });
  connect(cancel, &QPushButton::clicked, this, &ConfigDialog::reject);
}

void ConfigDialog::SetCaption(const char* key) {
  const QString text = LangText(key);
  if (!text.isEmpty()) SetTitleText(text);
}

void ConfigDialog::SetTitleText(const QString& title) {
  setWindowTitle(title);
  titleWidth_ = ui::TitleFitWidth(title);
}

void ConfigDialog::showEvent(QShowEvent* event) {
  CXDlg::showEvent(event);
  // A dialog narrower than its title would get the title elided by the
  // window manager ("Human a...detection"): it opens wide enough. (A
  // minimum width would override the layout's own minimum size.)
  if (width() < titleWidth_) resize(titleWidth_, height());
}

}  // namespace kelvara::dialogs
