#pragma once
// What the plays of the process hold together: the storage of pictures being
// assembled and the frames held for the media description. Each play bounds
// its own holding; this budget bounds their sum, so a grid of streams whose
// pictures never end cannot take the machine's memory. Past the budget the
// play holding the most is asked to end its connection (it connects again
// after its pause), whichever stream's packet came last: the stream sending
// huge pictures loses them. A play holding no more than its even part of the
// budget (the budget / the number of plays) is never asked, so panes whose
// pictures are of an ordinary size keep theirs even while the plays asked to
// end have not yet let go.
#include <atomic>
#include <cstddef>
#include <mutex>
#include <vector>

namespace zq_rtsp {

class PictureBudget {
 public:
  explicit PictureBudget(std::size_t limit) : limit_(limit) {}
  PictureBudget(const PictureBudget&) = delete;
  PictureBudget& operator=(const PictureBudget&) = delete;

  // One play's part of the budget, for the play's lifetime.
  class Share {
   public:
    explicit Share(PictureBudget& budget);
    ~Share();
    Share(const Share&) = delete;
    Share& operator=(const Share&) = delete;

    // What the play holds now. While the plays hold more than the budget
    // together, each call asks the largest play not yet asked (this one or
    // another) to end, if it holds more than its even part.
    void Set(std::size_t bytes);
    // Whether the budget asked this play to end its connection (any thread).
    bool asked_to_end() const { return end_.load(std::memory_order_relaxed); }
    // A new connection: holds nothing and is no longer asked to end.
    void Restart();

   private:
    friend class PictureBudget;
    PictureBudget& budget_;
    std::size_t bytes_ = 0;  // under the budget's mutex
    std::atomic<bool> end_{false};
  };

  std::size_t limit() const { return limit_; }
  // Bytes held now by every play, those asked to end included.
  std::size_t total() const;
  // The most held at once since the last reset.
  std::size_t peak() const;
  void ResetPeak();

 private:
  // Removes a share's bytes from the sums (the mutex held).
  void Release(Share& share);

  const std::size_t limit_;
  mutable std::mutex mutex_;
  std::vector<Share*> shares_;
  std::size_t total_ = 0;
  std::size_t peak_ = 0;
};

}  // namespace zq_rtsp
