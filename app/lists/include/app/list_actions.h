// The texts and file handling of the list actions (clone, delete, archive,
// forward); the windows ask the questions and change the records.
#pragma once

#include <string>

#include "app/button_rules.h"

namespace qc {

// Widths of the outgoing and received fields the actions fill.
inline constexpr int kSubjectWidth = 50;
inline constexpr int kRecipientWidth = 35;
inline constexpr int kPhoneWidth = 25;
inline constexpr int kOutNotesWidth = 50;
inline constexpr int kCodesWidth = 25;
inline constexpr int kRecNotesWidth = 60;

// "[clone]" + subject, cut to the 50 characters of SUBJECT.
std::string CloneSubject(const std::string& subject);

std::string CloneQuestion(const std::string& subject);
std::string DeleteSendQuestion(const std::string& subject);
std::string DeleteRecQuestion(const std::string& from);
// `what` is the subject on the outgoing page and the sender on the received page.
std::string ArchiveQuestion(bool archived, TFaxPage page, const std::string& what);
std::string ForwardQuestion(const std::string& from);

// Name of the cover data file that belongs to a cover sheet (same name,
// extension ".fcd"), in whatever letter case it exists in `folder`; empty
// when there is none.
std::string FindCoverDataFile(const std::string& folder, const std::string& coverName);

struct ClonedFiles {
  std::string body;   // new FAXDOC, empty when no body was copied
  std::string cover;  // new FAXCOVER, empty when no cover was copied
};
// Copies the body to the first free "FAX"nnnnn".APF" of `sendFolder`, and the
// cover with its ".fcd" file to the first free "COV"nnnnn".APF"; a cover
// without its ".fcd" file is not copied. Names are without folder and
// relative to `sendFolder`; empty names or missing files are skipped.
ClonedFiles CloneFaxFiles(const std::string& sendFolder, const std::string& bodyName,
                          const std::string& coverName);

// Copies a received fax to the first free "FWD"nnnnn".APF" of `sendFolder`;
// the new name without folder, or empty when the copy failed.
std::string ForwardFaxFile(const std::string& sendFolder, const std::string& receivedPath);

// Removes a file; a missing or locked file is ignored.
void DeleteFileQuietly(const std::string& path);
// Removes a cover sheet and its ".fcd" file from `sendFolder`.
void DeleteCoverFiles(const std::string& sendFolder, const std::string& coverName);

}  // namespace qc
