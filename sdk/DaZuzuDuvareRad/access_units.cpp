#include "access_units.h"

#include <utility>

namespace zq_rtsp {

AccessUnitAssembler::Result AccessUnitAssembler::Add(std::int64_t pts, const std::uint8_t* data, std::size_t size) {
  const bool next = started_ && pts != current_pts_;
  if ((next ? 0 : current_.size()) + size > max_unit_bytes_) return Result::kTooLarge;
  if (next) {
    std::swap(current_, done_);
    done_pts_ = current_pts_;
    current_.clear();  // keeps the storage of the unit completed before
  }
  started_ = true;
  current_pts_ = pts;
  current_.insert(current_.end(), data, data + size);
  return next ? Result::kCompleted : Result::kAppended;
}

}  // namespace zq_rtsp
