#include "printing/qt/label_print_backend.h"

#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>
#include <QPrinterInfo>

namespace kelvara::printing {

std::unique_ptr<QPrinter> DefaultPrinterBackend::OpenPrinter() {
  const QPrinterInfo info = QPrinterInfo::defaultPrinter();
  if (info.isNull()) return nullptr;
  return std::make_unique<QPrinter>(info, QPrinter::HighResolution);
}

std::unique_ptr<QPrinter> PdfPrintBackend::OpenPrinter() {
  auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
  printer->setOutputFormat(QPrinter::PdfFormat);
  printer->setOutputFileName(path_);
  printer->setResolution(dpi_);
  printer->setPageSize(QPageSize(QPageSize::A4));
  printer->setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
  printer->setFullPage(true);
  return printer;
}

}  // namespace kelvara::printing
