// A grid model over one data-set of the record store. Rows are read from the
// table as the view asks for them, a block at a time, by walking the current
// order from the nearest row already known; the table's current record is
// put back after each walk. Nothing reads the whole table except the visible
// record count.
#pragma once

#include <QAbstractTableModel>
#include <QColor>

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace qc {

class TTable;

struct GridColumn {
  const char* field;  // table field
  const char* title;
  int chars;          // display width in characters; 0: the field's own
};

class TableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  // `columns` are the shown fields; every other field of the table is kept
  // in the field order but not shown.
  TableModel(TTable& table, std::vector<GridColumn> columns, QObject* parent = nullptr);

  // Every field of the table in its present order (what Out.gco holds).
  std::vector<std::string> FieldOrder() const;
  // Reorders the fields; the shown columns follow the new order.
  void SetFieldOrder(const std::vector<std::string>& fields);
  // Field shown in `column`.
  std::string ColumnField(int column) const;
  int ColumnChars(int column) const;

  // Forget everything read so far; call after any change of the table's
  // records, order or filter.
  void Reload();

  // Row of the table's current record, -1 when there is none.
  int RowOfCurrent();
  // Makes the record of `row` the table's current record.
  bool GoToRow(int row);
  // Record number shown in `row`, 0 when unknown.
  std::uint32_t RecordOfRow(int row);
  // Row the row indicator marks.
  void SetIndicatorRow(int row);

  // Rows read from the table since the last Reload (the view asks only for
  // what it shows).
  std::int64_t RowsRead() const { return rowsRead_; }
  // True when the row of a record is archived (drawn in red).
  static constexpr int ArchivedRole = Qt::UserRole + 1;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  struct Row {
    std::uint32_t recno = 0;
    bool archived = false;
    QStringList values;
  };
  void rebuildColumns();
  bool fetch(int row) const;
  Row readCurrent() const;
  void remember(int row, Row&& r) const;

  TTable& table_;
  std::vector<GridColumn> shown_;
  std::vector<std::string> fieldOrder_;
  std::vector<int> columns_;  // index into shown_, in field order
  int archivedField_ = -1;
  mutable std::int64_t count_ = -1;
  mutable std::unordered_map<int, Row> rows_;
  mutable std::map<int, std::uint32_t> known_;  // row -> record, anchors for walks
  mutable std::unordered_map<std::uint32_t, int> rowOf_;
  mutable std::int64_t rowsRead_ = 0;
  int indicator_ = -1;
};

}  // namespace qc
