#include "dialogs/ui/dialog_ip_setting.h"

#include <arpa/inet.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "common/ping_test.h"
#include "common/ui/user_prompts.h"

namespace kelvara::dialogs {
namespace {

enum : int {
  kOk = 1, kCancel = 2, kCheck = 3, kClearGateway = 4, kClearDns1 = 5, kClearDns2 = 6,
  kDhcp = 1002, kResult = 1089,
  kLabelFrom = 1135, kLabelMask = 1136, kLabelGateway = 1137, kLabelDns1 = 1138, kLabelDns2 = 1139, kLabelEnd = 1140,
  kStart = 1141, kMask = 1142, kDns1 = 1143, kGateway = 1144, kDns2 = 1145, kEnd = 1146,
};
constexpr int kAddressFields[] = {kStart, kEnd, kMask, kGateway, kDns1, kDns2};

std::function<int(std::uint32_t)>& Probe() {
  static std::function<int(std::uint32_t)> probe = [](std::uint32_t host) { return PingTest(htonl(host)); };
  return probe;
}

ui::UserPrompts& Prompts() {
  static ui::QtUserPrompts prompts;
  return prompts;
}

}  // namespace

void CDialogIpSetting::SetProbeForTesting(std::function<int(std::uint32_t)> probe) {
  Probe() = probe ? std::move(probe) : [](std::uint32_t host) { return PingTest(htonl(host)); };
}

CDialogIpSetting::CDialogIpSetting(QWidget* parent) : CXDlg(129, parent) {
  setWindowTitle(LangText("TEXT36"));
  auto* grid = new QGridLayout(this);
  const struct {
    int label, field;
    const char* key;
    int clear;
  } rows[] = {{kLabelFrom, kStart, "IPADDR_FROM", 0}, {kLabelEnd, kEnd, "IPADDR_END", 0},
              {kLabelMask, kMask, "NETMASK", 0},      {kLabelGateway, kGateway, "GETEWAY", kClearGateway},
              {kLabelDns1, kDns1, "DNS1", kClearDns1}, {kLabelDns2, kDns2, "DNS2", kClearDns2}};
  auto* dhcp = new QCheckBox(LangText("DHCP"), this);
  RegisterControl(kDhcp, dhcp);
  grid->addWidget(dhcp, 0, 1);
  int r = 1;
  for (const auto& row : rows) {
    auto* label = new QLabel(LangText(row.key), this);
    auto* edit = new QLineEdit(this);
    edit->setInputMask(QString());
    edit->setMaxLength(15);
    RegisterControl(row.label, label);
    RegisterControl(row.field, edit);
    grid->addWidget(label, r, 0);
    grid->addWidget(edit, r, 1);
    if (row.clear) {
      auto* clear = new QPushButton(LangText("IDS_REMOVEALL"), this);
      clear->setAutoDefault(false);
      RegisterControl(row.clear, clear);
      grid->addWidget(clear, r, 2);
      connect(clear, &QPushButton::clicked, this, [edit] { edit->clear(); });
    }
    ++r;
  }
  auto* result = new QLabel(this);
  RegisterControl(kResult, result);
  grid->addWidget(result, r++, 0, 1, 3);
  auto* buttons = new QHBoxLayout;
  const std::pair<int, const char*> keys[] = {{kCheck, "CHECK"}, {kOk, "OK"}, {kCancel, "CANCEL"}};
  for (const auto& [id, key] : keys) {
    auto* b = new QPushButton(LangText(key), this);
    b->setAutoDefault(id == kOk);
    RegisterControl(id, b);
    buttons->addWidget(b);
  }
  grid->addLayout(buttons, r, 0, 1, 3);
  connect(ControlAs<QPushButton>(kOk), &QPushButton::clicked, this, &CDialogIpSetting::OnOk);
  connect(ControlAs<QPushButton>(kCancel), &QPushButton::clicked, this, &CDialogIpSetting::reject);
  connect(ControlAs<QPushButton>(kCheck), &QPushButton::clicked, this, &CDialogIpSetting::OnCheck);
  connect(dhcp, &QCheckBox::clicked, this, &CDialogIpSetting::OnDhcpClicked);
  connect(ControlAs<QLineEdit>(kStart), &QLineEdit::textEdited, this, &CDialogIpSetting::OnStartEdited);
}

CDialogIpSetting::~CDialogIpSetting() { StopCheck(); }

std::uint32_t CDialogIpSetting::Field(int id) const {
  return FieldFromText(ControlAs<QLineEdit>(id)->text().trimmed().toStdString());
}

void CDialogIpSetting::SetField(int id, std::uint32_t address) {
  ControlAs<QLineEdit>(id)->setText(QString::fromStdString(TextFromField(address, false)));
}

void CDialogIpSetting::showEvent(QShowEvent* event) {
  LoadFields();
  CXDlg::showEvent(event);
}

void CDialogIpSetting::LoadFields() {
  if (loaded_) return;
  loaded_ = true;
  EnableItem(kLabelEnd, model_.rangeMode);
  ShowItem(kLabelEnd, model_.rangeMode);
  ShowItem(kEnd, model_.rangeMode);
  const std::uint32_t start = FieldFromText(values.startAddress);
  const std::uint32_t mask = FieldFromText(values.netmask);
  SetField(kStart, start);
  SetField(kEnd, start != 0 ? model_.EndFor(start, mask) : 0);
  SetField(kMask, mask);
  SetField(kGateway, FieldFromText(values.gateway));
  SetField(kDns1, FieldFromText(values.dns1));
  SetField(kDns2, FieldFromText(values.dns2));
  SetCheck(kDhcp, values.dhcp ? 1 : 0);
  OnDhcpClicked();
}

void CDialogIpSetting::OnStartEdited() {
  const std::uint32_t start = Field(kStart);
  if (start == 0) return;
  SetField(kEnd, model_.EndFor(start, Field(kMask)));
  SetField(kGateway, IpSettingModel::GatewayFor(start));
}

void CDialogIpSetting::OnDhcpClicked() {
  values.dhcp = GetCheck(kDhcp);
  for (int id : kAddressFields) EnableItem(id, values.dhcp == 0);
}

void CDialogIpSetting::OnOk() {
  values.dhcp = GetCheck(kDhcp);
  const std::uint32_t start = Field(kStart), end = Field(kEnd), mask = Field(kMask), gateway = Field(kGateway);
  const IpSettingError error = model_.Validate(start, end, mask, gateway);
  if (error != IpSettingError::kNone) {
    lastRefusal_ = IpSettingErrorKey(error);
    Prompts().MessageBox(this, LangText(lastRefusal_.c_str()), QString(), ui::PromptIcon::kError);
    return;
  }
  lastRefusal_.clear();
  values.startAddress = TextFromField(start, false);
  values.netmask = TextFromField(mask, false);
  values.gateway = TextFromField(gateway, true);
  values.dns1 = TextFromField(Field(kDns1), true);
  values.dns2 = TextFromField(Field(kDns2), true);
  values.endAddress = TextFromField(end, false);
  StopCheck();
  cancelled = false;
  accept();
}

void CDialogIpSetting::reject() {
  StopCheck();
  CXDlg::reject();
}

void CDialogIpSetting::OnCheck() {
  if (checking_) return;
  const std::vector<std::uint32_t> addresses = model_.AddressesToCheck(Field(kStart), Field(kEnd));
  if (addresses.empty()) return;
  StopCheck();
  checking_ = true;
  EnableItem(kCheck, false);
  SetItemText(kResult, QStringLiteral("..."));
  cancel_ = std::make_shared<std::atomic<bool>>(false);
  QPointer<CDialogIpSetting> self(this);
  worker_ = std::thread([self, addresses, cancel = cancel_, probe = Probe()] {
    const AddressCheckResult result = CheckAddressesInUse(addresses, probe, *cancel);
    if (result.cancelled) return;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [self, result] {
          if (self) self->ShowCheckResult(result);
        },
        Qt::QueuedConnection);
  });
}

void CDialogIpSetting::StopCheck() {
  if (cancel_) cancel_->store(true);
  if (worker_.joinable()) worker_.join();
  checking_ = false;
}

void CDialogIpSetting::ShowCheckResult(const AddressCheckResult& result) {
  if (worker_.joinable()) worker_.join();
  checking_ = false;
  EnableItem(kCheck, true);
  noConflict = result.answered.empty();
  const QString text = LangText(noConflict ? "IP_NOCONFLICT" : "IP_CONFLICT");
  auto* label = ControlAs<QLabel>(kResult);
  label->setText(text);
  label->setStyleSheet(noConflict ? QStringLiteral("color: rgb(0, 255, 0)") : QStringLiteral("color: rgb(255, 0, 0)"));
}

QString CDialogIpSetting::ResultText() const { return ControlAs<QLabel>(kResult)->text(); }

}  // namespace kelvara::dialogs
