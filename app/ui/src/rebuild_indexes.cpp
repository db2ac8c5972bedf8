#include "app/rebuild_indexes.h"

#include <QMetaObject>
#include <QTimer>
#include <QVBoxLayout>

#include <unistd.h>

#include <stdexcept>

#include "app/dialogs.h"
#include "app/folders.h"
#include "store/fax_tables.h"
#include "store/table.h"

namespace qc {

TRebuildInd::TRebuildInd(TTable& outTable, TTable& recTable, TTable& phoneTable, QWidget* parent)
    : QDialog(parent), out_(outTable), rec_(recTable), phone_(phoneTable) {
  setObjectName("TRebuildInd");
  setWindowTitle("Rebuild Indexes");
  // No buttons: the window closes itself at the end.
  setWindowFlags(windowFlags() & ~Qt::WindowCloseButtonHint & ~Qt::WindowContextHelpButtonHint);
  Gauge1 = new QProgressBar(this);
  Gauge1->setObjectName("Gauge1");
  Gauge1->setRange(0, 100);
  Gauge1->setValue(0);
  Gauge1->setVisible(false);
  WhatAmIDoing = new QLabel(this);
  WhatAmIDoing->setObjectName("WhatAmIDoing");
  WhatAmIDoing->setMinimumWidth(380);
  WhatAmIDoing->setVisible(false);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(18, 18, 18, 18);
  layout->setSpacing(10);
  layout->addWidget(WhatAmIDoing);
  layout->addWidget(Gauge1);
  adjustSize();
}

void TRebuildInd::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (started_) return;
  started_ = true;
  // Once the window is on the screen; a failure leaves the window open with
  // its message, the user closes it.
  QTimer::singleShot(0, this, [this] {
    Guarded([this] { FormActivate(); });
    if (completed_) {
      // The close request of the program's message queue.
      QMetaObject::invokeMethod(this, &QDialog::accept, Qt::QueuedConnection);
    } else {
      setWindowFlags(windowFlags() | Qt::WindowCloseButtonHint);
      show();
    }
  });
}

void TRebuildInd::Step(const std::string& label) {
  steps_.push_back(label);
  WhatAmIDoing->setText(QString::fromStdString(label));
  ProcessMessages();
}

void TRebuildInd::Progress(int percent) {
  Gauge1->setValue(std::clamp(percent, 0, 100));
  ProcessMessages();
}

bool TRebuildInd::RebuildTable(TTable& table, const char* packLabel, const char* indexLabel,
                               const TableSchema& schema) {
  auto fail = [&](const char* what) {
    table.SetProgressHook({});
    throw std::runtime_error(std::string(what) + ": " + table.LastError());
  };
  table.SetProgressHook([this](int percent) { Progress(percent); });
  const int order = table.CurrentOrder();
  std::string orderName;
  if (order > 0) {
    TagDescription d;
    if (table.GetTagDescription(order, d) == 0) orderName = d.name;
  }
  if (table.CloseIndexes() != 0) fail("Cannot close the indexes");
  ::unlink(table.IndexPath().c_str());
  Step(packLabel);
  Gauge1->setValue(0);
  if (table.Pack() != 0) fail("Cannot remove the deleted records");
  Gauge1->setValue(0);
  Step(indexLabel);
  if (CreateTags(table, schema) != 0) fail("Cannot build the indexes");
  const int again = orderName.empty() ? 0 : table.TagNumber(orderName);
  if (table.SetOrder(again) != 0) fail("Cannot select the order");
  table.SetProgressHook({});
  Gauge1->setValue(100);
  return true;
}

void TRebuildInd::FormActivate() {
  Gauge1->setVisible(true);
  WhatAmIDoing->clear();
  WhatAmIDoing->setVisible(true);
  ProcessMessages();
  RebuildTable(out_, "Removing FAX file records marked for deletion", "Rebuilding FAX file indexes",
               kOutFaxSchema);
  RebuildTable(rec_, "Removing RECEIVE file records marked for deletion",
               "Rebuilding RECEIVE file indexes", kRecFaxSchema);
  if (OpenPhoneBookDBF(phone_, ProgramFolder(), true)) {
    RebuildTable(phone_, "Removing PHONE file records marked for deletion",
                 "Rebuilding PHONE file indexes", kPhoneBookSchema);
    phone_.Close();
  }
  completed_ = true;
}

}  // namespace qc
