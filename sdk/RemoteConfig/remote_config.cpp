// The remote-configuration library: a window in the host that names the
// device, logs in to it over its own link (remote_session.h) and then offers
// one page per configuration block the device has (config_pages.h): every
// attribute as a field, Save writing the block back with the set code,
// Refresh reading it again. All network work, and the parsing of what the
// device sends (up to 1 MiB), runs on the instance's own thread, one job at a
// time; outcomes reach the widgets by calls queued to the UI thread, and an
// instance released before an outcome arrives drops it. A block too deep or
// wide to show gets its page with the reason in the page's state.
#include "remote_config.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

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
      job(session_);
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

// The fields of the window's pages other than `except`.
std::size_t FieldsShown(QTabWidget* tabs, const QWidget* except);

// One configuration block as a page of fields. The page's widgets are built
// when it is first shown, a chunk of kChunkRows rows at a time, for at most
// kSliceMs per pass of the event loop, so that a block of thousands of
// fields never holds the UI thread long and a page never shown builds none.
// Each chunk has its own form layout and the labels one fixed width, so
// that a new chunk lays out its own rows only.
class BlockPage : public QWidget {
 public:
  static constexpr int kSliceMs = 10;
  static constexpr std::size_t kChunkRows = 64;
  static constexpr int kMaxLabelWidth = 400;  // longer labels are elided, the whole label in the tooltip

  BlockPage(int instance, const PageSpec& spec, std::shared_ptr<Worker> worker, QWidget* parent)
      : QWidget(parent), instance_(instance), spec_(spec), worker_(std::move(worker)) {
    setObjectName(QStringLiteral("RemoteConfigPage:%1").arg(spec.get));
    auto* layout = new QVBoxLayout(this);
    area_ = new QScrollArea(this);
    area_->setWidgetResizable(true);
    layout->addWidget(area_);
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
  void Show(const std::string& block, const BlockRead& read) {
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
    fields_ = *read.fields;
    NewForm();
  }

  std::size_t FieldCount() const { return fields_.size(); }

 protected:
  void showEvent(QShowEvent* event) override {
    QWidget::showEvent(event);
    if (edits_.size() < fields_.size()) slice_.start();
  }

 private:
  // An empty form for the fields, in place of the old one; its rows are
  // built while the page shows.
  void NewForm() {
    slice_.stop();
    edits_.clear();
    measured_ = 0;
    labelWidth_ = 0;
    auto* form = new QWidget;
    chunks_ = new QVBoxLayout(form);
    // The form grows to its new minimum before its chunks are placed, so
    // that the chunks already there are not squeezed and laid out again.
    chunks_->setSizeConstraint(QLayout::SetMinimumSize);
    chunks_->addStretch(1);
    area_->setWidget(form);  // the old form goes with it
    if (isVisible() && !fields_.empty()) slice_.start();
  }

  // Measures the labels first (the widest gives the label column its
  // width), then adds chunks; both until the slice's time is up.
  void BuildSlice() {
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
    QWidget* form = area_->widget();
    auto* chunk = new QWidget(form);
    auto* rows = new QFormLayout(chunk);
    rows->setContentsMargins(0, 0, 0, 0);
    chunks_->setSpacing(rows->verticalSpacing());
    const QFontMetrics metrics(font());
    const std::size_t end = std::min(fields_.size(), edits_.size() + kChunkRows);
    while (edits_.size() < end) {
      const Field& f = fields_[edits_.size()];
      const QString name = QString::fromUtf8(f.label);
      auto* label = new QLabel(metrics.elidedText(name, Qt::ElideMiddle, labelWidth_), chunk);
      label->setFixedWidth(labelWidth_);
      if (label->text() != name) label->setToolTip(name);
      auto* edit = new QLineEdit(QString::fromUtf8(f.value), chunk);
      edit->setObjectName(name);
      // Passwords are not shown on screen.
      if (name.section('.', -1).contains(QStringLiteral("password"), Qt::CaseInsensitive))
        edit->setEchoMode(QLineEdit::Password);
      rows->addRow(label, edit);
      edits_.push_back(edit);
    }
    chunks_->insertWidget(chunks_->count() - 1, chunk);  // before the stretch
  }

  void Refresh() {
    state_->setText(QStringLiteral("reading"));
    const int id = instance_;
    const std::uint32_t code = spec_.get;
    const QString name = objectName();
    worker_->Post([id, code, name](RemoteSession& s) {
      const Reply r = s.GetConfig(code);
      const BlockRead read = r.result == 0 ? remote_config::ReadBlock(r.text) : BlockRead{};
      OnUiThread(id, [r, read, name](Instance& in) {
        if (!in.tabs) return;
        if (auto* page = dynamic_cast<BlockPage*>(in.tabs->findChild<QWidget*>(name))) page->Answered(in.tabs, r, "read", read);
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
      const Reply get = text && set.result == 0 ? s.GetConfig(spec.get) : Reply{};
      const BlockRead read = get.result == 0 ? remote_config::ReadBlock(get.text) : BlockRead{};
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
        if (get.result == 0) page->ShowFitted(in.tabs, get.text, read);
      });
    });
  }

  // `read`: the block read on the worker when the answer is to be shown.
  void Answered(QTabWidget* tabs, const Reply& r, const char* done, const BlockRead& read) {
    state_->setText(ReplyText(r, done));
    if (r.result == 0) ShowFitted(tabs, r.text, read);
  }

  // Shows a block read again, within what the window's other pages leave.
  void ShowFitted(QTabWidget* tabs, const std::string& block, BlockRead read) {
    remote_config::FitInWindow(read, FieldsShown(tabs, this));
    Show(block, read);
  }

  int instance_;
  PageSpec spec_;
  std::shared_ptr<Worker> worker_;
  QScrollArea* area_;
  QLabel* state_;
  QPushButton* save_;
  QTimer slice_;
  QVBoxLayout* chunks_ = nullptr;  // of the form in the scroll area
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

}  // namespace

extern "C" int CFG_UC_Init(const char* address, int port, const char* user, const char* password,
                           const char* language, void* host, unsigned short channel) {
  if (!address || !user || !password || !language || !host || port <= 0 || port > 65535) return -1;
  auto* parent = static_cast<QWidget*>(host);
  auto* page = new QWidget(parent);
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
  worker->Start();
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
    OnUiThread(id, [id, blocks = std::move(blocks)](Instance& in) {
      if (!in.tabs) return;
      for (const Block& b : blocks) {
        auto* page = new BlockPage(id, b.spec, in.worker, in.tabs);
        page->Show(b.reply.text, b.read);
        in.tabs->addTab(page, QString::fromUtf8(b.spec.title));
      }
    });
  });
  return id;
}

extern "C" int CFG_UC_ShowModelessDlg(int instance, int left, int top, int right, int bottom) {
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

extern "C" int CFG_UC_UnInit(int instance) {
  Instance gone;
  {
    std::lock_guard<std::mutex> guard(g_lock);
    const auto it = g_instances.find(instance);
    if (it == g_instances.end()) return -1;
    gone = it->second;
    g_instances.erase(it);
  }
  gone.worker->Stop();
  if (gone.page) delete gone.page.data();
  return 0;
}
