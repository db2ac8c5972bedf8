// A read-only grid bound to a TableModel: moving the grid's current row moves
// the table's current record, and Sync() puts the grid back on the table's
// current record after the table changed.
#pragma once

#include <QStyledItemDelegate>
#include <QTableView>

#include <functional>

#include "app/table_model.h"

namespace qc {

// Archived rows in red, white while selected.
class ArchivedRowDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

class DataGrid : public QTableView {
  Q_OBJECT
 public:
  DataGrid(TableModel* model, QWidget* parent = nullptr);

  TableModel* Model() const { return model_; }
  // Reloads the model and moves the grid to the table's current record.
  void Reload();
  // Moves the grid to the table's current record.
  void Sync();
  // Column widths from each column's display width in characters.
  void SizeColumns();
  // Called when the table's current record changed through the grid.
  std::function<void()> OnRecordChange;

 private:
  void currentRowMoved(const QModelIndex& current, const QModelIndex& previous);

  TableModel* model_;
  bool syncing_ = false;
};

}  // namespace qc
