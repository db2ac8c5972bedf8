// Thin POSIX file helpers shared by the table and index files: whole reads and
// writes that retry short transfers, and errno turned into a result code.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace qc {

// The result code of an errno value (ecFileNotFound, ecAccessDenied, ecDiskFull, ...).
int CodeForErrno(int err);

// 0, or a result code; a read past the end gives ecReadBeyondEOF.
int ReadAt(int fd, void* buf, std::size_t size, std::uint64_t offset);
int WriteAt(int fd, const void* buf, std::size_t size, std::uint64_t offset);

// Size of an open file, or -1.
std::int64_t FileSize(int fd);

bool FileExists(const std::string& path);

// folder + "/" + name, where an existing file whose name differs only in
// letter case stands in for `name` (tables copied from other systems often
// come as qcout.dbf).
std::string PathNoCase(const std::string& folder, const std::string& name);

}  // namespace qc
