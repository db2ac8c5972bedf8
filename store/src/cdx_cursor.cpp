// Walking a tag. Moves between leaves follow the sibling links, and every
// move is checked against the file (link back, key order, step bound), so a
// damaged or hostile file ends the walk with ecCdxDamaged instead of looping.
#include "cdx_file.h"
#include "cdx_tree.h"

namespace qc {

namespace {
CdxTree TreeOf(const CdxTagInfo& t) { return CdxTree{t.headerOffset, t.keyLength, CdxFillByte(t.keyType)}; }
}  // namespace

CdxCursor::CdxCursor(CdxFile& file, int tag) : file_(file), tag_(tag) {}

const CdxTagInfo* CdxCursor::info() const { return file_.Tag(tag_); }

int CdxCursor::loadLeaf(uint32_t offset) {
  CdxNode n;
  if (int rc = file_.impl_->readNode(TreeOf(*info()), offset, n); rc != ecOK) return rc;
  if (!n.IsLeaf()) return ecCdxDamaged;
  // Keys strictly rising along the whole walk (here inside a leaf, in the
  // steps between leaves) are what guarantees that a walk ends.
  for (size_t i = 1; i < n.entries.size(); ++i)
    if (CdxCompare(n.entries[i - 1], n.entries[i]) >= 0) return ecCdxDamaged;
  leaf_ = std::move(n.entries);
  leftSibling_ = n.left;
  rightSibling_ = n.right;
  leafOffset_ = offset;
  return ecOK;
}

int CdxCursor::stepForward(Edge& edge) {
  const int next = between_ ? index_ : index_ + 1;
  between_ = false;
  if (next >= 0 && next < int(leaf_.size())) {
    index_ = next;
    edge = Edge::On;
    return ecOK;
  }
  uint32_t from = leafOffset_;
  uint32_t off = rightSibling_;
  const uint32_t limit = file_.impl_->pages();
  for (uint32_t steps = 0; !CdxIsNone(off); ++steps) {
    if (steps > limit) return ecCdxDamaged;
    if (int rc = loadLeaf(off); rc != ecOK) return rc;
    if (leftSibling_ != from) return ecCdxDamaged;
    if (!leaf_.empty()) {
      index_ = 0;
      if (valid_ && CdxCompare(leaf_.front(), CdxEntry{key_, recno_}) <= 0) return ecCdxDamaged;
      edge = Edge::On;
      return ecOK;
    }
    from = off;
    off = rightSibling_;
  }
  index_ = int(leaf_.size());
  edge = Edge::PastEnd;
  return ecOK;
}

int CdxCursor::stepBackward(Edge& edge) {
  between_ = false;
  const int prev = index_ - 1;
  if (prev >= 0 && prev < int(leaf_.size())) {
    index_ = prev;
    edge = Edge::On;
    return ecOK;
  }
  uint32_t from = leafOffset_;
  uint32_t off = leftSibling_;
  const uint32_t limit = file_.impl_->pages();
  for (uint32_t steps = 0; !CdxIsNone(off); ++steps) {
    if (steps > limit) return ecCdxDamaged;
    if (int rc = loadLeaf(off); rc != ecOK) return rc;
    if (rightSibling_ != from) return ecCdxDamaged;
    if (!leaf_.empty()) {
      index_ = int(leaf_.size()) - 1;
      if (valid_ && CdxCompare(leaf_.back(), CdxEntry{key_, recno_}) >= 0) return ecCdxDamaged;
      edge = Edge::On;
      return ecOK;
    }
    from = off;
    off = leftSibling_;
  }
  index_ = -1;
  edge = Edge::BeforeStart;
  return ecOK;
}

int CdxCursor::physFirst(Edge& edge) {
  uint32_t off;
  if (int rc = file_.impl_->firstLeaf(TreeOf(*info()), off); rc != ecOK) return rc;
  if (int rc = loadLeaf(off); rc != ecOK) return rc;
  valid_ = between_ = false;
  index_ = -1;
  return stepForward(edge);
}

int CdxCursor::physLast(Edge& edge) {
  uint32_t off;
  if (int rc = file_.impl_->lastLeaf(TreeOf(*info()), off); rc != ecOK) return rc;
  if (int rc = loadLeaf(off); rc != ecOK) return rc;
  valid_ = between_ = false;
  index_ = int(leaf_.size());
  return stepBackward(edge);
}

int CdxCursor::physSeek(std::string_view key, uint32_t recno, bool after, Edge& edge) {
  CdxLeafPos pos;
  if (int rc = file_.impl_->seek(TreeOf(*info()), key, recno, after, pos); rc != ecOK) return rc;
  if (int rc = loadLeaf(pos.leaf); rc != ecOK) return rc;
  valid_ = false;
  between_ = true;
  index_ = pos.index;
  edge = Edge::On;
  return ecOK;
}

int CdxCursor::finish(int rc, Edge edge, bool forwardLogical) {
  generation_ = file_.Generation();
  if (rc != ecOK) {
    valid_ = between_ = false;
    eof_ = bof_ = true;
    return rc;
  }
  if (edge == Edge::On) {
    key_ = leaf_[size_t(index_)].key;
    recno_ = leaf_[size_t(index_)].recno;
    valid_ = true;
    eof_ = bof_ = false;
  } else {
    valid_ = between_ = false;
    eof_ = forwardLogical;
    bof_ = !forwardLogical;
  }
  return ecOK;
}

int CdxCursor::resync() {
  if (generation_ == file_.Generation() || !valid_) return ecOK;
  if (int(key_.size()) != info()->keyLength) return ecCdxNoTag;  // the tags were recreated
  CdxLeafPos pos;
  if (int rc = file_.impl_->seek(TreeOf(*info()), key_, recno_, false, pos); rc != ecOK) return rc;
  if (int rc = loadLeaf(pos.leaf); rc != ecOK) return rc;
  index_ = pos.index;
  between_ = !(index_ < int(leaf_.size()) && leaf_[size_t(index_)].recno == recno_ && leaf_[size_t(index_)].key == key_);
  generation_ = file_.Generation();
  return ecOK;
}

int CdxCursor::First() {
  if (info() == nullptr) return ecCdxNoTag;
  Edge e = Edge::PastEnd;
  int rc = info()->descending ? physLast(e) : physFirst(e);
  rc = finish(rc, e, true);
  if (rc == ecOK && e != Edge::On) eof_ = bof_ = true;
  return rc;
}

int CdxCursor::Last() {
  if (info() == nullptr) return ecCdxNoTag;
  Edge e = Edge::PastEnd;
  int rc = info()->descending ? physFirst(e) : physLast(e);
  rc = finish(rc, e, false);
  if (rc == ecOK && e != Edge::On) eof_ = bof_ = true;
  return rc;
}

int CdxCursor::Next() {
  if (info() == nullptr) return ecCdxNoTag;
  if (!valid_) return bof_ && !eof_ ? First() : ecOK;
  Edge e = Edge::PastEnd;
  int rc = resync();
  if (rc == ecOK) rc = info()->descending ? stepBackward(e) : stepForward(e);
  return finish(rc, e, true);
}

int CdxCursor::Prior() {
  if (info() == nullptr) return ecCdxNoTag;
  if (!valid_) return eof_ && !bof_ ? Last() : ecOK;
  Edge e = Edge::PastEnd;
  int rc = resync();
  if (rc == ecOK) rc = info()->descending ? stepForward(e) : stepBackward(e);
  return finish(rc, e, false);
}

int CdxCursor::Seek(std::string_view key, uint32_t recno) {
  const CdxTagInfo* t = info();
  if (t == nullptr) return ecCdxNoTag;
  if (int(key.size()) > t->keyLength || key.empty()) return ecBadArgument;
  Edge e = Edge::PastEnd;
  int rc = physSeek(key, recno, t->descending, e);
  if (rc == ecOK) rc = t->descending ? stepBackward(e) : stepForward(e);
  rc = finish(rc, e, true);
  return rc;
}

}  // namespace qc
