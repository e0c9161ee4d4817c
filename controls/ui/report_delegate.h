#pragma once
// Paints report cells and provides the in-place editor: a line edit over the
// cell's label that shows the text for selecting and copying. Typed changes
// are never written back to the cell.
#include <QStyledItemDelegate>

namespace kelvara::controls {

class ReportDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override;
  void setEditorData(QWidget* editor, const QModelIndex& index) const override;
  void setModelData(QWidget* editor, QAbstractItemModel* model,
                    const QModelIndex& index) const override;
  void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const override;

  // Where a cell's check box and its text label lie, for hit tests and the
  // editor. `option` carries the cell rectangle and the view's settings.
  QRect CheckIndicatorRect(QStyleOptionViewItem option, const QModelIndex& index) const;
  QRect LabelRect(QStyleOptionViewItem option, const QModelIndex& index) const;
};

}  // namespace kelvara::controls
