// The main window's list actions and the printer-driver hand-off.
#include <QApplication>
#include <QTimer>

#include <filesystem>
#include <stdexcept>

#include "app/dialogs.h"
#include "app/fax_editors.h"
#include "app/folders.h"
#include "app/grid_view.h"
#include "app/list_actions.h"
#include "app/main_screen.h"
#include "app/printer_jobs.h"
#include "app/text_fields.h"
#include "store/table.h"

namespace qc {
namespace {

std::string NameOf(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// Sets a text field cut to its width; the first failure is kept for the post.
void SetField(TTable& table, const char* field, const std::string& value, int width, int& rc) {
  const int r = table.SetText(field, CutToWidth(value, width));
  if (rc == 0) rc = r;
}

void PostOrThrow(TTable& table, int rc) {
  if (rc == 0) rc = table.Post();
  if (rc != 0) {
    const std::string message = table.LastError();
    table.Cancel();
    throw std::runtime_error(message.empty() ? "Cannot save the record" : message);
  }
}

// Goes back to the record an action started on (the dialog may have let the list move).
void ReturnTo(TTable& table, std::uint32_t recno) {
  if (recno > 0 && recno <= table.RecordCount()) table.GoTo(recno);
}

}  // namespace

// --- printer-driver hand-off -------------------------------------------------------

void TMainScreen::WriteQCPDINI() {
  qc::WriteQCPDINI(SendFolder(), QCoreApplication::applicationFilePath().toStdString());
}

bool TMainScreen::ProcessExtraPDFaxFiles() {
  const std::vector<std::string> jobs = FindJobFiles(SendFolder());
  for (const std::string& job : jobs) {
    // One bad job must not keep the others out.
    Guarded([&] { ProcessPDFaxFile(SendFolder() + ChangeExtension(job, ".APF")); });
  }
  if (jobs.empty()) return false;
  FaxTableCloseAndOpen();
  return true;
}

void TMainScreen::ProcessPDFaxFile(const std::string& apfName) {
  const std::string folder = SendFolder();
  if (const TJobNameFault fault = CheckJobFaxFile(folder, apfName); fault != TJobNameFault::jnOk) {
    if (refusedJobs_.insert(apfName).second) ShowStatus(QString::fromStdString(JobNameFaultText(fault, apfName)));
    return;
  }
  const std::string apf = FindFileIgnoreCase(folder, NameOf(apfName));
  if (apf.empty()) return;  // the driver is not done yet: next activation
  const std::string jobFile = FindFileIgnoreCase(folder, ChangeExtension(NameOf(apfName), ".QCJ"));
  PrinterJob job;
  if (!jobFile.empty()) {
    std::string error;
    if (!ReadJobFile(jobFile, job, error)) throw std::runtime_error(error);
  }
  if (!outTable_->Active() || outTable_->Append() != 0) return;
  ProcessMessages();
  int rc = 0;
  SetField(*outTable_, "FAXDOC", NameOf(apf), kMaxFaxFileName, rc);
  SetField(*outTable_, "RECIPIENT", job.recipient, kRecipientWidth, rc);
  SetField(*outTable_, "SUBJECT", job.subject, kSubjectWidth, rc);
  SetField(*outTable_, "PHONE", job.phone, kPhoneWidth, rc);
  if (rc == 0) rc = outTable_->Post();
  if (rc != 0) {
    // Taken in again at the next activation.
    outTable_->Cancel();
    return;
  }
  if (!jobFile.empty()) DeleteFileQuietly(jobFile);
  ProcessMessages();
}

// --- edit ---------------------------------------------------------------------------------

void TMainScreen::EditButtonClick() {
  if (Page() == 1) {
    EditReceivedFax();
  } else if (OutSelected() && outTable_->AsText("FAXCOVER").empty()) {
    EditAPFFax();
  }
  // A fax with a cover sheet is edited in the cover sheet editor, which is
  // not part of this window.
  SetButtons();
}

void TMainScreen::EditAPFFax() {
  if (!OutSelected()) {
    Beep();
    return;
  }
  TFaxEditor editor(this);
  const std::uint32_t recno = outTable_->RecNo();
  editor.Recipient->setText(QString::fromStdString(outTable_->AsText("RECIPIENT")));
  editor.Subject->setText(QString::fromStdString(outTable_->AsText("SUBJECT")));
  editor.FaxNumber->setText(QString::fromStdString(outTable_->AsText("PHONE")));
  editor.Notes->setText(QString::fromStdString(outTable_->AsText("NOTES")));
  editor.Codes->setText(QString::fromStdString(outTable_->AsText("CODES")));
  CenterDialog(&editor);
  if (editor.exec() != QDialog::Accepted) return;
  ReturnTo(*outTable_, recno);
  int rc = outTable_->Edit();
  SetField(*outTable_, "RECIPIENT", editor.Recipient->text().toStdString(), kRecipientWidth, rc);
  SetField(*outTable_, "SUBJECT", editor.Subject->text().toStdString(), kSubjectWidth, rc);
  SetField(*outTable_, "PHONE", editor.FaxNumber->text().toStdString(), kPhoneWidth, rc);
  SetField(*outTable_, "NOTES", editor.Notes->text().toStdString(), kOutNotesWidth, rc);
  SetField(*outTable_, "CODES", editor.Codes->text().toStdString(), kCodesWidth, rc);
  struct Reload {
    TMainScreen* w;
    ~Reload() { w->ReloadOutList(); }
  } reload{this};
  PostOrThrow(*outTable_, rc);
}

void TMainScreen::EditReceivedFax() {
  if (ReceivingFax || !RecSelected()) {
    Beep();
    return;
  }
  const std::uint32_t recno = recTable_->RecNo();
  TEditReceiveNotes editor(this);
  editor.Notes->setText(QString::fromStdString(recTable_->AsText("NOTES")));
  editor.Descript->setText(QString::fromStdString("From: " + recTable_->AsText("FROM")));
  editor.adjustSize();
  CenterDialog(&editor);
  if (editor.exec() != QDialog::Accepted) return;
  ReturnTo(*recTable_, recno);
  int rc = recTable_->Edit();
  SetField(*recTable_, "NOTES", editor.Notes->text().toStdString(), kRecNotesWidth, rc);
  struct Reload {
    TMainScreen* w;
    ~Reload() { w->ReloadRecList(); }
  } reload{this};
  PostOrThrow(*recTable_, rc);
}

// --- clone --------------------------------------------------------------------------------

void TMainScreen::CloneButtonClick() {
  if (!OutSelected()) {
    Beep();
    return;
  }
  if (!AskYesNoDefaultNo(CloneQuestion(outTable_->AsText("SUBJECT")), "Delete")) return;
  const std::string body = outTable_->AsText("FAXDOC");
  const std::string cover = outTable_->AsText("FAXCOVER");
  if (body.empty() && cover.empty()) return;
  CloneAPFFax(body, cover, outTable_->AsText("PHONE"), outTable_->AsText("RECIPIENT"),
              outTable_->AsText("SUBJECT"));
}

void TMainScreen::CloneAPFFax(const std::string& body, const std::string& cover, const std::string& phone,
                              const std::string& recipient, const std::string& subject) {
  const ClonedFiles files = CloneFaxFiles(SendFolder(), body, cover);
  if (outTable_->Append() != 0) throw std::runtime_error(outTable_->LastError());
  ProcessMessages();
  int rc = 0;
  if (!files.body.empty()) SetField(*outTable_, "FAXDOC", files.body, kMaxFaxFileName, rc);
  if (!files.cover.empty()) SetField(*outTable_, "FAXCOVER", files.cover, kMaxFaxFileName, rc);
  SetField(*outTable_, "RECIPIENT", recipient, kRecipientWidth, rc);
  SetField(*outTable_, "SUBJECT", CloneSubject(subject), kSubjectWidth, rc);
  SetField(*outTable_, "PHONE", phone, kPhoneWidth, rc);
  try {
    PostOrThrow(*outTable_, rc);
  } catch (...) {
    // The record is not there: neither are its files.
    if (!files.body.empty()) DeleteFileQuietly(SendFolder() + files.body);
    if (!files.cover.empty()) DeleteCoverFiles(SendFolder(), files.cover);
    ReloadOutList();
    throw;
  }
  SetButtons();
  FaxTableCloseAndOpen();
}

// --- delete -------------------------------------------------------------------------------

void TMainScreen::DeleteButtonClick() {
  if (Page() == 1)
    DeleteFromRec();
  else
    DeleteFromSend();
}

void TMainScreen::DeleteFromSend() {
  if (!OutSelected()) {
    Beep();
    return;
  }
  const std::uint32_t recno = outTable_->RecNo();
  const std::string body = outTable_->AsText("FAXDOC");
  const std::string cover = outTable_->AsText("FAXCOVER");
  int choice = -1;
  if (!body.empty() && !cover.empty()) {
    TDeleteWhat what(this);
    choice = what.Choose();
  } else {
    choice = AskYesNoDefaultNo(DeleteSendQuestion(outTable_->AsText("SUBJECT")), "Delete") ? 2 : -1;
  }
  if (choice >= 0) {
    ReturnTo(*outTable_, recno);
    const std::string folder = SendFolder();
    if (choice == 0) {
      int rc = outTable_->Edit();
      SetField(*outTable_, "FAXCOVER", "", kMaxFaxFileName, rc);
      PostOrThrow(*outTable_, rc);
      DeleteCoverFiles(folder, cover);
    } else if (choice == 1) {
      int rc = outTable_->Edit();
      SetField(*outTable_, "FAXDOC", "", kMaxFaxFileName, rc);
      PostOrThrow(*outTable_, rc);
      if (!body.empty()) DeleteFileQuietly(FindFileIgnoreCase(folder, body));
    } else {
      if (outTable_->Delete() != 0) throw std::runtime_error(outTable_->LastError());
      if (!body.empty()) DeleteFileQuietly(FindFileIgnoreCase(folder, body));
      if (!cover.empty()) DeleteCoverFiles(folder, cover);
    }
    ReloadOutList();
  }
  SetButtons();
}

void TMainScreen::DeleteFromRec() {
  if (!RecSelected() || ReceivingFax) {
    Beep();
    return;
  }
  const std::uint32_t recno = recTable_->RecNo();
  if (AskYesNoDefaultNo(DeleteRecQuestion(recTable_->AsText("FROM")), "Delete")) {
    ReturnTo(*recTable_, recno);
    const std::string file = recTable_->AsText("FAXFILE");
    if (recTable_->Delete() != 0) throw std::runtime_error(recTable_->LastError());
    ReloadRecList();
    if (!file.empty()) DeleteFileQuietly(FindFileIgnoreCase(ReceiveFolder(), file));
  }
  SetButtons();
}

// --- archive ------------------------------------------------------------------------------

void TMainScreen::ArchivebuttonClick() {
  const bool received = Page() == 1;
  TTable& table = received ? *recTable_ : *outTable_;
  if ((received && (!RecSelected() || ReceivingFax)) || (!received && !OutSelected())) {
    Beep();
    return;
  }
  const std::uint32_t recno = table.RecNo();
  const bool archived = table.AsLogical("ARCHIVED");
  const std::string question =
      ArchiveQuestion(archived, received ? TFaxPage::fpReceived : TFaxPage::fpOutgoing,
                      table.AsText(received ? "FROM" : "SUBJECT"));
  if (AskYesNoDefaultNo(question, "Archive")) {
    ReturnTo(table, recno);
    // A failed edit leaves the record as it was.
    if (table.Edit() == 0) {
      if (table.SetLogical("ARCHIVED", !archived) != 0 || table.Post() != 0) table.Cancel();
    }
    if (received)
      ReloadRecList();
    else
      ReloadOutList();
  }
  SetButtons();
}

// --- forward ------------------------------------------------------------------------------

void TMainScreen::ForwardButtonClick() {
  if (!RecSelected()) return;
  const std::string file = recTable_->AsText("FAXFILE");
  if (file.empty()) return;
  const std::string received = FindFileIgnoreCase(ReceiveFolder(), file);
  if (received.empty()) return;
  const std::string from = recTable_->AsText("FROM");
  if (!AskYesNoDefaultNo(ForwardQuestion(from), "Delete")) return;
  TFaxEditor editor(this);
  editor.setWindowTitle(QString::fromStdString("Forward fax from: " + from));
  CenterDialog(&editor);
  if (editor.exec() != QDialog::Accepted) return;
  const std::string copy = ForwardFaxFile(SendFolder(), received);
  // A record whose file could not be made would only fail when it is sent.
  if (copy.empty()) throw std::runtime_error("Unable to copy the fax file " + received + " to " + SendFolder());
  if (outTable_->Append() != 0) {
    DeleteFileQuietly(SendFolder() + copy);
    throw std::runtime_error(outTable_->LastError());
  }
  int rc = 0;
  SetField(*outTable_, "RECIPIENT", editor.Recipient->text().toStdString(), kRecipientWidth, rc);
  SetField(*outTable_, "SUBJECT", editor.Subject->text().toStdString(), kSubjectWidth, rc);
  SetField(*outTable_, "PHONE", editor.FaxNumber->text().toStdString(), kPhoneWidth, rc);
  SetField(*outTable_, "NOTES", editor.Notes->text().toStdString(), kOutNotesWidth, rc);
  SetField(*outTable_, "CODES", editor.Codes->text().toStdString(), kCodesWidth, rc);
  SetField(*outTable_, "FAXDOC", copy, kMaxFaxFileName, rc);
  try {
    PostOrThrow(*outTable_, rc);
  } catch (...) {
    DeleteFileQuietly(SendFolder() + copy);
    ReloadOutList();
    throw;
  }
  TabSet1Click(0);
  ProcessMessages();
  FaxTableCloseAndOpen();
  SetButtons();
}

// --- view ---------------------------------------------------------------------------------

void TMainScreen::mnuViewPrintClick() {
  // The fax viewer is its own window and not part of this one yet.
}

}  // namespace qc
