#include "app/list_actions.h"

#include <unistd.h>

#include <filesystem>

#include "app/folders.h"
#include "app/printer_jobs.h"
#include "app/text_fields.h"

namespace qc {

std::string CloneSubject(const std::string& subject) {
  return CutToWidth("[clone]" + subject, kSubjectWidth);
}

std::string CloneQuestion(const std::string& subject) {
  return "Clone the current fax?\r\n(subject: \"" + subject + "\")";
}

std::string DeleteSendQuestion(const std::string& subject) {
  return "Delete the current fax?\r\n(subject: \"" + subject + "\")";
}

std::string DeleteRecQuestion(const std::string& from) {
  return "Delete the current fax?\r\n(from: \"" + from + "\")";
}

std::string ArchiveQuestion(bool archived, TFaxPage page, const std::string& what) {
  std::string text = archived ? "UnArchive the current fax?" : "Archive the current fax?";
  text += "\r\n";
  if (page == TFaxPage::fpReceived) {
    if (!what.empty()) text += "(from: " + what + ")";
  } else {
    text += what.empty() ? std::string("(no subject)") : "(subject: " + what + ")";
  }
  return text;
}

std::string ForwardQuestion(const std::string& from) {
  return "Forward the current fax to be sent?\r\n(from: " + from + ")";
}

std::string FindCoverDataFile(const std::string& folder, const std::string& coverName) {
  if (coverName.empty()) return {};
  const std::string found = FindFileIgnoreCase(folder, ChangeExtension(coverName, ".fcd"));
  return found.empty() ? std::string() : std::filesystem::path(found).filename().string();
}

namespace {

// The entry of `folder` called `name` in any letter case; empty when missing.
std::string Existing(const std::string& folder, const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return {};
  return FindFileIgnoreCase(folder, name);
}

std::string NameOf(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

}  // namespace

ClonedFiles CloneFaxFiles(const std::string& sendFolder, const std::string& bodyName,
                          const std::string& coverName) {
  ClonedFiles result;
  if (const std::string body = Existing(sendFolder, bodyName); !body.empty()) {
    const std::string target = UniqueFileName(sendFolder, "FAX");
    if (CopyFileBlocks(body, target)) result.body = NameOf(target);
  }
  const std::string cover = Existing(sendFolder, coverName);
  const std::string data = FindCoverDataFile(sendFolder, coverName);
  if (!cover.empty() && !data.empty()) {
    const std::string target = UniqueFileName(sendFolder, "COV");
    if (CopyFileBlocks(cover, target)) {
      if (CopyFileBlocks(sendFolder + data, ChangeExtension(target, ".fcd"))) {
        result.cover = NameOf(target);
      } else {
        // A cover sheet is useless without its values: take none.
        DeleteFileQuietly(target);
      }
    }
  }
  return result;
}

std::string ForwardFaxFile(const std::string& sendFolder, const std::string& receivedPath) {
  const std::string target = UniqueFileName(sendFolder, "FWD");
  return CopyFileBlocks(receivedPath, target) ? NameOf(target) : std::string();
}

void DeleteFileQuietly(const std::string& path) {
  if (!path.empty()) ::unlink(path.c_str());
}

void DeleteCoverFiles(const std::string& sendFolder, const std::string& coverName) {
  const std::string data = FindCoverDataFile(sendFolder, coverName);
  if (const std::string cover = Existing(sendFolder, coverName); !cover.empty())
    DeleteFileQuietly(cover);
  if (!data.empty()) DeleteFileQuietly(sendFolder + data);
}

}  // namespace qc
