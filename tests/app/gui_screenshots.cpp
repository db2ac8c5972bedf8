// Writes the screenshots of docs/screenshots/: the main window with both
// lists, the phone book and the index rebuild window, over sample records.
// Run under a display (xvfb-run) as: gui_screenshots <folder>
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTimer>

#include <cstdio>

#include "app/dialogs.h"
#include "app/grid_view.h"
#include "app/main_screen.h"
#include "app/phone_book.h"
#include "app/rebuild_indexes.h"
#include "gui_support.h"

using namespace qc;
using namespace qc::test;

namespace {

void Save(QWidget* w, const QString& file) {
  QCoreApplication::processEvents();
  if (!w->grab().save(file)) std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
  else std::printf("%s\n", qPrintable(file));
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QString out = argc > 1 ? argv[1] : "docs/screenshots";
  QDir().mkpath(out);
  GuiFolder folder;
  AddRecords(true, {
      {{"DATESENT", "20261207"}, {"TIMESENT", "09:14"}, {"PHONE", "+44 20 7946 0018"}, {"RECIPIENT", "Harbour Insurance"},
       {"SUBJECT", "Claim 4471 - signed form"}, {"LASTRESULT", "Sent"}, {"FAXDOC", "FAX00001.APF"}, {"CODES", "CL-4471"}},
      {{"DATESENT", "20261208"}, {"TIMESENT", "16:02"}, {"PHONE", "555-0142"}, {"RECIPIENT", "Dr. Elena Ruiz"},
       {"SUBJECT", "Lab results, week 49"}, {"LASTRESULT", "Sent"}, {"FAXDOC", "REPORT.APF"}, {"NOTES", "copy to file"}},
      {{"DATESENT", "20261209"}, {"TIMESENT", "11:40"}, {"PHONE", "555-0199"}, {"RECIPIENT", "Acme Supplies"},
       {"SUBJECT", "Quarterly figures"}, {"LASTRESULT", "Sent"}, {"FAXDOC", "FAX00002.APF"}, {"FAXCOVER", "COV00001.APF"}},
      {{"DATESENT", "20261110"}, {"TIMESENT", "08:05"}, {"PHONE", "555-0101"}, {"RECIPIENT", "City Permits Office"},
       {"SUBJECT", "Permit renewal 2026"}, {"LASTRESULT", "Sent"}, {"FAXDOC", "FAX00003.APF"}, {"ARCHIVED", "T"}},
      {{"PHONE", "555-0177"}, {"RECIPIENT", "Northside Pharmacy"}, {"SUBJECT", "Prescription refill request"},
       {"LASTRESULT", "The line is busy"}, {"FAXCOVER", "COV00002.APF"}, {"NOTES", "try again after 2pm"}},
      {{"PHONE", "555-0123"}, {"RECIPIENT", "Miller & Sons"}, {"SUBJECT", "Order 20931"}, {"FAXDOC", "ORDER.APF"}},
  });
  AddRecords(false, {
      {{"DATEREC", "20261210"}, {"TIMEREC", "07:58"}, {"FROM", "+1 212 555 0143"}, {"PAGES", "3"}, {"FAXFILE", "R0000001.APF"},
       {"NOTES", "Contract draft - reply by Friday"}},
      {{"DATEREC", "20261209"}, {"TIMEREC", "15:21"}, {"FROM", "ACME SUPPLIES"}, {"PAGES", "1"}, {"FAXFILE", "R0000002.APF"}},
      {{"DATEREC", "20261208"}, {"TIMEREC", "10:07"}, {"FROM", "HARBOUR INS"}, {"PAGES", "2"}, {"FAXFILE", "R0000003.APF"},
       {"NOTES", "claim acknowledged"}},
      {{"DATEREC", "20261201"}, {"TIMEREC", "18:44"}, {"FROM", "555 0199"}, {"PAGES", "12"}, {"FAXFILE", "R0000004.APF"}},
  });
  {
    TTable pb;
    OpenPhoneBookDBF(pb, ProgramFolder(), false);
    for (auto [name, phone] : std::initializer_list<std::pair<const char*, const char*>>{
             {"Acme Supplies", "555-0199"}, {"City Permits Office", "555-0101"}, {"Dr. Elena Ruiz", "555-0142"},
             {"Harbour Insurance", "+44 20 7946 0018"}, {"Miller & Sons", "555-0123"}, {"Northside Pharmacy", "555-0177"}}) {
      pb.Append();
      pb.SetText("NAME", name);
      pb.SetText("PHONE", phone);
      pb.Post();
    }
    pb.Close();
  }

  TMainScreen w;
  w.resize(1000, 520);
  w.Start();
  w.mnuShowArchives->trigger();
  w.FaxGrid->setCurrentIndex(w.FaxGrid->model()->index(1, 0));
  Save(&w, out + "/main-outgoing.png");
  w.TabSet1Click(1);
  Save(&w, out + "/main-incoming.png");
  w.TabSet1Click(0);

  TPhoneBook book(TPhoneBook::TMode::pbBrowse, &w);
  book.Open();
  book.show();
  book.PhoneGrid->setCurrentIndex(book.PhoneGrid->model()->index(2, 0));
  Save(&book, out + "/phone-book.png");
  book.hide();

  TTable phone;
  TRebuildInd rebuild(w.OutTable(), w.RecTable(), phone, &w);
  // The window as it looks during the second step of the outgoing table
  // (its work starts only from the event loop, which is not run here).
  rebuild.Gauge1->setVisible(true);
  rebuild.WhatAmIDoing->setVisible(true);
  rebuild.WhatAmIDoing->setText("Rebuilding FAX file indexes");
  rebuild.Gauge1->setValue(62);
  rebuild.adjustSize();
  if (!rebuild.grab().save(out + "/rebuild-indexes.png")) return 1;
  std::printf("%s\n", qPrintable(out + "/rebuild-indexes.png"));
  w.close();
  return 0;
}
