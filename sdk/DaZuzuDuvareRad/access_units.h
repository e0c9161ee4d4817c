#pragma once
// Access units of an RTP video stream from libavformat's unparsed packets
// (Annex B pieces: single NAL units, aggregates and fragments). Every packet
// of one picture carries the picture's timestamp, so a packet with another
// timestamp completes the unit before it. A unit is bounded: a stream whose
// picture never ends must not grow memory without end.
#include <cstddef>
#include <cstdint>

namespace zq_rtsp {

// The bytes of one unit, in storage mapped straight from the kernel: what is
// freed goes back to the system at once, where a thread's C heap would keep
// the largest picture it ever held.
class UnitBuffer {
 public:
  UnitBuffer() = default;
  ~UnitBuffer() { Free(); }
  UnitBuffer(const UnitBuffer&) = delete;
  UnitBuffer& operator=(const UnitBuffer&) = delete;

  const std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  std::uint8_t operator[](std::size_t i) const { return data_[i]; }
  void clear() { size_ = 0; }
  // Appends, growing the storage (doubling, at most to `max_capacity`);
  // false when the storage cannot grow.
  bool Append(const std::uint8_t* bytes, std::size_t n, std::size_t max_capacity);
  void Free();
  void swap(UnitBuffer& other) noexcept;

 private:
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0, capacity_ = 0;
};

class AccessUnitAssembler {
 public:
  explicit AccessUnitAssembler(std::size_t max_unit_bytes) : max_unit_bytes_(max_unit_bytes) {}

  enum class Result {
    kAppended,   // the packet continues the unit being assembled
    kCompleted,  // the unit before this packet is in completed(); the packet starts the next
    kTooLarge,   // the unit would pass the bound (or its storage cannot grow); nothing was added
  };
  Result Add(std::int64_t pts, const std::uint8_t* data, std::size_t size);

  // The last completed unit, valid until the next Add or ReleaseCompleted.
  const UnitBuffer& completed() const { return done_; }
  std::int64_t completed_pts() const { return done_pts_; }
  // Called once the completed unit is used: frees its storage when large
  // (small storage is kept for the next unit).
  void ReleaseCompleted();
  // Bytes of the unit being assembled.
  std::size_t pending_bytes() const { return current_.size(); }
  // Bytes of storage kept (the unit being assembled and the completed one).
  std::size_t storage_bytes() const { return current_.capacity() + done_.capacity(); }

 private:
  const std::size_t max_unit_bytes_;
  UnitBuffer current_, done_;
  std::int64_t current_pts_ = 0, done_pts_ = 0;
  bool started_ = false;
};

}  // namespace zq_rtsp
