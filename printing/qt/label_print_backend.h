#pragma once
// Where label pages go: the system's default printer, or (in tests and for
// previews) a PDF file.
#include <QString>
#include <memory>

class QPrinter;

namespace kelvara::printing {

class LabelPrintBackend {
 public:
  virtual ~LabelPrintBackend() = default;
  // A printer for one label page, or nullptr when there is none. The page is
  // drawn from the printer's printable area's top-left corner.
  virtual std::unique_ptr<QPrinter> OpenPrinter() = 0;
};

// The system's default printer (QPrinterInfo::defaultPrinter()) at its own
// resolution; nullptr when the system has no default printer.
class DefaultPrinterBackend final : public LabelPrintBackend {
 public:
  std::unique_ptr<QPrinter> OpenPrinter() override;
};

// A PDF file of one A4 page at `dpi`, drawn from the page's corner.
class PdfPrintBackend final : public LabelPrintBackend {
 public:
  PdfPrintBackend(QString path, int dpi) : path_(std::move(path)), dpi_(dpi) {}
  std::unique_ptr<QPrinter> OpenPrinter() override;

 private:
  QString path_;
  int dpi_;
};

}  // namespace kelvara::printing
