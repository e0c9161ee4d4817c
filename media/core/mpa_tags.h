#pragma once
// Metadata blocks at the ends of MP3 files (ID3v1, ID3v2, APE, Lyrics3) and
// the search that removes them from the audio range. Every size read from a
// tag is checked against the range before it moves the range.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "media/core/mpa_exception.h"
#include "media/core/mpa_file_stream.h"

namespace kelvara::media {

class CTag {
 public:
  virtual ~CTag() = default;
  const std::string& GetName() const { return name_; }
  std::int64_t GetOffset() const { return offset_; }
  std::int64_t GetSize() const { return size_; }
  bool IsAtEnd() const { return atEnd_; }
  // major + minor / 10 + revision / 100
  float GetVersion() const { return version_; }

 protected:
  CTag(CMPAFileStream& stream, std::string name, bool atEnd, std::int64_t offset = 0, std::int64_t size = 0)
      : stream_(stream), name_(std::move(name)), offset_(offset), size_(size), atEnd_(atEnd) {}
  void SetVersion(int major, int minor = 0, int revision = 0) {
    version_ = static_cast<float>(major) + minor / 10.0f + revision / 100.0f;
  }

  CMPAFileStream& stream_;
  std::string name_;
  std::int64_t offset_;
  std::int64_t size_;
  bool atEnd_;
  float version_ = 0.0f;
};

// Each finder returns the tag found at the start (`offset` = begin) or at the
// end (`offset` = end) of the range [begin, end), or none.
class CID3V1Tag : public CTag {
 public:
  static std::unique_ptr<CID3V1Tag> FindTag(CMPAFileStream& stream, std::int64_t begin, std::int64_t end);
  CID3V1Tag(CMPAFileStream& stream, std::int64_t offset);
};

class CID3V2Tag : public CTag {
 public:
  static std::unique_ptr<CID3V2Tag> FindTag(CMPAFileStream& stream, bool atEnd, std::int64_t begin, std::int64_t end);
  bool unsynchronisation = false, extendedHeader = false, experimental = false, footer = false;

 private:
  CID3V2Tag(CMPAFileStream& stream, bool atEnd) : CTag(stream, "ID3", atEnd) {}
};

class CAPETag : public CTag {
 public:
  static std::unique_ptr<CAPETag> FindTag(CMPAFileStream& stream, bool atEnd, std::int64_t begin, std::int64_t end);
  std::uint32_t itemCount = 0;
  bool hasHeader = false;

 private:
  CAPETag(CMPAFileStream& stream, bool atEnd) : CTag(stream, "APE", atEnd) {}
};

class CLyrics3Tag : public CTag {
 public:
  static std::unique_ptr<CLyrics3Tag> FindTag(CMPAFileStream& stream, std::int64_t begin, std::int64_t end);

 private:
  explicit CLyrics3Tag(CMPAFileStream& stream) : CTag(stream, "Lyrics3", true) {}
};

// The tags of one file, in the order they were found; owns them.
class CTags {
 public:
  using ErrorSink = std::function<void(const CMPAException&)>;

  // Searches [begin, end) and moves both inward past every tag found. A
  // finder that fails is reported to `onError` and counts as not found.
  CTags(CMPAFileStream& stream, std::int64_t& begin, std::int64_t& end, const ErrorSink& onError);

  std::size_t GetNumTags() const { return tags_.size(); }
  const CTag* GetTag(std::size_t i) const { return i < tags_.size() ? tags_[i].get() : nullptr; }

 private:
  template <typename Finder>
  bool Find(const ErrorSink& onError, std::int64_t& begin, std::int64_t& end, Finder finder);

  std::vector<std::unique_ptr<CTag>> tags_;
};

}  // namespace kelvara::media
