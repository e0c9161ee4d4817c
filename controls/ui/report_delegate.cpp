#include "controls/ui/report_delegate.h"

#include <QApplication>
#include <QLineEdit>
#include <QStyle>

namespace kelvara::controls {

QWidget* ReportDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                      const QModelIndex& index) const {
  auto* edit = new QLineEdit(parent);
  const auto align = Qt::Alignment(index.data(Qt::TextAlignmentRole).toInt());
  edit->setAlignment((align & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter);
  edit->setFont(parent->font());
  return edit;
}

void ReportDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
  if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
    edit->setText(index.data(Qt::DisplayRole).toString());
    edit->selectAll();
  }
}

void ReportDelegate::setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const {
  // The editor only shows the text; the cell keeps its own.
}

void ReportDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                          const QModelIndex& index) const {
  editor->setGeometry(LabelRect(option, index));
}

QRect ReportDelegate::CheckIndicatorRect(QStyleOptionViewItem option, const QModelIndex& index) const {
  initStyleOption(&option, index);
  if (!(option.features & QStyleOptionViewItem::HasCheckIndicator)) return {};
  const QWidget* w = option.widget;
  QStyle* style = w ? w->style() : QApplication::style();
  return style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, w);
}

QRect ReportDelegate::LabelRect(QStyleOptionViewItem option, const QModelIndex& index) const {
  initStyleOption(&option, index);
  const QWidget* w = option.widget;
  QStyle* style = w ? w->style() : QApplication::style();
  return style->subElementRect(QStyle::SE_ItemViewItemText, &option, w);
}

}  // namespace kelvara::controls
