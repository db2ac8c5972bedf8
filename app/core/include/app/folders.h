// The data folder, its fixed sub-folders and the shared file helpers.
//
// Every name ends in "/". The data folder is $QUILLCAST_HOME when set, else
// $XDG_DATA_HOME/quillcast/, else ~/.local/share/quillcast/. Names inside it
// are spelt one way each ("SEND", "Receive", "Covers"); looking a file up
// by name goes through FindFileIgnoreCase, because the program's names were
// always compared without regard to letter case.
#pragma once

#include <string>

namespace qc {

std::string ProgramFolder();
std::string SendFolder();     // ProgramFolder() + "SEND/"
std::string ReceiveFolder();  // ProgramFolder() + "Receive/"
std::string CoversFolder();   // ProgramFolder() + "Covers/"
// QC.INI in the program folder, in whatever letter case it already exists.
std::string SettingsFileName();

// The full name of the entry of `folder` whose name equals `name` without
// regard to ASCII letter case (an exact match wins); empty when there is none.
// Folders count as entries too.
std::string FindFileIgnoreCase(const std::string& folder, const std::string& name);
// True when FindFileIgnoreCase finds the entry.
bool FileExistsIgnoreCase(const std::string& folder, const std::string& name);

// Creates `path` and any missing parents; true when the folder exists afterwards.
bool ForceFolders(const std::string& path);

// Copies `source` to `target` in blocks of 2048 bytes. False, and nothing
// touched, when both name the same file (the same text, or another name of
// the same file); false when either side cannot be opened; false when reading
// or writing fails part-way, and the partial target is then removed.
bool CopyFileBlocks(const std::string& source, const std::string& target);

// folder + prefix + "%5.5d" + ".APF" with the first number 00000..99999 whose
// file does not exist; 99999 is returned even when that one exists.
std::string UniqueFileName(const std::string& folder, const std::string& prefix);
std::string UniqueSendFile(const std::string& prefix);  // in SendFolder()
std::string UniqueWorkFile(const std::string& prefix);  // in ProgramFolder()

// The folder of read-only files installed with the program (ends in "/"):
// <prefix>/share/quillcast/ beside the running executable's bin/ folder, else
// the source tree's resources/ for a program started from its build folder,
// else the configured install folder.
std::string ShareFolder();

// Fills `coversFolder` from `shareFolder` + "covers/" when it is missing or
// empty; creates it either way. Returns the number of files copied.
int InstallCovers(const std::string& shareFolder, const std::string& coversFolder);

}  // namespace qc
