#include "app/grid_view.h"

#include <QHeaderView>

namespace qc {

void ArchivedRowDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  if (!index.data(TableModel::ArchivedRole).toBool()) return;
  const QColor colour = (option->state & QStyle::State_Selected) ? QColor(Qt::white) : QColor(Qt::red);
  option->palette.setColor(QPalette::Text, colour);
  option->palette.setColor(QPalette::HighlightedText, colour);
}

DataGrid::DataGrid(TableModel* model, QWidget* parent) : QTableView(parent), model_(model) {
  setModel(model_);
  setItemDelegate(new ArchivedRowDelegate(this));
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setShowGrid(true);
  setWordWrap(false);
  setAlternatingRowColors(false);
  horizontalHeader()->setSectionsMovable(false);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  verticalHeader()->setFixedWidth(16);
  verticalHeader()->setDefaultAlignment(Qt::AlignCenter);
  verticalHeader()->setHighlightSections(false);
  connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this, &DataGrid::currentRowMoved);
  SizeColumns();
}

void DataGrid::SizeColumns() {
  const QFontMetrics fm(font());
  const int avg = fm.averageCharWidth();
  for (int c = 0; c < model_->columnCount(); ++c) {
    const QString title = model_->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    const int byChars = model_->ColumnChars(c) * avg + 8;
    const int byTitle = fm.horizontalAdvance(title) + 12;
    setColumnWidth(c, std::max(byChars, byTitle));
  }
}

void DataGrid::currentRowMoved(const QModelIndex& current, const QModelIndex&) {
  if (syncing_ || !current.isValid()) return;
  if (model_->GoToRow(current.row())) {
    model_->SetIndicatorRow(current.row());
    if (OnRecordChange) OnRecordChange();
  }
}

void DataGrid::Reload() {
  // Widths are the grid's own, not the model's: keep them over the reset.
  std::vector<int> widths;
  for (int c = 0; c < model_->columnCount(); ++c) widths.push_back(columnWidth(c));
  syncing_ = true;
  model_->Reload();
  syncing_ = false;
  for (int c = 0; c < static_cast<int>(widths.size()) && c < model_->columnCount(); ++c)
    setColumnWidth(c, widths[static_cast<size_t>(c)]);
  Sync();
}

void DataGrid::Sync() {
  const int row = model_->RowOfCurrent();
  syncing_ = true;
  if (row < 0) {
    selectionModel()->clearCurrentIndex();
    clearSelection();
  } else {
    const QModelIndex index = model_->index(row, std::max(0, currentIndex().column()));
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(index);
  }
  model_->SetIndicatorRow(row);
  syncing_ = false;
}

}  // namespace qc
