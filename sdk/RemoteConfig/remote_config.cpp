// The remote-configuration library: a window in the host that names the
// device, logs in to it over its own link (remote_session.h) and then offers
// one page per configuration block the device has (config_pages.h): every
// attribute as a field, Save writing the block back with the set code,
// Refresh reading it again. All network work, and the parsing of what the
// device sends (up to 1 MiB), runs on the instance's own thread, one job at a
// time; outcomes reach the widgets by calls queued to the UI thread, and an
// instance released before an outcome arrives drops it. A block too deep or
// wide to show, or past the window's bound on the fields of all pages, gets
// its page with the reason in the page's state. On the UI thread, a page's
// rows are built while it shows and deleted after it, in slices, so that
// the pages of a hostile device never hold the thread long.
#include "remote_config.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPaintEvent>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "common/c_boundary.h"
#include "config_pages.h"
#include "remote_session.h"

namespace {

using remote_config::BlockRead;
using remote_config::Field;
using remote_config::PageSpec;
using remote_config::RemoteSession;
using remote_config::Reply;

// Runs the instance's jobs on a thread of its own, in order.
class Worker : public std::enable_shared_from_this<Worker> {
 public:
  Worker(std::string address, int port, std::string user, std::string password)
      : session_(std::move(address), port, std::move(user), std::move(password)) {}
  // Throws when no thread can be made.
  void Start() {
    std::thread([self = shared_from_this()] { self->Run(); }).detach();
  }
  void Post(std::function<void(RemoteSession&)> job) {
    {
      std::lock_guard guard(mutex_);
      jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
  }
  // The thread ends after the running job, which is cut short.
  void Stop() {
    {
      std::lock_guard guard(mutex_);
      stopped_ = true;
      jobs_.clear();
    }
    session_.Abort();
    wake_.notify_one();
  }

 private:
  void Run() {
    for (;;) {
      std::function<void(RemoteSession&)> job;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return stopped_ || !jobs_.empty(); });
        if (stopped_) return;
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      // A job that throws (memory running out while a block is parsed)
      // ends alone; the thread, and the process, go on with the next.
      try {
        job(session_);
      } catch (...) {
      }
    }
  }

  RemoteSession session_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void(RemoteSession&)>> jobs_;
  bool stopped_ = false;
};

struct Instance {
  QPointer<QWidget> page;
  QPointer<QLabel> state;
  QPointer<QTabWidget> tabs;
  std::shared_ptr<Worker> worker;
};

std::mutex g_lock;
std::map<int, Instance> g_instances;
int g_next = 1;

// Runs `f` on the UI thread with the instance, if it still exists then.
void OnUiThread(int id, std::function<void(Instance&)> f) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return;
  QMetaObject::invokeMethod(
      app,
      [id, f = std::move(f)] {
        Instance copy;
        {
          std::lock_guard guard(g_lock);
          const auto it = g_instances.find(id);
          if (it == g_instances.end() || !it->second.page) return;
          copy = it->second;
        }
        f(copy);
      },
      Qt::QueuedConnection);
}

QString ReplyText(const Reply& r, const char* done) { return QString::fromStdString(ReplyStateText(r, done)); }

// How long one pass of the UI thread's event loop may build or delete rows.
constexpr int kSliceMs = 10;

// Deletes widgets a slice at a time in later passes of the UI thread's
// event loop: a page of thousands of rows deleted at once would hold the
// thread for the whole of it. A widget handed over is out of view and
// nothing else uses it any more; it stays where it is (taking it out of its
// parent would resolve fonts and focus over all of it at once). Its child
// widgets are deleted one per step, then the widget: the rows of a page
// are in chunks, each small enough to go in one step. A widget whose
// parent goes first goes with it, and what is left when the program ends
// goes with its parent.
class Reaper : public QObject {
 public:
  static void Take(QWidget* widget) {
    static QPointer<Reaper> reaper;
    if (!reaper) reaper = new Reaper(QCoreApplication::instance());
    reaper->widgets_.emplace_back(widget);
    reaper->timer_.start();
  }

 private:
  explicit Reaper(QObject* parent) : QObject(parent) {
    timer_.setSingleShot(true);
    timer_.setInterval(0);
    connect(&timer_, &QTimer::timeout, this, [this] { Slice(); });
  }

  void Slice() {
    QElapsedTimer clock;
    clock.start();
    while (!widgets_.empty() && !clock.hasExpired(kSliceMs)) {
      QWidget* w = widgets_.front();
      if (QWidget* child = w != nullptr ? FirstChildWidget(w) : nullptr) {
        delete child;
        continue;
      }
      widgets_.pop_front();
      delete w;
    }
    if (!widgets_.empty()) timer_.start();
  }

  static QWidget* FirstChildWidget(QWidget* w) {
    for (QObject* child : w->children())
      if (child->isWidgetType()) return static_cast<QWidget*>(child);
    return nullptr;
  }

  std::deque<QPointer<QWidget>> widgets_;
  QTimer timer_;
};

// The fields of the window's pages other than `except`.
std::size_t FieldsShown(QTabWidget* tabs, const QWidget* except);

// The style's spacing between two line edits in `direction`.
int EditSpacing(const QStyle* style, Qt::Orientation direction) {
  const int metric = style->pixelMetric(direction == Qt::Vertical ? QStyle::PM_LayoutVerticalSpacing
                                                                   : QStyle::PM_LayoutHorizontalSpacing);
  const int spacing = metric >= 0 ? metric : style->layoutSpacing(QSizePolicy::LineEdit, QSizePolicy::LineEdit, direction);
  return spacing >= 0 ? spacing : 6;
}

// A chunk of a page's rows: the fields' line edits, placed by the chunk, and
// their labels, painted by it in a column of one width. A label is no widget
// of its own: a page has thousands of rows, and every widget costs when the
// page is shown, hidden or deleted. A label too long for the column is
// elided in the middle and shown whole in its tooltip.
class FieldChunk : public QWidget {
 public:
  FieldChunk(int labelWidth, QWidget* parent)
      : QWidget(parent),
        labelWidth_(labelWidth),
        gap_(EditSpacing(style(), Qt::Horizontal)),
        spacing_(EditSpacing(style(), Qt::Vertical)) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  }

  void AddRow(const QString& label, QLineEdit* edit) {
    edit->setAccessibleName(label);
    if (edits_.empty()) {
      rowHeight_ = edit->sizeHint().height();
      editWidth_ = edit->sizeHint().width();
      editMinWidth_ = edit->minimumSizeHint().width();
    }
    labels_.push_back(label);
    edits_.push_back(edit);
  }
  int Spacing() const { return spacing_; }

  QSize sizeHint() const override { return {labelWidth_ + gap_ + editWidth_, Height()}; }
  QSize minimumSizeHint() const override { return {labelWidth_ + gap_ + editMinWidth_, Height()}; }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QWidget::resizeEvent(event);
    const int x = labelWidth_ + gap_;
    for (std::size_t i = 0; i < edits_.size(); ++i)
      edits_[i]->setGeometry(x, RowTop(i), std::max(0, width() - x), rowHeight_);
  }

  void paintEvent(QPaintEvent* event) override {
    QPainter painter(this);
    const QFontMetrics metrics(font());
    for (std::size_t i = RowAt(event->rect().top()); i < labels_.size() && RowTop(i) <= event->rect().bottom(); ++i)
      painter.drawText(QRect(0, RowTop(i), labelWidth_, rowHeight_), Qt::AlignLeft | Qt::AlignVCenter,
                       Elided(metrics, i) ? metrics.elidedText(labels_[i], Qt::ElideMiddle, labelWidth_) : labels_[i]);
  }

  bool event(QEvent* event) override {
    if (event->type() != QEvent::ToolTip) return QWidget::event(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const std::size_t row = RowAt(help->pos().y());
    if (help->pos().x() < labelWidth_ && row < labels_.size() && Elided(QFontMetrics(font()), row))
      QToolTip::showText(help->globalPos(), labels_[row], this);
    else
      QToolTip::hideText();
    return true;
  }

 private:
  // Measured as the page measured the labels for the column's width.
  bool Elided(const QFontMetrics& metrics, std::size_t row) const {
    return metrics.horizontalAdvance(labels_[row]) > labelWidth_;
  }
  int RowTop(std::size_t row) const { return static_cast<int>(row) * (rowHeight_ + spacing_); }
  std::size_t RowAt(int y) const { return static_cast<std::size_t>(std::max(0, y) / std::max(1, rowHeight_ + spacing_)); }
  int Height() const {
    const int rows = static_cast<int>(edits_.size());
    return rows == 0 ? 0 : rows * rowHeight_ + (rows - 1) * spacing_;
  }

  int labelWidth_, gap_, spacing_;
  int rowHeight_ = 0, editWidth_ = 0, editMinWidth_ = 0;
  std::vector<QString> labels_;
  std::vector<QLineEdit*> edits_;
};

// One configuration block as a page of fields. The page's widgets are built
// while it shows, a chunk of kChunkRows rows at a time, for at most kSliceMs
// per pass of the event loop, so that a block of thousands of fields never
// holds the UI thread long and a page never shown builds none; the rows of
// a block read again go to the Reaper. Each chunk places its own rows, the
// labels in one column of the page's widest label (at most kMaxLabelWidth),
// so that a new chunk lays out its own rows only.
class BlockPage : public QWidget {
 public:
  static constexpr std::size_t kChunkRows = 64;
  static constexpr int kMaxLabelWidth = 400;  // longer labels are elided, the whole label in the tooltip

  BlockPage(int instance, const PageSpec& spec, std::shared_ptr<Worker> worker, QWidget* parent)
      : QWidget(parent), instance_(instance), spec_(spec), worker_(std::move(worker)) {
    setObjectName(QStringLiteral("RemoteConfigPage:%1").arg(spec.get));
    auto* layout = new QVBoxLayout(this);
    area_ = new QScrollArea(this);
    area_->setWidgetResizable(true);
    layout->addWidget(area_);
    auto* form = new QWidget;
    column_ = new QVBoxLayout(form);
    // The form grows to its new minimum before its rows are placed, so that
    // the chunks already there are not squeezed and laid out again.
    column_->setSizeConstraint(QLayout::SetMinimumSize);
    column_->addStretch(1);
    area_->setWidget(form);
    auto* buttons = new QHBoxLayout;
    state_ = new QLabel(this);
    state_->setObjectName("RemoteConfigPageState");
    auto* refresh = new QPushButton(QStringLiteral("Refresh"), this);
    refresh->setObjectName("Refresh");
    save_ = new QPushButton(QStringLiteral("Save"), this);
    save_->setObjectName("Save");
    buttons->addWidget(state_, 1);
    buttons->addWidget(refresh);
    buttons->addWidget(save_);
    layout->addLayout(buttons);
    slice_.setSingleShot(true);
    slice_.setInterval(0);
    connect(&slice_, &QTimer::timeout, this, [this] { BuildSlice(); });
    connect(refresh, &QPushButton::clicked, this, [this] { Refresh(); });
    connect(save_, &QPushButton::clicked, this, [this] { Save(); });
  }

  // `read`: ReadBlock of `block`, made on the worker, and fitted in the window.
  void Show(const std::string& block, BlockRead read) {
    if (!read.fields) {
      const QString reason = QString::fromStdString(read.error);
      state_->setText(read.pastWindow       ? QStringLiteral("not shown: ") + reason
                      : read.error.empty() ? QStringLiteral("unreadable block")
                                           : QStringLiteral("unreadable block: ") + reason);
      // Fields past the window's bound are not kept either.
      if (read.pastWindow) {
        block_.clear();
        fields_.clear();
        NewForm();
      }
      return;
    }
    block_ = block;
    fields_ = std::move(*read.fields);
    NewForm();
  }

  std::size_t FieldCount() const { return fields_.size(); }

  // Ends the building and hands the rows to the Reaper.
  void DropRows() {
    slice_.stop();
    edits_.clear();
    if (rows_ == nullptr) return;
    // Hidden, they take no room in the form, and showing the page again
    // passes them by.
    rows_->hide();
    rows_->setObjectName(QString());
    Reaper::Take(rows_);
    rows_ = nullptr;
  }

 protected:
  void showEvent(QShowEvent* event) override {
    QWidget::showEvent(event);
    if (edits_.size() < fields_.size()) slice_.start();
  }
  // A hidden page builds nothing (a page handed to the Reaper is hidden).
  void hideEvent(QHideEvent* event) override {
    slice_.stop();
    QWidget::hideEvent(event);
  }

 private:
  // Empty rows for the fields, in place of the rows of the block before,
  // which go out of view and to the Reaper; the rows are built while the
  // page shows.
  void NewForm() {
    DropRows();
    measured_ = 0;
    labelWidth_ = 0;
    rows_ = new QWidget(area_->widget());
    rows_->setObjectName("RemoteConfigRows");
    chunks_ = new QVBoxLayout(rows_);
    chunks_->setContentsMargins(0, 0, 0, 0);
    chunks_->setSizeConstraint(QLayout::SetMinimumSize);
    column_->insertWidget(column_->count() - 1, rows_);  // before the stretch
    if (isVisible() && !fields_.empty()) slice_.start();
  }

  // Measures the labels first (the widest gives the label column its
  // width), then adds chunks; both until the slice's time is up.
  void BuildSlice() {
    if (!isVisible()) return;
    QElapsedTimer clock;
    clock.start();
    const QFontMetrics metrics(font());
    for (; measured_ < fields_.size() && !clock.hasExpired(kSliceMs); ++measured_)
      labelWidth_ =
          std::max(labelWidth_, std::min(kMaxLabelWidth, metrics.horizontalAdvance(QString::fromUtf8(fields_[measured_].label))));
    if (measured_ == fields_.size())
      while (edits_.size() < fields_.size() && !clock.hasExpired(kSliceMs)) AddChunk();
    if (edits_.size() < fields_.size()) slice_.start();
  }

  void AddChunk() {
    auto* chunk = new FieldChunk(labelWidth_, rows_);
    const std::size_t end = std::min(fields_.size(), edits_.size() + kChunkRows);
    while (edits_.size() < end) {
      const Field& f = fields_[edits_.size()];
      const QString name = QString::fromUtf8(f.label);
      auto* edit = new QLineEdit(QString::fromUtf8(f.value), chunk);
      edit->setObjectName(name);
      // Passwords are not shown on screen.
      if (name.section('.', -1).contains(QStringLiteral("password"), Qt::CaseInsensitive))
        edit->setEchoMode(QLineEdit::Password);
      chunk->AddRow(name, edit);
      edits_.push_back(edit);
    }
    chunks_->setSpacing(chunk->Spacing());
    chunks_->addWidget(chunk);
  }

  void Refresh() {
    state_->setText(QStringLiteral("reading"));
    const int id = instance_;
    const std::uint32_t code = spec_.get;
    const QString name = objectName();
    worker_->Post([id, code, name](RemoteSession& s) {
      // Shared, not copied: a block's fields can be megabytes.
      auto r = std::make_shared<Reply>(s.GetConfig(code));
      auto read = std::make_shared<BlockRead>(r->result == 0 ? remote_config::ReadBlock(r->text) : BlockRead{});
      OnUiThread(id, [r, read, name](Instance& in) {
        if (!in.tabs) return;
        if (auto* page = dynamic_cast<BlockPage*>(in.tabs->findChild<QWidget*>(name)))
          page->Answered(in.tabs, *r, "read", std::move(*read));
      });
    });
  }

  void Save() {
    // Fields whose rows are not built yet keep their values.
    std::vector<Field> fields = fields_;
    for (std::size_t i = 0; i < fields.size() && i < edits_.size(); ++i) fields[i].value = edits_[i]->text().toStdString();
    state_->setText(QStringLiteral("saving"));
    save_->setEnabled(false);
    const int id = instance_;
    const PageSpec spec = spec_;
    const QString name = objectName();
    worker_->Post([id, spec, name, block = block_, fields = std::move(fields)](RemoteSession& s) {
      const auto text = remote_config::ApplyFields(block, fields);
      const Reply set = text ? s.SetConfig(spec.set, *text) : Reply{};
      // What the device keeps is shown, read back after the set.
      auto get = std::make_shared<Reply>(text && set.result == 0 ? s.GetConfig(spec.get) : Reply{});
      auto read = std::make_shared<BlockRead>(get->result == 0 ? remote_config::ReadBlock(get->text) : BlockRead{});
      const bool nothing = !text;
      OnUiThread(id, [set, get, read, nothing, name](Instance& in) {
        if (!in.tabs) return;
        auto* page = dynamic_cast<BlockPage*>(in.tabs->findChild<QWidget*>(name));
        if (page == nullptr) return;
        page->save_->setEnabled(true);
        if (nothing) {
          page->state_->setText(QStringLiteral("nothing to save"));
          return;
        }
        page->state_->setText(ReplyText(set, "saved"));
        if (get->result == 0) page->ShowFitted(in.tabs, get->text, std::move(*read));
      });
    });
  }

  // `read`: the block read on the worker when the answer is to be shown.
  void Answered(QTabWidget* tabs, const Reply& r, const char* done, BlockRead read) {
    state_->setText(ReplyText(r, done));
    if (r.result == 0) ShowFitted(tabs, r.text, std::move(read));
  }

  // Shows a block read again, within what the window's other pages leave.
  void ShowFitted(QTabWidget* tabs, const std::string& block, BlockRead read) {
    remote_config::FitInWindow(read, FieldsShown(tabs, this));
    Show(block, std::move(read));
  }

  int instance_;
  PageSpec spec_;
  std::shared_ptr<Worker> worker_;
  QScrollArea* area_;
  QLabel* state_;
  QPushButton* save_;
  QTimer slice_;
  QVBoxLayout* column_;            // of the form in the scroll area: the rows, then a stretch
  QWidget* rows_ = nullptr;        // the rows of the block shown, in chunks
  QVBoxLayout* chunks_ = nullptr;  // of rows_
  std::size_t measured_ = 0;       // labels measured for labelWidth_
  int labelWidth_ = 0;             // of every label of the page
  std::string block_;
  std::vector<Field> fields_;
  std::vector<QLineEdit*> edits_;  // the rows built so far, in the fields' order
};

std::size_t FieldsShown(QTabWidget* tabs, const QWidget* except) {
  std::size_t shown = 0;
  for (int i = 0; i < tabs->count(); ++i)
    if (auto* page = dynamic_cast<BlockPage*>(tabs->widget(i)); page && page != except) shown += page->FieldCount();
  return shown;
}

// Queues the instance's login and the reading of its pages.
void Submit(int id, const std::shared_ptr<Worker>& worker) {
  worker->Post([id, worker = std::weak_ptr<Worker>(worker)](RemoteSession& s) {
    const remote_config::LoginOutcome outcome = s.Login();
    const bool ok = outcome == remote_config::LoginOutcome::kOk;
    OnUiThread(id, [outcome, ok](Instance& in) {
      if (in.state)
        in.state->setText(ok ? "logged in"
                          : outcome == remote_config::LoginOutcome::kRefused ? "login refused"
                                                                              : "login failed");
    });
    if (!ok) return;
    // Every block the device has becomes a page, in the table's order; one
    // too deep or wide to show, or past the window's bound, gets its page
    // with the reason.
    struct Block {
      PageSpec spec;
      Reply reply;
      BlockRead read;
    };
    std::vector<Block> blocks;
    std::size_t shown = 0;
    for (const PageSpec& spec : remote_config::Pages()) {
      Reply reply = s.GetConfig(spec.get);
      if (reply.result != 0) continue;
      BlockRead read = remote_config::ReadBlock(reply.text);
      // The pages take the window's fields in the table's order; a page
      // that would pass the bound gets the reason instead.
      remote_config::FitInWindow(read, shown);
      if (read.fields) shown += read.fields->size();
      if (read.fields || read.refused) blocks.push_back({spec, std::move(reply), std::move(read)});
    }
    auto shared = std::make_shared<std::vector<Block>>(std::move(blocks));
    OnUiThread(id, [id, shared](Instance& in) {
      if (!in.tabs) return;
      for (Block& b : *shared) {
        auto* page = new BlockPage(id, b.spec, in.worker, in.tabs);
        page->Show(b.reply.text, std::move(b.read));
        in.tabs->addTab(page, QString::fromUtf8(b.spec.title));
      }
    });
  });
}

int Init(const char* address, int port, const char* user, const char* password, const char* language, void* host,
         unsigned short channel) {
  if (!address || !user || !password || !language || !host || port <= 0 || port > 65535) return -1;
  auto* parent = static_cast<QWidget*>(host);
  // Owned here until the instance is made in full: a call that fails
  // part-way takes its window away again.
  std::unique_ptr<QWidget> owned_page(new QWidget(parent));
  QWidget* page = owned_page.get();
  page->setObjectName("RemoteConfigPage");
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(new QLabel(QString("%1:%2  channel %3  (%4)")
                                   .arg(QString::fromLocal8Bit(address))
                                   .arg(port)
                                   .arg(channel)
                                   .arg(QString::fromLocal8Bit(language)),
                               page));
  auto* state = new QLabel("logging in", page);
  state->setObjectName("RemoteConfigState");
  layout->addWidget(state);
  auto* tabs = new QTabWidget(page);
  tabs->setObjectName("RemoteConfigPages");
  layout->addWidget(tabs, 1);
  page->hide();
  auto worker = std::make_shared<Worker>(address, port, user, password);
  int id;
  {
    std::lock_guard<std::mutex> guard(g_lock);
    id = g_next++;
    g_instances[id] = {page, state, tabs, worker};
  }
  // No instance is left without its thread or its login job.
  try {
    worker->Start();
    Submit(id, worker);
  } catch (...) {
    {
      std::lock_guard<std::mutex> guard(g_lock);
      g_instances.erase(id);
    }
    worker->Stop();
    throw;
  }
  owned_page.release();
  return id;
}

int ShowInstance(int instance, int left, int top, int right, int bottom) {
  std::lock_guard<std::mutex> guard(g_lock);
  const auto it = g_instances.find(instance);
  if (it == g_instances.end() || !it->second.page) return -1;
  QWidget* page = it->second.page;
  if (left == 0 && top == 0 && right == 0 && bottom == 0) {
    page->hide();
  } else {
    page->setGeometry(left, top, right - left, bottom - top);
    page->show();
  }
  return 0;
}

int Release(int instance) {
  Instance gone;
  {
    std::lock_guard<std::mutex> guard(g_lock);
    const auto it = g_instances.find(instance);
    if (it == g_instances.end()) return -1;
    gone = it->second;
    g_instances.erase(it);
  }
  gone.worker->Stop();
  // Hidden at once, deleted in slices afterwards: the pages' rows first.
  if (gone.page) {
    gone.page->hide();
    try {
      if (gone.tabs)
        for (int i = 0; i < gone.tabs->count(); ++i)
          if (auto* page = dynamic_cast<BlockPage*>(gone.tabs->widget(i))) page->DropRows();
      Reaper::Take(gone.page);
    } catch (const std::bad_alloc&) {
      // No room to queue it: deleted at once instead, so nothing is left.
      delete gone.page.data();
    }
  }
  return 0;
}

}  // namespace

extern "C" int CFG_UC_Init(const char* address, int port, const char* user, const char* password,
                           const char* language, void* host, unsigned short channel) {
  return kelvara::CallAtCBoundary(0, [&] { return Init(address, port, user, password, language, host, channel); });
}

extern "C" int CFG_UC_ShowModelessDlg(int instance, int left, int top, int right, int bottom) {
  return kelvara::CallAtCBoundary(-1, [&] { return ShowInstance(instance, left, top, right, bottom); });
}

extern "C" int CFG_UC_UnInit(int instance) {
  return kelvara::CallAtCBoundary(-1, [&] { return Release(instance); });
}
