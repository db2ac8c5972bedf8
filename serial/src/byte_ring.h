// A fixed-capacity FIFO of bytes (the port's input buffer and output queue).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace qc {

class ByteRing {
 public:
  void Reset(size_t capacity) {
    data_.assign(capacity, 0);
    head_ = 0;
    size_ = 0;
  }
  size_t Capacity() const { return data_.size(); }
  size_t Size() const { return size_; }
  size_t Free() const { return data_.size() - size_; }
  bool Empty() const { return size_ == 0; }
  void Clear() {
    head_ = 0;
    size_ = 0;
  }

  // Appends as much as fits; returns the count appended.
  size_t Push(const uint8_t* src, size_t len) {
    len = std::min(len, Free());
    for (size_t done = 0; done < len;) {
      const size_t tail = (head_ + size_ + done) % data_.size();
      const size_t run = std::min(len - done, data_.size() - tail);
      std::memcpy(&data_[tail], src + done, run);
      done += run;
    }
    size_ += len;
    return len;
  }

  // Copies up to `len` of the oldest bytes without removing them.
  size_t Peek(uint8_t* dst, size_t len) const {
    len = std::min(len, size_);
    for (size_t done = 0; done < len;) {
      const size_t pos = (head_ + done) % data_.size();
      const size_t run = std::min(len - done, data_.size() - pos);
      std::memcpy(dst + done, &data_[pos], run);
      done += run;
    }
    return len;
  }

  void Drop(size_t len) {
    len = std::min(len, size_);
    head_ = size_ == len ? 0 : (head_ + len) % data_.size();
    size_ -= len;
  }

  size_t Pop(uint8_t* dst, size_t len) {
    len = Peek(dst, len);
    Drop(len);
    return len;
  }

 private:
  std::vector<uint8_t> data_;
  size_t head_ = 0;
  size_t size_ = 0;
};

}  // namespace qc
