#pragma once
// A device's OEM file stores: MP3 files (played on the device's speaker) and
// application files, each kept by name. The SDK lists them a page at a time
// (system control 1021), deletes them (1024), plays and stops a stored MP3
// (1022), uploads into them (transfer kinds 5 and 3) and fetches them by
// their listed path ("/oem/mp3/NAME", "/oem/app/NAME"). Faults make the
// device refuse uploads, deletes or plays, or repeat its last page for every
// page past the end.
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace kelvara::devsim {

struct OemAnswer {
  int result = 0;
  std::string text;
};

class OemFileStores {
 public:
  static constexpr std::size_t kPageSize = 10;
  static constexpr std::size_t kMaxName = 255;

  // The answer to system controls 1021, 1022 and 1024; none for other codes.
  std::optional<OemAnswer> Control(uint32_t code, const std::string& request);
  // Whether an upload of this transfer kind may start: nothing for kinds the
  // stores do not hold, else 0 or the refusing result.
  std::optional<int> AcceptUpload(uint32_t kind, const std::string& name) const;
  // Keeps an uploaded file; false for kinds the stores do not hold.
  bool Store(uint32_t kind, const std::string& name, const std::string& content);
  // A stored file by its listed path.
  bool Read(const std::string& path, std::string& content) const;
  // Control commands (docs/devsim.md): a file into a store ("mp3" or
  // "app"), and "list", "play" and "fault" after "oem D"; "ok ..." or "err ...".
  std::string Put(const std::string& kind, const std::string& name, const std::string& content);
  std::string Command(const std::string& args);

 private:
  enum Kind { kMp3, kApp, kKinds };
  struct Found {
    Kind kind;
    std::string name;
  };
  static std::optional<Kind> KindOfTransfer(uint32_t kind);
  static std::string PathOf(Kind kind, const std::string& name);
  static bool ValidName(const std::string& name);
  // The store and name a path or bare name refers to, when it is stored.
  std::optional<Found> Find(const std::string& pathOrName) const;
  OemAnswer List(Kind kind, long page) const;

  mutable std::mutex mutex_;
  std::map<std::string, std::string> files_[kKinds];
  std::string playing_;  // listed path; empty when stopped
  bool loop_ = false;
  int plays_ = 0;
  bool refuse_upload_ = false, refuse_delete_ = false, refuse_listen_ = false, repeat_pages_ = false;
};

}  // namespace kelvara::devsim
