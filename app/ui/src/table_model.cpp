#include "app/table_model.h"

#include <QDate>
#include <QLocale>

#include <algorithm>

#include "app/text_fields.h"
#include "store/table.h"

namespace qc {
namespace {

// Rows read per walk: a screen or two, so that scrolling seldom walks.
constexpr int kBlock = 64;
// Bounds of the caches; beyond them the oldest knowledge is dropped.
constexpr size_t kMaxRows = 4096;
constexpr size_t kMaxAnchors = 200000;

QString DisplayValue(const TTable& table, int field, char type) {
  const std::string text = table.AsText(field);
  if (type == 'D') {
    if (text.size() != 8) return {};
    const QDate d = QDate::fromString(QString::fromStdString(text), "yyyyMMdd");
    return d.isValid() ? QLocale().toString(d, QLocale::ShortFormat) : QString::fromStdString(text);
  }
  if (type == 'L') return text == "T" ? "True" : "False";
  return QString::fromStdString(text);
}

}  // namespace

TableModel::TableModel(TTable& table, std::vector<GridColumn> columns, QObject* parent)
    : QAbstractTableModel(parent), table_(table), shown_(std::move(columns)) {
  // The shown fields in the grid's order, then the others as the table has them.
  for (const GridColumn& c : shown_) fieldOrder_.push_back(c.field);
  for (int i = 0; i < table_.FieldCount(); ++i) {
    const std::string name = table_.Field(i).name;
    if (std::none_of(shown_.begin(), shown_.end(), [&](const GridColumn& c) { return EqualsIgnoreCase(c.field, name); }))
      fieldOrder_.push_back(name);
  }
  rebuildColumns();
}

std::vector<std::string> TableModel::FieldOrder() const { return fieldOrder_; }

void TableModel::SetFieldOrder(const std::vector<std::string>& fields) {
  beginResetModel();
  fieldOrder_ = fields;
  rebuildColumns();
  rows_.clear();  // their values are in the old column order
  endResetModel();
}

void TableModel::rebuildColumns() {
  columns_.clear();
  for (const auto& name : fieldOrder_)
    for (size_t i = 0; i < shown_.size(); ++i)
      if (EqualsIgnoreCase(name, shown_[i].field)) columns_.push_back(static_cast<int>(i));
  archivedField_ = table_.FieldIndex("ARCHIVED");
}

std::string TableModel::ColumnField(int column) const {
  if (column < 0 || column >= static_cast<int>(columns_.size())) return {};
  return shown_[static_cast<size_t>(columns_[static_cast<size_t>(column)])].field;
}

int TableModel::ColumnChars(int column) const {
  if (column < 0 || column >= static_cast<int>(columns_.size())) return 0;
  const GridColumn& c = shown_[static_cast<size_t>(columns_[static_cast<size_t>(column)])];
  if (c.chars > 0) return c.chars;
  const int f = table_.FieldIndex(c.field);
  if (f < 0) return 10;
  const FieldDef def = table_.Field(f);
  return def.type == 'D' ? 10 : def.width;
}

void TableModel::Reload() {
  beginResetModel();
  count_ = -1;
  rows_.clear();
  known_.clear();
  rowOf_.clear();
  rowsRead_ = 0;
  indicator_ = -1;
  endResetModel();
}

int TableModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() || !table_.Active()) return 0;
  if (count_ < 0) {
    const std::int64_t n = table_.QueryRecordCount();
    count_ = n < 0 ? 0 : n;
  }
  return static_cast<int>(std::min<std::int64_t>(count_, 0x7FFFFFFF));
}

int TableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

TableModel::Row TableModel::readCurrent() const {
  Row r;
  r.recno = table_.RecNo();
  r.archived = archivedField_ >= 0 && table_.AsLogical(archivedField_);
  for (int c : columns_) {
    const int f = table_.FieldIndex(shown_[static_cast<size_t>(c)].field);
    r.values << (f < 0 ? QString() : DisplayValue(table_, f, table_.Field(f).type));
  }
  ++rowsRead_;
  return r;
}

void TableModel::remember(int row, Row&& r) const {
  if (known_.size() >= kMaxAnchors) {
    known_.clear();
    rowOf_.clear();
  }
  known_[row] = r.recno;
  rowOf_[r.recno] = row;
  if (rows_.size() >= kMaxRows) rows_.clear();
  rows_[row] = std::move(r);
}

bool TableModel::fetch(int row) const {
  // A walk would post a record that is being edited.
  if (!table_.Active() || table_.State() != TableState::tsBrowse) return false;
  const int count = rowCount();
  if (row < 0 || row >= count) return false;
  const std::uint32_t saved = table_.HasRecord() ? table_.RecNo() : 0;

  const int first = std::max(0, row - kBlock / 2);
  const int last = std::min(count - 1, first + kBlock - 1);
  // Start from the nearest known row at or before `first`, or from either end.
  int start = 0;
  bool ok = false;
  auto below = known_.upper_bound(first);
  int anchorRow = -1;
  if (below != known_.begin()) {
    --below;
    anchorRow = below->first;
  }
  const int fromEnd = (count - 1) - last;
  if (anchorRow >= 0 && first - anchorRow <= fromEnd && first - anchorRow <= first) {
    ok = table_.GoTo(known_[anchorRow]) == 0;
    start = anchorRow;
  }
  if (!ok && fromEnd < first) {
    // Walk back from the last row.
    if (table_.Last() != 0 || !table_.HasRecord()) return false;
    int r = count - 1;
    for (; r > last; --r)
      if (table_.Prior() != 0 || table_.Bof()) break;
    for (; r >= first; --r) {
      if (!rows_.count(r)) remember(r, readCurrent());
      if (r == first || table_.Prior() != 0 || table_.Bof()) break;
    }
  } else {
    if (!ok) {
      if (table_.First() != 0) return false;
      start = 0;
    }
    for (int r = start; r <= last; ++r) {
      if (!table_.HasRecord() || table_.Eof()) break;
      if (r >= first && !rows_.count(r)) remember(r, readCurrent());
      if (r < last && table_.Next() != 0) break;
    }
  }
  if (saved != 0) table_.GoTo(saved);
  return rows_.count(row) != 0;
}

QVariant TableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role != Qt::DisplayRole && role != ArchivedRole && role != Qt::ForegroundRole) return {};
  auto it = rows_.find(index.row());
  if (it == rows_.end()) {
    if (!fetch(index.row())) return {};
    it = rows_.find(index.row());
  }
  const Row& r = it->second;
  if (role == ArchivedRole) return r.archived;
  if (role == Qt::ForegroundRole) return r.archived ? QVariant(QColor(Qt::red)) : QVariant();
  if (index.column() >= r.values.size()) return {};
  return r.values[index.column()];
}

QVariant TableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return section == indicator_ ? QString::fromUtf8("\u25B6") : QString();
  if (section < 0 || section >= static_cast<int>(columns_.size())) return {};
  return QString::fromUtf8(shown_[static_cast<size_t>(columns_[static_cast<size_t>(section)])].title);
}

void TableModel::SetIndicatorRow(int row) {
  const int old = indicator_;
  indicator_ = row;
  if (old >= 0) emit headerDataChanged(Qt::Vertical, old, old);
  if (row >= 0) emit headerDataChanged(Qt::Vertical, row, row);
}

std::uint32_t TableModel::RecordOfRow(int row) {
  auto it = known_.find(row);
  if (it != known_.end()) return it->second;
  if (!fetch(row)) return 0;
  it = known_.find(row);
  return it == known_.end() ? 0 : it->second;
}

bool TableModel::GoToRow(int row) {
  const std::uint32_t recno = RecordOfRow(row);
  return recno != 0 && table_.GoTo(recno) == 0;
}

int TableModel::RowOfCurrent() {
  if (!table_.Active() || !table_.HasRecord() || table_.State() != TableState::tsBrowse) return -1;
  const std::uint32_t recno = table_.RecNo();
  if (auto it = rowOf_.find(recno); it != rowOf_.end()) return it->second;
  // Count the records before it in the current order.
  int row = 0;
  while (table_.Prior() == 0 && !table_.Bof()) {
    if (auto it = rowOf_.find(table_.RecNo()); it != rowOf_.end()) {
      row += it->second + 1;
      break;
    }
    ++row;
  }
  table_.GoTo(recno);
  if (known_.size() < kMaxAnchors) {
    known_[row] = recno;
    rowOf_[recno] = row;
  }
  return row;
}

}  // namespace qc
