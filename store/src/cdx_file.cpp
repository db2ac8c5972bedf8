#include "cdx_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "cdx_tree.h"

namespace qc {

namespace {

int OpenErrorCode(int err) {
  switch (err) {
    case ENOENT:
      return ecFileNotFound;
    case ENOTDIR:
      return ecPathNotFound;
    case EACCES:
    case EPERM:
      return ecAccessDenied;
    case EROFS:
      return ecWriteProtected;
    case EMFILE:
    case ENFILE:
      return ecTooManyFiles;
    default:
      return ecDeviceRead;
  }
}

std::string TagKey(std::string_view name) {
  std::string k(name);
  for (char& c : k) c = char(std::toupper(static_cast<unsigned char>(c)));
  k.resize(kCdxDirKeyLength, ' ');
  return k;
}

std::string TrimName(const std::string& key) {
  size_t n = key.size();
  while (n > 0 && (key[n - 1] == ' ' || key[n - 1] == '\0')) --n;
  return key.substr(0, n);
}

bool ValidTagName(std::string_view name) {
  if (name.empty() || name.size() > size_t(kCdxMaxTagName)) return false;
  if (!std::isalpha(static_cast<unsigned char>(name[0])) && name[0] != '_') return false;
  return std::all_of(name.begin(), name.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
}

// An empty file: the directory's header and its empty root leaf.
int WriteEmptyDirectory(CdxFile::Impl& im) {
  im.img.assign(kCdxHeaderSize + kCdxPageSize, 0);
  im.leafCache.clear();
  im.cachedLeaves = 0;
  CdxHeader h;
  h.root = kCdxHeaderSize;
  h.keyLength = kCdxDirKeyLength;
  h.options = kCdxOptCompact | kCdxOptCompound | kCdxOptStructure;
  if (int rc = CdxEncodeHeader(h, im.img.data()); rc != ecOK) return rc;
  CdxNode root;
  CdxEncodeNode(root, kCdxDirKeyLength, ' ', im.img.data() + kCdxHeaderSize);
  return im.write(0, im.img.size());
}

}  // namespace

CdxFile::CdxFile() : impl_(std::make_unique<Impl>()) {}
CdxFile::~CdxFile() = default;

int CdxFile::Create(const std::string& path, std::unique_ptr<CdxFile>& out) {
  out.reset();
  std::unique_ptr<CdxFile> f(new CdxFile());
  f->path_ = path;
  f->impl_->fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (f->impl_->fd < 0) return OpenErrorCode(errno);
  if (int rc = WriteEmptyDirectory(*f->impl_); rc != ecOK) return rc;
  out = std::move(f);
  return ecOK;
}

int CdxFile::Open(const std::string& path, bool readOnly, std::unique_ptr<CdxFile>& out) {
  out.reset();
  std::unique_ptr<CdxFile> f(new CdxFile());
  f->path_ = path;
  Impl& im = *f->impl_;
  im.readOnly = readOnly;
  im.fd = ::open(path.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
  if (im.fd < 0) return OpenErrorCode(errno);
  if (int rc = im.load(); rc != ecOK) return rc;
  if (!im.headerOk(0)) return ecCdxDamaged;
  CdxHeader dir;
  if (CdxDecodeHeader(im.img.data(), dir) != ecOK) return ecCdxDamaged;
  const CdxTree dirTree{0, dir.keyLength, ' '};

  // Walk the directory's leaves; the loop is bounded by the page count.
  uint32_t leaf;
  if (im.firstLeaf(dirTree, leaf) != ecOK) return ecCdxDamaged;
  std::vector<bool> seen(im.pages(), false);
  while (true) {
    if (!im.nodeOk(leaf) || seen[leaf / kCdxPageSize]) return ecCdxDamaged;
    seen[leaf / kCdxPageSize] = true;
    CdxNode n;
    if (im.readNode(dirTree, leaf, n) != ecOK || !n.IsLeaf()) return ecCdxDamaged;
    for (CdxEntry& e : n.entries) {
      CdxTagInfo info;
      info.name = TrimName(e.key);
      info.headerOffset = e.recno;
      if (info.name.empty() || e.recno < uint32_t(kCdxHeaderSize) || !im.headerOk(e.recno)) return ecCdxDamaged;
      CdxHeader h;
      if (CdxDecodeHeader(im.at(e.recno), h) != ecOK) return ecCdxDamaged;
      info.keyExpr = h.keyExpr;
      info.forExpr = h.forExpr;
      info.descending = h.descending;
      info.keyLength = h.keyLength;
      f->tags_.push_back(std::move(info));
    }
    if (CdxIsNone(n.right)) break;
    leaf = n.right;
  }
  // Tag numbers follow creation order, which is the order of the headers.
  std::sort(f->tags_.begin(), f->tags_.end(),
            [](const CdxTagInfo& a, const CdxTagInfo& b) { return a.headerOffset < b.headerOffset; });
  for (size_t i = 0; i < f->tags_.size(); ++i) {
    if (i > 0 && f->tags_[i].headerOffset == f->tags_[i - 1].headerOffset) return ecCdxDamaged;
    f->tags_[i].number = int(i + 1);
  }
  out = std::move(f);
  return ecOK;
}

const CdxTagInfo* CdxFile::Tag(int number) const {
  if (number < 1 || number > TagCount()) return nullptr;
  return &tags_[size_t(number - 1)];
}

int CdxFile::TagNumber(std::string_view name) const {
  if (name.size() > size_t(kCdxMaxTagName)) return 0;
  const std::string key = TagKey(name);
  for (const CdxTagInfo& t : tags_)
    if (TagKey(t.name) == key) return t.number;
  return 0;
}

int CdxFile::SetKeyType(int tag, CdxKeyType type) {
  if (tag < 1 || tag > TagCount()) return ecCdxNoTag;
  tags_[size_t(tag - 1)].keyType = type;
  return ecOK;
}

namespace {
CdxTree TreeOf(const CdxTagInfo& t) { return CdxTree{t.headerOffset, t.keyLength, CdxFillByte(t.keyType)}; }
}  // namespace

int CdxFile::AddTag(const CdxTagSpec& def, int* number) {
  Impl& im = *impl_;
  if (im.sticky != ecOK) return im.sticky;
  if (!ValidTagName(def.name) || def.keyLength < 1 || def.keyLength > kCdxMaxKeyLength) return ecBadArgument;
  if (TagNumber(def.name) != 0) return ecCdxTagExists;
  uint32_t hdr;
  if (int rc = im.allocAtEnd(3, hdr); rc != ecOK) return rc;
  CdxHeader h;
  h.root = hdr + kCdxHeaderSize;
  h.keyLength = def.keyLength;
  h.options = kCdxOptCompact | kCdxOptCompound | (def.forExpr.empty() ? 0 : kCdxOptFor);
  h.descending = def.descending;
  h.keyExpr = def.keyExpr;
  h.forExpr = def.forExpr;
  if (int rc = CdxEncodeHeader(h, im.at(hdr)); rc != ecOK) {
    im.img.resize(hdr);
    return rc;
  }
  CdxNode root;
  CdxEncodeNode(root, def.keyLength, CdxFillByte(def.keyType), im.at(hdr + kCdxHeaderSize));
  // The tag's pages first, then its directory entry.
  if (int rc = im.write(hdr, kCdxHeaderSize + kCdxPageSize); rc != ecOK) return rc;
  const CdxTree dir{0, CdxGet16(im.at(kCdxHdrKeyLength)), ' '};
  std::string key = TagKey(def.name);
  key.resize(size_t(dir.keyLen), ' ');
  if (int rc = im.insert(dir, key, hdr); rc != ecOK) return rc;
  ++generation_;
  CdxTagInfo info;
  info.name = TrimName(TagKey(def.name));
  info.keyExpr = def.keyExpr;
  info.forExpr = def.forExpr;
  info.descending = def.descending;
  info.keyLength = def.keyLength;
  info.keyType = def.keyType;
  info.headerOffset = hdr;
  tags_.push_back(std::move(info));
  std::sort(tags_.begin(), tags_.end(),
            [](const CdxTagInfo& a, const CdxTagInfo& b) { return a.headerOffset < b.headerOffset; });
  for (size_t i = 0; i < tags_.size(); ++i) tags_[i].number = int(i + 1);
  if (number != nullptr) *number = TagNumber(def.name);
  return ecOK;
}

int CdxFile::DropAllTags() {
  Impl& im = *impl_;
  if (im.sticky != ecOK) return im.sticky;
  if (im.readOnly) return ecAccessDenied;
  if (::ftruncate(im.fd, 0) != 0) return ecDeviceWrite;
  tags_.clear();
  ++generation_;
  return WriteEmptyDirectory(im);
}

int CdxFile::Insert(int tag, std::string_view key, uint32_t recno) {
  const CdxTagInfo* t = Tag(tag);
  if (t == nullptr) return ecCdxNoTag;
  if (int(key.size()) != t->keyLength) return ecBadArgument;
  if (impl_->sticky != ecOK) return impl_->sticky;
  ++generation_;
  return impl_->insert(TreeOf(*t), key, recno);
}

int CdxFile::Remove(int tag, std::string_view key, uint32_t recno) {
  const CdxTagInfo* t = Tag(tag);
  if (t == nullptr) return ecCdxNoTag;
  if (int(key.size()) != t->keyLength) return ecBadArgument;
  if (impl_->sticky != ecOK) return impl_->sticky;
  ++generation_;
  return impl_->remove(TreeOf(*t), key, recno);
}

int CdxFile::BulkBuild(int tag, std::vector<CdxEntry> entries) {
  const CdxTagInfo* t = Tag(tag);
  if (t == nullptr) return ecCdxNoTag;
  for (const CdxEntry& e : entries)
    if (int(e.key.size()) != t->keyLength) return ecBadArgument;
  if (impl_->sticky != ecOK) return impl_->sticky;
  std::sort(entries.begin(), entries.end(), [](const CdxEntry& a, const CdxEntry& b) { return CdxCompare(a, b) < 0; });
  entries.erase(std::unique(entries.begin(), entries.end(),
                            [](const CdxEntry& a, const CdxEntry& b) { return CdxCompare(a, b) == 0; }),
                entries.end());
  ++generation_;
  return impl_->bulkBuild(TreeOf(*t), entries);
}

int CdxFile::KeyCount(int tag, uint32_t& count) {
  count = 0;
  const CdxTagInfo* t = Tag(tag);
  if (t == nullptr) return ecCdxNoTag;
  return impl_->check(TreeOf(*t), -1, false, &count);
}

int CdxFile::Check(int tag, int64_t expectedKeys) {
  const CdxTagInfo* t = Tag(tag);
  if (t == nullptr) return ecCdxNoTag;
  return impl_->check(TreeOf(*t), expectedKeys, true, nullptr);
}

int CdxFile::QuickCheck(int tag, int64_t expectedKeys) {
  const CdxTagInfo* t = Tag(tag);
  if (t == nullptr) return ecCdxNoTag;
  return impl_->check(TreeOf(*t), expectedKeys, false, nullptr);
}

void CdxFile::SetWriteLimitForTesting(int64_t limit) {
  impl_->writeLimit = limit;
  impl_->writes = 0;
}

uint64_t CdxFile::WritesForTesting() const { return impl_->writes; }

}  // namespace qc
