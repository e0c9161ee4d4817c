#include "picture_budget.h"

#include <algorithm>

namespace zq_rtsp {

PictureBudget::Share::Share(PictureBudget& budget) : budget_(budget) {
  std::lock_guard lock(budget_.mutex_);
  budget_.shares_.push_back(this);
}

PictureBudget::Share::~Share() {
  std::lock_guard lock(budget_.mutex_);
  budget_.Release(*this);
  auto& shares = budget_.shares_;
  shares.erase(std::find(shares.begin(), shares.end(), this));
}

void PictureBudget::Release(Share& share) {
  total_ -= share.bytes_;
  share.bytes_ = 0;
}

void PictureBudget::Share::Set(std::size_t bytes) {
  PictureBudget& b = budget_;
  std::lock_guard lock(b.mutex_);
  b.total_ = b.total_ - bytes_ + bytes;
  bytes_ = bytes;
  b.peak_ = std::max(b.peak_, b.total_);
  if (b.total_ <= b.limit_) return;
  // The bytes of a play asked to end count until its thread sees the request
  // and lets go; on a busy machine that takes a while, and the others go on
  // receiving meanwhile. So every call past the budget asks one more play,
  // the largest, and the sum stays near the budget. Those asked are the
  // largest holders: a play within its even part is never one of them.
  const std::size_t even_part = b.limit_ / b.shares_.size();
  Share* largest = nullptr;
  for (Share* s : b.shares_)
    if (!s->asked_to_end() && s->bytes_ > even_part && (largest == nullptr || s->bytes_ > largest->bytes_))
      largest = s;
  if (largest != nullptr) largest->end_.store(true);
}

void PictureBudget::Share::Restart() {
  std::lock_guard lock(budget_.mutex_);
  budget_.Release(*this);
  end_.store(false);
}

std::size_t PictureBudget::total() const {
  std::lock_guard lock(mutex_);
  return total_;
}

std::size_t PictureBudget::peak() const {
  std::lock_guard lock(mutex_);
  return peak_;
}

void PictureBudget::ResetPeak() {
  std::lock_guard lock(mutex_);
  peak_ = total_;
}

}  // namespace zq_rtsp
