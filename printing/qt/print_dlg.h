#pragma once
// The tips layout dialog: every field of the device label layout, a live
// preview of the label, save, import and export.
#include <QWidget>

#include "common/ui/cxdlg.h"
#include "printing/core/label_settings_form.h"

namespace kelvara::ui {
class UserPrompts;
}

namespace kelvara::printing {

class CTipsConfig;

// The preview (template 160): the label drawn from the layout at a scale in
// pixels per millimetre.
class CTips : public QWidget {
  Q_OBJECT
 public:
  CTips(const CTipsConfig& tips, QWidget* parent);
  void SetScale(double pixelsPerMm) { scale_ = pixelsPerMm; }
  double Scale() const { return scale_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const CTipsConfig& tips_;
  double scale_ = 0;
};

class CPrintDlg : public ui::CXDlg {
  Q_OBJECT
 public:
  // `tips` is the application's live tips layout; both outlive the dialog.
  CPrintDlg(CTipsConfig& tips, ui::UserPrompts& prompts, QWidget* parent = nullptr);

  bool OnInitDialog();
  // Button 2033. Returns true when the values were stored and saved.
  bool OnSave();
  // Button 2049: a chosen layout file becomes the current layout.
  void OnImport();
  // Button 2050: the layout in memory (not unsaved edits) to a chosen file.
  void OnExport();
  // Check boxes 2041 and 2047.
  void OnCustomCheck(int checkId);

  CTips* Preview() const { return preview_; }
  // Places the preview in group 1019 and redraws it.
  void PlacePreview();

 private:
  void FillControls();
  TipsForm ReadControls() const;

  CTipsConfig& tips_;
  ui::UserPrompts& prompts_;
  CTips* preview_ = nullptr;
};

}  // namespace kelvara::printing
