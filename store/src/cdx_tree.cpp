#include "cdx_tree.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace qc {

namespace {

constexpr int kMaxDepth = 32;

int WriteErrorCode(int err) {
  switch (err) {
    case ENOSPC:
    case EDQUOT:
      return ecDiskFull;
    case EBADF:
      return ecNotOpenOutput;
    case EROFS:
      return ecWriteProtected;
    default:
      return ecDeviceWrite;
  }
}

// Order of a raw entry against a search target. A short target key is a
// prefix: only its bytes are compared and the record number is ignored.
int CompareTarget(const uint8_t* key, uint32_t recno, std::string_view target, uint32_t trecno, int keyLen) {
  const bool prefix = int(target.size()) < keyLen;
  int c = std::memcmp(key, target.data(), target.size());
  if (c != 0 || prefix) return c;
  return recno < trecno ? -1 : (recno > trecno ? 1 : 0);
}

bool SameEntry(const uint8_t* raw, int keyLen, const CdxEntry& e, uint32_t child) {
  return std::memcmp(raw, e.key.data(), size_t(keyLen)) == 0 && CdxGet32BE(raw + keyLen) == e.recno &&
         CdxGet32BE(raw + keyLen + 4) == child;
}

}  // namespace

CdxFile::Impl::~Impl() {
  if (fd >= 0) ::close(fd);
}

int CdxFile::Impl::load() {
  off_t end = ::lseek(fd, 0, SEEK_END);
  if (end < 0) return ecDeviceRead;
  if (end > off_t(0x7FFFFE00)) return ecCdxDamaged;  // offsets are 32-bit
  img.assign(size_t(end), 0);
  size_t done = 0;
  while (done < img.size()) {
    ssize_t n = ::pread(fd, img.data() + done, img.size() - done, off_t(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return ecDeviceRead;
    done += size_t(n);
  }
  return ecOK;
}

int CdxFile::Impl::write(uint32_t off, size_t len) {
  if (sticky != ecOK) return sticky;
  if (readOnly) return ecAccessDenied;
  if (cachedLeaves > 0) {
    const size_t last = std::min(leafCache.size(), (size_t(off) + len + kCdxPageSize - 1) / kCdxPageSize);
    for (size_t p = off / kCdxPageSize; p < last; ++p)
      if (leafCache[p]) leafCache[p]->valid = false;
  }
  ++writes;
  if (writeLimit >= 0 && int64_t(writes) > writeLimit) return ecOK;  // the simulated crash happened
  size_t done = 0;
  while (done < len) {
    ssize_t n = ::pwrite(fd, img.data() + off + done, len - done, off_t(off + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      sticky = WriteErrorCode(n < 0 ? errno : ENOSPC);
      return sticky;
    }
    done += size_t(n);
  }
  return ecOK;
}

void CdxFile::Impl::cacheLeaf(const CdxTree& t, uint32_t off, CdxNode&& n) {
  const size_t page = off / kCdxPageSize;
  if (page >= leafCache.size()) leafCache.resize(page + 1);
  if (!leafCache[page]) {
    if (cachedLeaves >= kLeafCacheMax) {
      for (auto& slot : leafCache) slot.reset();
      cachedLeaves = 0;
    }
    leafCache[page] = std::make_unique<CachedLeaf>();
    ++cachedLeaves;
  }
  CachedLeaf& c = *leafCache[page];
  c.node = std::move(n);
  c.tree = t;
  c.valid = true;
}

int CdxFile::Impl::takeLeaf(const CdxTree& t, uint32_t off, CdxNode& n) {
  const size_t page = off / kCdxPageSize;
  CachedLeaf* c = page < leafCache.size() ? leafCache[page].get() : nullptr;
  if (c == nullptr || !c->valid || off % kCdxPageSize != 0 || c->tree.header != t.header ||
      c->tree.keyLen != t.keyLen || c->tree.fill != t.fill)
    return readNode(t, off, n);
  n = std::move(c->node);
  c->valid = false;
  return ecOK;
}

int CdxFile::Impl::allocAtEnd(uint32_t count, uint32_t& off) {
  size_t start = (img.size() + kCdxPageSize - 1) / kCdxPageSize * kCdxPageSize;
  if (start + size_t(count) * kCdxPageSize > 0x7FFFFE00u) return ecDiskFull;
  off = uint32_t(start);
  img.resize(start + size_t(count) * kCdxPageSize, 0);
  return ecOK;
}

int CdxFile::Impl::allocPage(uint32_t& off) {
  uint32_t head = CdxGet32(at(kCdxHdrFreeList));
  if (!CdxIsNone(head)) {
    if (nodeOk(head)) {
      uint32_t next = CdxGet32(at(head));
      CdxPut32(at(kCdxHdrFreeList), nodeOk(next) ? next : 0);
      if (int rc = write(0, kCdxPageSize); rc != ecOK) return rc;
      std::memset(at(head), 0, kCdxPageSize);
      off = head;
      return ecOK;
    }
    // A broken free list only costs space: forget it.
    CdxPut32(at(kCdxHdrFreeList), 0);
    if (int rc = write(0, kCdxPageSize); rc != ecOK) return rc;
  }
  return allocAtEnd(1, off);
}

int CdxFile::Impl::freePage(uint32_t off) {
  if (!nodeOk(off)) return ecCdxDamaged;
  uint32_t head = CdxGet32(at(kCdxHdrFreeList));
  std::memset(at(off), 0, kCdxPageSize);
  CdxPut32(at(off), CdxIsNone(head) ? 0 : head);
  if (int rc = write(off, kCdxPageSize); rc != ecOK) return rc;
  CdxPut32(at(kCdxHdrFreeList), off);
  return write(0, kCdxPageSize);
}

int CdxFile::Impl::setRoot(const CdxTree& t, uint32_t off) {
  CdxPut32(at(t.header + kCdxHdrRoot), off);
  return write(t.header, kCdxPageSize);
}

int CdxFile::Impl::readNode(const CdxTree& t, uint32_t off, CdxNode& n) const {
  if (!nodeOk(off)) return ecCdxDamaged;
  return CdxDecodeNode(img.data() + off, t.keyLen, t.fill, n);
}

int CdxFile::Impl::writeNode(const CdxTree& t, uint32_t off, const CdxNode& n) {
  if (!nodeOk(off)) return ecCdxDamaged;
  uint8_t page[kCdxPageSize];
  if (!CdxEncodeNode(n, t.keyLen, t.fill, page)) return ecInternal;
  std::memcpy(at(off), page, kCdxPageSize);
  return write(off, kCdxPageSize);
}

int CdxFile::Impl::setLink(uint32_t page, int field, uint32_t value) {
  if (!nodeOk(page)) return ecCdxDamaged;
  CdxPut32(at(page) + field, value);
  return write(page, kCdxPageSize);
}

int CdxFile::Impl::used(const CdxTree& t, const CdxNode& n) const {
  if (n.IsLeaf()) return kCdxLeafEntries + CdxLeafBytes(n.entries, 0, n.entries.size(), t.keyLen, t.fill);
  return kCdxInteriorEntries + int(n.entries.size()) * (t.keyLen + 8);
}

bool CdxFile::Impl::fits(const CdxTree& t, const CdxNode& n) const { return used(t, n) <= kCdxPageSize; }

int CdxFile::Impl::descend(const CdxTree& t, std::string_view key, uint32_t recno, std::vector<Step>& path) {
  path.clear();
  uint32_t off = root(t);
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    if (!nodeOk(off)) return ecCdxDamaged;
    const uint8_t* p = at(off);
    uint16_t attr = CdxGet16(p + kCdxNodeAttr);
    int count = CdxGet16(p + kCdxNodeCount);
    if (attr > 3) return ecCdxDamaged;
    if (attr & kCdxAttrLeaf) {
      path.push_back({off, 0});
      return ecOK;
    }
    if (count < 1 || count > CdxInteriorCapacity(t.keyLen)) return ecCdxDamaged;
    const int stride = t.keyLen + 8;
    int lo = 0, hi = count;  // first entry not below the target
    while (lo < hi) {
      int mid = (lo + hi) / 2;
      const uint8_t* e = p + kCdxInteriorEntries + mid * stride;
      if (CompareTarget(e, CdxGet32BE(e + t.keyLen), key, recno, t.keyLen) < 0)
        lo = mid + 1;
      else
        hi = mid;
    }
    int i = std::min(lo, count - 1);
    path.push_back({off, i});
    off = CdxGet32BE(p + kCdxInteriorEntries + i * stride + t.keyLen + 4);
  }
  return ecCdxDamaged;
}

int CdxFile::Impl::parentNode(const CdxTree& t, std::vector<Step>& path, std::vector<CdxNode>& nodes,
                              std::vector<bool>& loaded, int level) {
  if (!loaded[size_t(level)]) {
    if (int rc = readNode(t, path[size_t(level)].offset, nodes[size_t(level)]); rc != ecOK) return rc;
    loaded[size_t(level)] = true;
  }
  const CdxNode& p = nodes[size_t(level)];
  const int i = path[size_t(level)].index;
  if (p.IsLeaf() || i >= int(p.children.size()) || p.children[size_t(i)] != path[size_t(level) + 1].offset)
    return ecCdxDamaged;
  return ecOK;
}

int CdxFile::Impl::commitLevel(const CdxTree& t, std::vector<Step>& path, std::vector<CdxNode>& nodes,
                               std::vector<bool>& loaded, int level, int insertedAt) {
  CdxNode& n = nodes[size_t(level)];
  const uint32_t off = path[size_t(level)].offset;
  const size_t L = size_t(level);

  if (n.entries.empty()) {
    if (level == 0) {
      n.attr = kCdxAttrLeaf | kCdxAttrRoot;
      n.children.clear();
      n.left = n.right = kCdxNone;
      return writeNode(t, off, n);
    }
    if (int rc = parentNode(t, path, nodes, loaded, level - 1); rc != ecOK) return rc;
    if (!CdxIsNone(n.left))
      if (int rc = setLink(n.left, kCdxNodeRight, n.right); rc != ecOK) return rc;
    if (!CdxIsNone(n.right))
      if (int rc = setLink(n.right, kCdxNodeLeft, n.left); rc != ecOK) return rc;
    CdxNode& p = nodes[L - 1];
    const int i = path[L - 1].index;
    p.entries.erase(p.entries.begin() + i);
    p.children.erase(p.children.begin() + i);
    if (int rc = freePage(off); rc != ecOK) return rc;
    return commitLevel(t, path, nodes, loaded, level - 1, -1);
  }

  if (level == 0 && !n.IsLeaf() && n.entries.size() == 1) {
    // A root with one child is replaced by that child.
    const uint32_t child = n.children[0];
    CdxNode c;
    if (int rc = readNode(t, child, c); rc != ecOK) return rc;
    c.attr |= kCdxAttrRoot;
    c.left = c.right = kCdxNone;
    if (int rc = writeNode(t, child, c); rc != ecOK) return rc;
    if (int rc = setRoot(t, child); rc != ecOK) return rc;
    return freePage(off);
  }

  uint8_t page[kCdxPageSize];
  int usedBytes = 0;
  if (CdxEncodeNode(n, t.keyLen, t.fill, page, &usedBytes)) {
    if (level > 0 && usedBytes < kCdxPageSize / 3) {
      // Underfull: join with a neighbour under the same parent if both fit in one page.
      if (int rc = parentNode(t, path, nodes, loaded, level - 1); rc != ecOK) return rc;
      CdxNode& p = nodes[L - 1];
      const int i = path[L - 1].index;
      const int j = i + 1 < int(p.children.size()) ? i + 1 : i - 1;
      if (j >= 0) {
        CdxNode s;
        if (int rc = readNode(t, p.children[size_t(j)], s); rc != ecOK) return rc;
        if (s.IsLeaf() != n.IsLeaf()) return ecCdxDamaged;
        const int li = std::min(i, j);
        CdxNode& a = j > i ? n : s;
        CdxNode& b = j > i ? s : n;
        const uint32_t aOff = p.children[size_t(li)];
        const uint32_t bOff = p.children[size_t(li) + 1];
        CdxNode m;
        m.attr = n.attr & kCdxAttrLeaf;
        m.left = a.left;
        m.right = b.right;
        m.entries = a.entries;
        m.entries.insert(m.entries.end(), b.entries.begin(), b.entries.end());
        if (!m.IsLeaf()) {
          m.children = a.children;
          m.children.insert(m.children.end(), b.children.begin(), b.children.end());
        }
        if (fits(t, m)) {
          if (int rc = writeNode(t, aOff, m); rc != ecOK) return rc;
          if (!CdxIsNone(m.right))
            if (int rc = setLink(m.right, kCdxNodeLeft, aOff); rc != ecOK) return rc;
          if (int rc = freePage(bOff); rc != ecOK) return rc;
          p.entries[size_t(li)] = m.entries.back();
          p.children[size_t(li)] = aOff;
          p.entries.erase(p.entries.begin() + li + 1);
          p.children.erase(p.children.begin() + li + 1);
          return commitLevel(t, path, nodes, loaded, level - 1, -1);
        }
      }
    }
    if (!nodeOk(off)) return ecCdxDamaged;
    std::memcpy(at(off), page, kCdxPageSize);
    if (int rc = write(off, kCdxPageSize); rc != ecOK) return rc;
    auto keep = [&] {
      if (n.IsLeaf()) cacheLeaf(t, off, std::move(n));
    };
    if (level == 0) {
      keep();
      return ecOK;
    }
    // Keep the parent's entry equal to this node's largest entry.
    const Step& ps = path[L - 1];
    if (!loaded[L - 1]) {
      const uint8_t* raw = at(ps.offset) + kCdxInteriorEntries + ps.index * (t.keyLen + 8);
      if (SameEntry(raw, t.keyLen, n.entries.back(), off)) {
        keep();
        return ecOK;
      }
    }
    if (int rc = parentNode(t, path, nodes, loaded, level - 1); rc != ecOK) return rc;
    CdxNode& p = nodes[L - 1];
    if (CdxCompare(p.entries[size_t(ps.index)], n.entries.back()) == 0) {
      keep();
      return ecOK;
    }
    p.entries[size_t(ps.index)] = n.entries.back();
    keep();
    return commitLevel(t, path, nodes, loaded, level - 1, -1);
  }

  // Split. Sequential inserts (the new entry last in the node) keep the left
  // page full and start a new one; otherwise split into balanced halves.
  const size_t N = n.entries.size();
  std::vector<size_t> cuts;
  if (n.IsLeaf()) {
    uint32_t maxRec = 0;
    for (const CdxEntry& e : n.entries) maxRec = std::max(maxRec, e.recno);
    const int bpe = CdxLeafBitsFor(t.keyLen, maxRec).bytes;
    std::vector<int> full(N), inc(N), pre(N + 1, 0);
    for (size_t i = 0; i < N; ++i) {
      int tr = CdxTrailCount(n.entries[i].key, t.fill);
      full[i] = t.keyLen - tr;
      inc[i] = i == 0 ? full[i] : full[i] - CdxDupCount(n.entries[i - 1].key, n.entries[i].key, tr);
      pre[i + 1] = pre[i] + inc[i];
    }
    auto cost = [&](size_t a, size_t b) { return int(b - a) * bpe + full[a] + pre[b] - pre[a + 1]; };
    size_t best = 0;
    int bestDiff = 1 << 30;
    if (insertedAt == int(N) - 1 && cost(0, N - 1) <= kCdxLeafSpace) {
      best = N - 1;
    } else {
      for (size_t m = 1; m < N; ++m) {
        int l = cost(0, m), r = cost(m, N);
        if (l <= kCdxLeafSpace && r <= kCdxLeafSpace && std::abs(l - r) < bestDiff) {
          bestDiff = std::abs(l - r);
          best = m;
        }
      }
    }
    if (best != 0) {
      cuts.push_back(best);
    } else {
      size_t a = 0;
      for (size_t b = 1; b < N; ++b)
        if (cost(a, b + 1) > kCdxLeafSpace) cuts.push_back(a = b);
    }
  } else {
    const size_t cap = size_t(CdxInteriorCapacity(t.keyLen));
    if (insertedAt == int(N) - 1 && N - 1 <= cap) {
      cuts.push_back(N - 1);
    } else {
      const size_t k = (N + cap - 1) / cap;
      for (size_t j = 1; j < k; ++j) cuts.push_back(N * j / k);
    }
  }
  const size_t k = cuts.size() + 1;
  std::vector<CdxNode> parts(k);
  std::vector<uint32_t> offs(k);
  offs[0] = off;
  for (size_t j = 1; j < k; ++j)
    if (int rc = allocPage(offs[j]); rc != ecOK) return rc;
  for (size_t j = 0; j < k; ++j) {
    const size_t a = j == 0 ? 0 : cuts[j - 1];
    const size_t b = j + 1 < k ? cuts[j] : N;
    CdxNode& q = parts[j];
    q.attr = n.attr & kCdxAttrLeaf;
    q.entries.assign(n.entries.begin() + long(a), n.entries.begin() + long(b));
    if (!n.IsLeaf()) q.children.assign(n.children.begin() + long(a), n.children.begin() + long(b));
    q.left = j == 0 ? n.left : offs[j - 1];
    q.right = j + 1 < k ? offs[j + 1] : n.right;
  }
  // New pages first, then the old one that links to them, then the old
  // right neighbour: a crash in between leaves a structure the check rejects.
  for (size_t j = k; j-- > 0;)
    if (int rc = writeNode(t, offs[j], parts[j]); rc != ecOK) return rc;
  if (!CdxIsNone(n.right))
    if (int rc = setLink(n.right, kCdxNodeLeft, offs[k - 1]); rc != ecOK) return rc;
  if (level == 0) {
    CdxNode r;
    r.attr = kCdxAttrRoot;
    for (size_t j = 0; j < k; ++j) {
      r.entries.push_back(parts[j].entries.back());
      r.children.push_back(offs[j]);
    }
    uint32_t roff;
    if (int rc = allocPage(roff); rc != ecOK) return rc;
    if (int rc = writeNode(t, roff, r); rc != ecOK) return rc;
    return setRoot(t, roff);
  }
  if (int rc = parentNode(t, path, nodes, loaded, level - 1); rc != ecOK) return rc;
  CdxNode& p = nodes[L - 1];
  const int i = path[L - 1].index;
  p.entries[size_t(i)] = parts[0].entries.back();
  for (size_t j = 1; j < k; ++j) {
    p.entries.insert(p.entries.begin() + i + long(j), parts[j].entries.back());
    p.children.insert(p.children.begin() + i + long(j), offs[j]);
  }
  return commitLevel(t, path, nodes, loaded, level - 1, i + int(k) - 1);
}

int CdxFile::Impl::insert(const CdxTree& t, std::string_view key, uint32_t recno) {
  std::vector<Step> path;
  if (int rc = descend(t, key, recno, path); rc != ecOK) return rc;
  const size_t L = path.size() - 1;
  std::vector<CdxNode> nodes(path.size());
  std::vector<bool> loaded(path.size(), false);
  if (int rc = takeLeaf(t, path[L].offset, nodes[L]); rc != ecOK) return rc;
  loaded[L] = true;
  auto& es = nodes[L].entries;
  CdxEntry e{std::string(key), recno};
  auto it = std::lower_bound(es.begin(), es.end(), e,
                             [](const CdxEntry& a, const CdxEntry& b) { return CdxCompare(a, b) < 0; });
  if (it != es.end() && CdxCompare(*it, e) == 0) return ecOK;
  // A new largest entry of a subtree: raise the interior bounds above it
  // first, top down. Cut short, that leaves bounds larger than their
  // subtree's keys, which every reader handles; the reverse order could
  // leave a bound below a key, which misroutes later searches.
  for (size_t l = 0; l < L; ++l) {
    uint8_t* raw = at(path[l].offset) + kCdxInteriorEntries + path[l].index * (t.keyLen + 8);
    if (CdxCompare(raw, CdxGet32BE(raw + t.keyLen), reinterpret_cast<const uint8_t*>(key.data()), recno,
                   t.keyLen) >= 0)
      continue;
    std::memcpy(raw, key.data(), size_t(t.keyLen));
    CdxPut32BE(raw + t.keyLen, recno);
    if (int rc = write(path[l].offset, kCdxPageSize); rc != ecOK) return rc;
  }
  const int pos = int(it - es.begin());
  es.insert(it, std::move(e));
  CdxUpdateLeafCounts(nodes[L], size_t(pos), true, t.fill);
  return commitLevel(t, path, nodes, loaded, int(L), pos);
}

int CdxFile::Impl::remove(const CdxTree& t, std::string_view key, uint32_t recno) {
  std::vector<Step> path;
  if (int rc = descend(t, key, recno, path); rc != ecOK) return rc;
  const size_t L = path.size() - 1;
  std::vector<CdxNode> nodes(path.size());
  std::vector<bool> loaded(path.size(), false);
  if (int rc = takeLeaf(t, path[L].offset, nodes[L]); rc != ecOK) return rc;
  loaded[L] = true;
  auto& es = nodes[L].entries;
  CdxEntry e{std::string(key), recno};
  auto it = std::lower_bound(es.begin(), es.end(), e,
                             [](const CdxEntry& a, const CdxEntry& b) { return CdxCompare(a, b) < 0; });
  if (it == es.end() || CdxCompare(*it, e) != 0) return ecCdxKeyNotFound;
  const size_t pos = size_t(it - es.begin());
  es.erase(it);
  CdxUpdateLeafCounts(nodes[L], pos, false, t.fill);
  return commitLevel(t, path, nodes, loaded, int(L), -1);
}

int CdxFile::Impl::collectPages(const CdxTree& t, std::vector<uint32_t>& out) {
  out.clear();
  std::vector<bool> seen(pages(), false);
  std::vector<std::pair<uint32_t, int>> stack{{root(t), 0}};
  while (!stack.empty()) {
    auto [off, depth] = stack.back();
    stack.pop_back();
    if (!nodeOk(off) || depth >= kMaxDepth || seen[off / kCdxPageSize]) return ecCdxDamaged;
    seen[off / kCdxPageSize] = true;
    out.push_back(off);
    const uint8_t* p = at(off);
    uint16_t attr;
    int count;
    if (CdxScanNode(p, t.keyLen, attr, count) != ecOK) return ecCdxDamaged;
    if (attr & kCdxAttrLeaf) continue;
    for (int i = 0; i < count; ++i)
      stack.push_back({CdxGet32BE(p + kCdxInteriorEntries + i * (t.keyLen + 8) + t.keyLen + 4), depth + 1});
  }
  return ecOK;
}

int CdxFile::Impl::bulkBuild(const CdxTree& t, std::vector<CdxEntry>& sorted) {
  std::vector<uint32_t> old;
  const bool freeOld = collectPages(t, old) == ecOK;  // a damaged old tree is left to leak

  // Leaves, filled greedily in key order.
  std::vector<CdxNode> level;
  {
    size_t a = 0;
    const size_t N = sorted.size();
    while (a < N || level.empty()) {
      CdxNode leaf;
      leaf.attr = kCdxAttrLeaf;
      uint32_t maxRec = 0;
      int keyBytes = 0;
      size_t b = a;
      while (b < N) {
        const CdxEntry& e = sorted[b];
        int tr = CdxTrailCount(e.key, t.fill);
        int fresh = t.keyLen - tr - (b == a ? 0 : CdxDupCount(sorted[b - 1].key, e.key, tr));
        uint32_t mr = std::max(maxRec, e.recno);
        int size = int(b - a + 1) * CdxLeafBitsFor(t.keyLen, mr).bytes + keyBytes + fresh;
        if (size > kCdxLeafSpace) break;
        maxRec = mr;
        keyBytes += fresh;
        ++b;
      }
      for (size_t i = a; i < b; ++i) leaf.entries.push_back(std::move(sorted[i]));
      level.push_back(std::move(leaf));
      a = b;
    }
  }
  uint32_t start = 0;
  if (int rc = allocAtEnd(uint32_t(level.size()), start); rc != ecOK) return rc;
  const uint32_t firstNew = start;
  auto linkAndEncode = [&](std::vector<CdxNode>& nodes, uint32_t base) -> int {
    for (size_t i = 0; i < nodes.size(); ++i) {
      nodes[i].left = i == 0 ? kCdxNone : base + uint32_t(i - 1) * kCdxPageSize;
      nodes[i].right = i + 1 == nodes.size() ? kCdxNone : base + uint32_t(i + 1) * kCdxPageSize;
      if (nodes.size() == 1) nodes[i].attr |= kCdxAttrRoot;
      if (!CdxEncodeNode(nodes[i], t.keyLen, t.fill, at(base + uint32_t(i) * kCdxPageSize))) return ecInternal;
    }
    return ecOK;
  };
  if (int rc = linkAndEncode(level, start); rc != ecOK) return rc;
  // Interior levels, entries spread evenly over the fewest nodes.
  const size_t cap = size_t(CdxInteriorCapacity(t.keyLen));
  while (level.size() > 1) {
    const size_t n = level.size();
    const size_t k = (n + cap - 1) / cap;
    std::vector<CdxNode> up(k);
    for (size_t j = 0; j < k; ++j) {
      up[j].attr = 0;
      for (size_t i = n * j / k; i < n * (j + 1) / k; ++i) {
        up[j].entries.push_back(level[i].entries.back());
        up[j].children.push_back(start + uint32_t(i) * kCdxPageSize);
      }
    }
    if (int rc = allocAtEnd(uint32_t(k), start); rc != ecOK) return rc;
    if (int rc = linkAndEncode(up, start); rc != ecOK) return rc;
    level = std::move(up);
  }
  if (int rc = write(firstNew, img.size() - firstNew); rc != ecOK) return rc;
  if (int rc = setRoot(t, start); rc != ecOK) return rc;
  if (freeOld && !old.empty()) {
    // Chain the old pages into the free list with one header write.
    uint32_t head = CdxGet32(at(kCdxHdrFreeList));
    for (size_t i = 0; i < old.size(); ++i) {
      std::memset(at(old[i]), 0, kCdxPageSize);
      CdxPut32(at(old[i]), i + 1 < old.size() ? old[i + 1] : (CdxIsNone(head) ? 0 : head));
      if (int rc = write(old[i], kCdxPageSize); rc != ecOK) return rc;
    }
    CdxPut32(at(kCdxHdrFreeList), old[0]);
    if (int rc = write(0, kCdxPageSize); rc != ecOK) return rc;
  }
  return ecOK;
}

int CdxFile::Impl::firstLeaf(const CdxTree& t, uint32_t& leaf) {
  uint32_t off = root(t);
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    if (!nodeOk(off)) return ecCdxDamaged;
    const uint8_t* p = at(off);
    uint16_t attr = CdxGet16(p + kCdxNodeAttr);
    if (attr > 3) return ecCdxDamaged;
    if (attr & kCdxAttrLeaf) {
      leaf = off;
      return ecOK;
    }
    int count = CdxGet16(p + kCdxNodeCount);
    if (count < 1 || count > CdxInteriorCapacity(t.keyLen)) return ecCdxDamaged;
    off = CdxGet32BE(p + kCdxInteriorEntries + t.keyLen + 4);
  }
  return ecCdxDamaged;
}

int CdxFile::Impl::lastLeaf(const CdxTree& t, uint32_t& leaf) {
  uint32_t off = root(t);
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    if (!nodeOk(off)) return ecCdxDamaged;
    const uint8_t* p = at(off);
    uint16_t attr = CdxGet16(p + kCdxNodeAttr);
    if (attr > 3) return ecCdxDamaged;
    if (attr & kCdxAttrLeaf) {
      leaf = off;
      return ecOK;
    }
    int count = CdxGet16(p + kCdxNodeCount);
    if (count < 1 || count > CdxInteriorCapacity(t.keyLen)) return ecCdxDamaged;
    off = CdxGet32BE(p + kCdxInteriorEntries + (count - 1) * (t.keyLen + 8) + t.keyLen + 4);
  }
  return ecCdxDamaged;
}

int CdxFile::Impl::seek(const CdxTree& t, std::string_view key, uint32_t recno, bool after, CdxLeafPos& pos) {
  uint32_t off = root(t);
  const int stride = t.keyLen + 8;
  auto below = [&](const uint8_t* k, uint32_t r) {
    int c = CompareTarget(k, r, key, recno, t.keyLen);
    return after ? c <= 0 : c < 0;
  };
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    if (!nodeOk(off)) return ecCdxDamaged;
    const uint8_t* p = at(off);
    uint16_t attr = CdxGet16(p + kCdxNodeAttr);
    int count = CdxGet16(p + kCdxNodeCount);
    if (attr > 3) return ecCdxDamaged;
    if (attr & kCdxAttrLeaf) {
      CdxNode n;
      if (int rc = CdxDecodeNode(p, t.keyLen, t.fill, n); rc != ecOK) return rc;
      int lo = 0, hi = int(n.entries.size());
      while (lo < hi) {
        int mid = (lo + hi) / 2;
        const CdxEntry& e = n.entries[size_t(mid)];
        if (below(reinterpret_cast<const uint8_t*>(e.key.data()), e.recno))
          lo = mid + 1;
        else
          hi = mid;
      }
      pos.leaf = off;
      pos.index = lo;
      return ecOK;
    }
    if (count < 1 || count > CdxInteriorCapacity(t.keyLen)) return ecCdxDamaged;
    int lo = 0, hi = count;
    while (lo < hi) {
      int mid = (lo + hi) / 2;
      const uint8_t* e = p + kCdxInteriorEntries + mid * stride;
      if (below(e, CdxGet32BE(e + t.keyLen)))
        lo = mid + 1;
      else
        hi = mid;
    }
    int i = std::min(lo, count - 1);
    off = CdxGet32BE(p + kCdxInteriorEntries + i * stride + t.keyLen + 4);
  }
  return ecCdxDamaged;
}

int CdxFile::Impl::check(const CdxTree& t, int64_t expected, bool full, uint32_t* countOut) {
  std::vector<bool> seen(pages(), false);
  uint64_t count = 0;
  if (!full) {
    // The leaves the interior nodes point to, in tree order (interior pages
    // are few, and leaves are not decoded), must be exactly the leaf chain:
    // a change cut short between its page writes breaks this agreement.
    std::vector<uint32_t> treeLeaves;
    std::vector<std::pair<uint32_t, int>> stack{{root(t), 0}};
    int leafDepth = -1;
    while (!stack.empty()) {
      auto [off, depth] = stack.back();
      stack.pop_back();
      if (!nodeOk(off) || depth >= kMaxDepth) return ecCdxDamaged;
      const uint8_t* p = at(off);
      const uint16_t attr = CdxGet16(p + kCdxNodeAttr);
      if (attr > 3) return ecCdxDamaged;
      if (attr & kCdxAttrLeaf) {
        if (leafDepth < 0) leafDepth = depth;
        if (depth != leafDepth) return ecCdxDamaged;
        treeLeaves.push_back(off);
        continue;
      }
      if (seen[off / kCdxPageSize]) return ecCdxDamaged;
      seen[off / kCdxPageSize] = true;
      const int n = CdxGet16(p + kCdxNodeCount);
      if (n < 1 || n > CdxInteriorCapacity(t.keyLen)) return ecCdxDamaged;
      for (int i = n; i-- > 0;)
        stack.push_back({CdxGet32BE(p + kCdxInteriorEntries + i * (t.keyLen + 8) + t.keyLen + 4), depth + 1});
    }
    uint32_t off = treeLeaves.front();
    uint32_t prev = kCdxNone;
    for (size_t k = 0;; ++k) {
      if (k >= treeLeaves.size() || off != treeLeaves[k] || seen[off / kCdxPageSize]) return ecCdxDamaged;
      seen[off / kCdxPageSize] = true;
      const uint8_t* p = at(off);
      uint16_t attr;
      int n;
      if (CdxScanNode(p, t.keyLen, attr, n) != ecOK || !(attr & kCdxAttrLeaf)) return ecCdxDamaged;
      uint32_t left = CdxGet32(p + kCdxNodeLeft);
      if (CdxIsNone(prev) ? !CdxIsNone(left) : left != prev) return ecCdxDamaged;
      count += uint32_t(n);
      uint32_t right = CdxGet32(p + kCdxNodeRight);
      if (CdxIsNone(right)) {
        if (k + 1 != treeLeaves.size()) return ecCdxDamaged;
        break;
      }
      prev = off;
      off = right;
    }
  } else {
    // Depth-first over the tree: every node sound, keys in strict order,
    // interior entries bounding their children, all leaves on one level and
    // chained left to right in tree order.
    struct Frame {
      uint32_t off;
      int depth;
      CdxEntry lower, upper;  // parent entries: lower < every key below <= upper
      bool hasLower, hasUpper;
    };
    std::vector<Frame> stack{{root(t), 0, {}, {}, false, false}};
    int leafDepth = -1;
    uint32_t prevLeaf = kCdxNone;
    CdxEntry prevEntry;
    bool havePrev = false;
    while (!stack.empty()) {
      Frame f = std::move(stack.back());
      stack.pop_back();
      if (!nodeOk(f.off) || f.depth >= kMaxDepth || seen[f.off / kCdxPageSize]) return ecCdxDamaged;
      seen[f.off / kCdxPageSize] = true;
      CdxNode n;
      if (readNode(t, f.off, n) != ecOK) return ecCdxDamaged;
      if (f.depth == 0 && !n.IsRoot()) return ecCdxDamaged;
      for (size_t i = 0; i < n.entries.size(); ++i) {
        if (i > 0 && CdxCompare(n.entries[i - 1], n.entries[i]) >= 0) return ecCdxDamaged;
        if (f.hasUpper && CdxCompare(n.entries[i], f.upper) > 0) return ecCdxDamaged;
        if (f.hasLower && CdxCompare(n.entries[i], f.lower) <= 0) return ecCdxDamaged;
      }
      if (n.IsLeaf()) {
        if (leafDepth < 0) leafDepth = f.depth;
        if (f.depth != leafDepth) return ecCdxDamaged;
        if (CdxIsNone(prevLeaf) ? !CdxIsNone(n.left) : n.left != prevLeaf) return ecCdxDamaged;
        if (!CdxIsNone(prevLeaf) && CdxGet32(at(prevLeaf) + kCdxNodeRight) != f.off) return ecCdxDamaged;
        if (!n.entries.empty()) {
          if (havePrev && CdxCompare(prevEntry, n.entries.front()) >= 0) return ecCdxDamaged;
          prevEntry = n.entries.back();
          havePrev = true;
        }
        prevLeaf = f.off;
        count += n.entries.size();
        continue;
      }
      for (size_t i = n.entries.size(); i-- > 0;) {
        Frame c{n.children[i], f.depth + 1, i > 0 ? n.entries[i - 1] : f.lower, n.entries[i],
                i > 0 || f.hasLower, true};
        stack.push_back(std::move(c));
      }
    }
    if (!CdxIsNone(prevLeaf) && !CdxIsNone(CdxGet32(at(prevLeaf) + kCdxNodeRight))) return ecCdxDamaged;
  }
  if (countOut != nullptr) *countOut = uint32_t(count);
  if (expected >= 0 && uint64_t(expected) != count) return ecCdxDamaged;
  return ecOK;
}

}  // namespace qc
