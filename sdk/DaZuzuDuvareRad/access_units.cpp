#include "access_units.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace zq_rtsp {

namespace {
// Completed units up to this size keep their storage for the next unit.
constexpr std::size_t kKeptStorage = std::size_t{1} << 20;
constexpr std::size_t kFirstStorage = std::size_t{64} << 10;

std::size_t PageRounded(std::size_t n) {
  static const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return (n + page - 1) / page * page;
}
}  // namespace

bool UnitBuffer::Append(const std::uint8_t* bytes, std::size_t n, std::size_t max_capacity) {
  const std::size_t needed = size_ + n;
  if (needed > capacity_) {
    const std::size_t doubled = std::max({needed, 2 * capacity_, kFirstStorage});
    const std::size_t grown = PageRounded(std::min(doubled, std::max(needed, max_capacity)));
    // A new mapping and a copy (not mremap, which the thread sanitizer
    // cannot follow); doubling keeps the copies to about the bytes held.
    void* p = mmap(nullptr, grown, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return false;
    if (size_ > 0) std::memcpy(p, data_, size_);
    if (data_ != nullptr) munmap(data_, capacity_);
    data_ = static_cast<std::uint8_t*>(p);
    capacity_ = grown;
  }
  if (n > 0) std::memcpy(data_ + size_, bytes, n);
  size_ = needed;
  return true;
}

void UnitBuffer::Free() {
  if (data_ != nullptr) munmap(data_, capacity_);
  data_ = nullptr;
  size_ = capacity_ = 0;
}

void UnitBuffer::swap(UnitBuffer& other) noexcept {
  std::swap(data_, other.data_);
  std::swap(size_, other.size_);
  std::swap(capacity_, other.capacity_);
}

AccessUnitAssembler::Result AccessUnitAssembler::Add(std::int64_t pts, const std::uint8_t* data, std::size_t size) {
  const bool next = started_ && pts != current_pts_;
  if ((next ? 0 : current_.size()) + size > max_unit_bytes_) return Result::kTooLarge;
  if (next) {
    current_.swap(done_);
    done_pts_ = current_pts_;
    current_.clear();  // keeps the storage of the unit completed before
  }
  if (!current_.Append(data, size, max_unit_bytes_)) {
    if (next) current_.swap(done_);  // the unit before is still the one being assembled
    return Result::kTooLarge;
  }
  started_ = true;
  current_pts_ = pts;
  return next ? Result::kCompleted : Result::kAppended;
}

void AccessUnitAssembler::ReleaseCompleted() {
  if (done_.capacity() > kKeptStorage) done_.Free();
}

}  // namespace zq_rtsp
