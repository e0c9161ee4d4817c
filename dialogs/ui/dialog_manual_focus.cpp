#include "dialogs/ui/dialog_manual_focus.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QFontMetrics>
#include <QPushButton>

#include "dialogs/ui/dialog_tour_date.h"

namespace kelvara::dialogs {
namespace {

struct RegionIds {
  int base, threshold, current, match;
};
constexpr RegionIds kRegions[kFocusRegions] = {
    {2082, 1010, 1012, 1013}, {1014, 1015, 1017, 1018}, {1019, 1020, 1021, 1022},
    {1023, 1024, 1025, 1026}, {1027, 1028, 1029, 1030}, {1031, 1032, 1033, 1034},
    {1035, 1036, 1037, 1038}, {1039, 1040, 1041, 1042}, {1043, 1044, 1045, 1046},
};
// The caption labels of each column of regions.
struct CaptionIds {
  int base, current, value, match;
};
constexpr CaptionIds kColumnCaptions[3] = {{2084, 2085, 2086, 2087}, {2092, 2093, 2088, 2089}, {2094, 2095, 2090, 2091}};
enum : int {
  kSets = 1016, kAllThreshold = 1011, kSetAll = 2083, kStart = 2080, kStop = 2081, kLoad = 1077, kSave = 1078,
  kSetBase = 1079, kSaveAs = 1080, kAutoRefresh = 2021, kGrid = 2022, kResult = 2096,
};
const QString kRed = "color: rgb(255, 0, 0);";
const QString kGreen = "color: rgb(0, 255, 0);";

}  // namespace

CManualFocusDlg::CManualFocusDlg(FocusHost host, std::filesystem::path folder, QWidget* parent)
    : ConfigDialog(4714, parent), host_(std::move(host)), folder_(std::move(folder)) {
  std::error_code ec;
  std::filesystem::create_directories(folder_.Folder(), ec);
  setModal(false);
  SetCaption("IDS_LENS_clarity");
  QFont small;
  small.setPointSize(20);
  for (std::size_t i = 0; i < kFocusRegions; ++i) {
    const int row = static_cast<int>(i / 3) * 3, col = static_cast<int>(i % 3) * 3;
    // Each region: its number over the row labels, the column heads (value,
    // match) over the two edit columns. The first row of regions carries the
    // captions' ids, one set per column of regions.
    const CaptionIds& ids = kColumnCaptions[i % 3];
    const bool first = i < 3;
    AddLabel(0, nullptr, row, col)->setText(QString::number(i + 1));
    AddLabel(first ? ids.value : 0, "IDS_FOCUS_VALUE", row, col + 1);
    AddLabel(first ? ids.match : 0, "IDS_FOCUS_MATCH", row, col + 2);
    const RegionIds& r = kRegions[i];
    AddLabel(first ? ids.base : 0, "IDS_FOCUS_BASE_VALUE", row + 1, col);
    AddEdit(r.base, row + 1, col + 1);
    AddEdit(r.threshold, row + 1, col + 2);
    AddLabel(first ? ids.current : 0, "IDS_FOCUS_CUR_VALUE", row + 2, col);
    AddEdit(r.current, row + 2, col + 1);
    AddEdit(r.match, row + 2, col + 2)->setReadOnly(true);
    for (int id : {r.base, r.threshold, r.current, r.match}) {
      Control(id)->setFont(small);
      // Room for seven digits in the large font, so no column cuts its values.
      Control(id)->setMinimumWidth(QFontMetrics(small).horizontalAdvance(QStringLiteral("0000000")) + 12);
    }
  }
  AddCombo(kSets, 9, 0, 3);
  AddEdit(kAllThreshold, 9, 3)->setText("90");
  connect(AddButton(kSetAll, "IDS_FOCUS_SET_ALL", 9, 4), &QPushButton::clicked, this, &CManualFocusDlg::OnSetAll);
  connect(AddButton(kStart, "IDS_FOCUS_START", 10, 0), &QPushButton::clicked, this, &CManualFocusDlg::OnStart);
  connect(AddButton(kStop, "IDS_FOCUS_EXIT", 10, 1), &QPushButton::clicked, this, &CManualFocusDlg::OnStop);
  connect(AddButton(kLoad, "IDS_FOCUS_BASE_LOAD", 10, 2), &QPushButton::clicked, this, &CManualFocusDlg::OnLoadFile);
  connect(AddButton(kSetBase, "IDS_FOCUS_BASE_SET", 10, 3), &QPushButton::clicked, this,
          &CManualFocusDlg::OnSetCurrentAsBase);
  connect(AddButton(kSave, "IDS_FOCUS_BASE_SAVE", 10, 4), &QPushButton::clicked, this, &CManualFocusDlg::OnSave);
  connect(AddButton(kSaveAs, "IDS_FOCUS_BASE_SAVETO", 10, 5), &QPushButton::clicked, this, &CManualFocusDlg::OnSaveAs);
  AddCheck(kAutoRefresh, "IDS_AUTO_REFRESH", 11, 0, 2)->setChecked(true);
  AddCheck(kGrid, "IDS_FOCUS_GRID", 11, 2, 2);
  QLabel* result = AddLabel(kResult, nullptr, 11, 4, 5);
  QFont big;
  big.setPointSize(40);
  result->setFont(big);
  result->setStyleSheet(kRed);
  connect(ControlAs<QCheckBox>(kGrid), &QCheckBox::toggled, this, [this](bool on) {
    if (host_.motionGrid) host_.motionGrid(on);
  });
  connect(ControlAs<QComboBox>(kSets), &QComboBox::activated, this, [this] { OnSetSelected(); });
  // Nothing of the page closes on Enter.
  SetKeys(EnterKey::kNothing, false);
  askName = [this](const QString& title, const QString& initial) -> std::optional<QString> {
    CDialogInputValue input(this);
    input.SetTitle(title);
    input.SetValue(initial);
    if (input.exec() != QDialog::Accepted) return std::nullopt;
    return input.GetValue();
  };
  ShowBase();
  ShowCurrent();
  BuildReferenceList();
}

void CManualFocusDlg::BuildReferenceList() {
  ResetCombo(kSets);
  for (const std::string& name : folder_.ListSets(base_)) AddComboString(kSets, QString::fromStdString(name), false);
  SetComboSel(kSets, 0);
}

void CManualFocusDlg::ReadBaseEdits() {
  for (std::size_t i = 0; i < kFocusRegions; ++i) {
    base_[i].first = FocusFieldValue(GetItemText(kRegions[i].base).toStdString(), base_[i].first);
    base_[i].second = FocusFieldValue(GetItemText(kRegions[i].threshold).toStdString(), base_[i].second);
  }
}

void CManualFocusDlg::ShowBase() {
  for (std::size_t i = 0; i < kFocusRegions; ++i) {
    SetItemUInt(kRegions[i].base, base_[i].first);
    SetItemUInt(kRegions[i].threshold, base_[i].second);
  }
}

void CManualFocusDlg::ShowCurrent() {
  for (std::size_t i = 0; i < kFocusRegions; ++i) {
    SetItemUInt(kRegions[i].current, current_[i].first);
    SetItemUInt(kRegions[i].match, current_[i].second);
    Control(kRegions[i].match)->setStyleSheet(current_[i].second < base_[i].second ? kRed : kGreen);
  }
  Control(kResult)->setStyleSheet(pass_ ? kGreen : kRed);
}

QString CManualFocusDlg::ResultText() const { return ControlAs<QLabel>(kResult)->text(); }

void CManualFocusDlg::OnStart() {
  ReadBaseEdits();
  const int handle = host_.selectedLoginHandle ? host_.selectedLoginHandle(true) : 0;
  if (handle < 1) return;
  if (host_.systemControl) host_.systemControl(handle, kSysCtrlManualFocus, BuildFocusStartRequest(base_));
}

void CManualFocusDlg::OnStop() {
  const int handle = host_.selectedLoginHandle ? host_.selectedLoginHandle(true) : 0;
  if (handle < 1) return;
  if (host_.systemControl) host_.systemControl(handle, kSysCtrlManualFocus, BuildFocusStopRequest());
}

void CManualFocusDlg::OnFocusResult(int handle, const std::string& report) {
  if (GetCheck(kAutoRefresh) == 0) return;
  const int selected = host_.selectedLoginHandle ? host_.selectedLoginHandle(false) : 0;
  if (selected < 1 || selected != handle) return;
  const auto pairs = ParseFocusText(report);
  if (!pairs) return;
  const FocusEvaluation e = EvaluateFocus(*pairs, base_);
  current_ = e.current;
  pass_ = e.pass;
  SetItemText(kResult, FocusResultText(pass_));
  // Shown from the event loop, as the values-updated message would be.
  QMetaObject::invokeMethod(this, [this] { ShowCurrent(); }, Qt::QueuedConnection);
}

void CManualFocusDlg::OnLoadFile() {
  const QString file = Prompts().OpenFileName(this, QString(), QString::fromStdString(folder_.Folder().string()),
                                              "File(*.txt);;All Files(*.*)");
  if (file.isEmpty()) return;
  const auto pairs = LoadFocusFile(file.toStdString());
  if (!pairs) {
    Prompts().MessageBox(this, LangText("STR_XML_ERROR"), "ERROR", ui::PromptIcon::kError, ui::PromptButtons::kOk);
    return;
  }
  base_ = *pairs;
  ShowBase();
}

void CManualFocusDlg::OnSetSelected() {
  if (const auto pairs = folder_.Load(GetItemText(kSets).toStdString())) {
    base_ = *pairs;
    ShowBase();
  }
}

void CManualFocusDlg::TellNotSaved(const QString& name) {
  // A name that cannot be a file name is the user's to change; a failed write is the disk's.
  const auto file = folder_.FileFor(name.toStdString());
  QString text = file ? LangText("MSG_SAVE_FAILED") : LangText("MSG_FILE_NAME_INVALID");
  const QString shown = file ? QString::fromStdString(file->string()) : name;
  if (const int at = text.indexOf(QStringLiteral("%s")); at >= 0) text.replace(at, 2, shown);
  ShowMessage(text, ui::PromptIcon::kError);
}

void CManualFocusDlg::OnSave() {
  ReadBaseEdits();
  const QString name = ControlAs<QComboBox>(kSets)->currentText();
  if (!folder_.Save(name.toStdString(), base_)) TellNotSaved(name);
}

void CManualFocusDlg::OnSaveAs() {
  const auto name = askName(LangText("MODEL"), "new");
  if (!name) return;
  ReadBaseEdits();
  // Only a name that is a safe file name as typed is used (never empty).
  if (!folder_.Save(name->toStdString(), base_)) {
    TellNotSaved(*name);
    return;
  }
  auto* sets = ControlAs<QComboBox>(kSets);
  if (sets->findText(*name, Qt::MatchExactly) < 0) sets->addItem(*name);
  sets->setCurrentIndex(sets->findText(*name, Qt::MatchExactly));
}

void CManualFocusDlg::OnSetCurrentAsBase() {
  for (std::size_t i = 0; i < kFocusRegions; ++i)
    base_[i].first = FocusFieldValue(GetItemText(kRegions[i].current).toStdString(), base_[i].first);
  ShowBase();
}

void CManualFocusDlg::OnSetAll() {
  const std::uint32_t all = FocusFieldValue(GetItemText(kAllThreshold).toStdString(), 90);
  for (FocusPair& p : base_) p.second = all;
  ShowBase();
}

}  // namespace kelvara::dialogs
