// A growable byte buffer for output text that writers fill in place. Unlike
// std::string it never zero-fills what it grows by, and it keeps some slack
// free at the end so that short pieces can be written without a size check
// of their own.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

namespace vxtrace {

class TextBuffer {
 public:
  // Room that make_room(kSlack) guarantees; pieces up to this long may be
  // written at end() after one call.
  static constexpr size_t kSlack = 128;

  explicit TextBuffer(size_t capacity = size_t{1} << 20) { grow_to(capacity); }
  TextBuffer(const TextBuffer &) = delete;
  TextBuffer &operator=(const TextBuffer &) = delete;
  TextBuffer(TextBuffer &&other) noexcept { *this = std::move(other); }
  TextBuffer &operator=(TextBuffer &&other) noexcept {
    data_ = std::move(other.data_);
    cursor_ = std::exchange(other.cursor_, nullptr);
    limit_ = std::exchange(other.limit_, nullptr);
    return *this;
  }

  char *end() { return cursor_; }
  // Makes room for n more bytes at end().
  void make_room(size_t n) {
    if (static_cast<size_t>(limit_ - cursor_) < n) grow_to(size() + n);
  }
  // Records that the bytes up to new_end have been written.
  void commit(char *new_end) { cursor_ = new_end; }

  void append(const char *text, size_t length) {
    make_room(length);
    std::memcpy(cursor_, text, length);
    cursor_ += length;
  }
  void append(std::string_view text) { append(text.data(), text.size()); }

  const char *data() const { return data_.get(); }
  size_t size() const { return static_cast<size_t>(cursor_ - data_.get()); }
  size_t capacity() const { return static_cast<size_t>(limit_ - data_.get()); }
  bool empty() const { return size() == 0; }
  std::string_view view() const { return {data_.get(), size()}; }
  void clear() { cursor_ = data_.get(); }
  // Drops everything after the first length bytes.
  void truncate(size_t length) {
    if (length < size()) cursor_ = data_.get() + length;
  }

 private:
  void grow_to(size_t wanted) {
    const size_t size = this->size();
    size_t capacity = std::max(this->capacity(), kSlack);
    while (capacity < wanted) capacity *= 2;
    std::unique_ptr<char[]> grown(new char[capacity]);
    if (data_ != nullptr) std::memcpy(grown.get(), data_.get(), size);
    data_ = std::move(grown);
    cursor_ = data_.get() + size;
    limit_ = data_.get() + capacity;
  }

  std::unique_ptr<char[]> data_;
  char *cursor_ = nullptr;
  char *limit_ = nullptr;
};

}  // namespace vxtrace
