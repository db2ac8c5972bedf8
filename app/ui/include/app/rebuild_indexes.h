// "Rebuild Indexes": removes deleted records from the three tables for good
// and builds every index tag afresh, with a gauge and a label per step. The
// window starts on its first showing and closes itself when done.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QProgressBar>

#include <string>

namespace qc {

class TTable;

class TRebuildInd : public QDialog {
  Q_OBJECT
 public:
  // Works on the main window's open fax tables and its own phone book data-set.
  TRebuildInd(TTable& outTable, TTable& recTable, TTable& phoneTable, QWidget* parent = nullptr);

  QProgressBar* Gauge1;
  QLabel* WhatAmIDoing;

  // Labels shown, in order (tests read them).
  const std::vector<std::string>& StepsShown() const { return steps_; }
  bool Completed() const { return completed_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormActivate();
  void Step(const std::string& label);
  void Progress(int percent);
  // Pack and re-index one table; false (error shown) when a step failed.
  bool RebuildTable(TTable& table, const char* packLabel, const char* indexLabel,
                    const struct TableSchema& schema);

  TTable& out_;
  TTable& rec_;
  TTable& phone_;
  bool started_ = false;
  bool completed_ = false;
  std::vector<std::string> steps_;
};

}  // namespace qc
