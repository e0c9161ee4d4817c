#pragma once
// Access units of an RTP video stream from libavformat's unparsed packets
// (Annex B pieces: single NAL units, aggregates and fragments). Every packet
// of one picture carries the picture's timestamp, so a packet with another
// timestamp completes the unit before it. A unit is bounded: a stream whose
// picture never ends must not grow memory without end.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zq_rtsp {

class AccessUnitAssembler {
 public:
  explicit AccessUnitAssembler(std::size_t max_unit_bytes) : max_unit_bytes_(max_unit_bytes) {}

  enum class Result {
    kAppended,   // the packet continues the unit being assembled
    kCompleted,  // the unit before this packet is in completed(); the packet starts the next
    kTooLarge,   // the unit would pass the bound; nothing was added
  };
  Result Add(std::int64_t pts, const std::uint8_t* data, std::size_t size);

  // The last completed unit, valid until the next Add.
  const std::vector<std::uint8_t>& completed() const { return done_; }
  std::int64_t completed_pts() const { return done_pts_; }
  // Bytes of the unit being assembled.
  std::size_t pending_bytes() const { return current_.size(); }

 private:
  const std::size_t max_unit_bytes_;
  std::vector<std::uint8_t> current_, done_;
  std::int64_t current_pts_ = 0, done_pts_ = 0;
  bool started_ = false;
};

}  // namespace zq_rtsp
