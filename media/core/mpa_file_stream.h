#pragma once
// The buffered reader of the MP3 analysis, over a file or over bytes in
// memory (tests and the fuzz targets). Offsets are 64-bit. Every read is
// checked: a read that the source cannot fill raises "Reached end of buffer"
// instead of handing out bytes that are not there.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kelvara::media {

class CMPAFileStream {
 public:
  // Opens an existing file for reading; raises code 0 ("CreateFile").
  explicit CMPAFileStream(const std::string& fileName);
  // Reads an already open descriptor, which stays the caller's.
  CMPAFileStream(const std::string& fileName, int handle);
  // Reads a copy of these bytes.
  CMPAFileStream(const std::string& name, std::span<const std::uint8_t> bytes);
  ~CMPAFileStream();
  CMPAFileStream(const CMPAFileStream&) = delete;
  CMPAFileStream& operator=(const CMPAFileStream&) = delete;

  const std::string& FileName() const { return fileName_; }
  std::int64_t GetSize() const;

  // A pointer to `size` buffered bytes at `offset` (advanced by size when
  // asked). A reverse read fills the buffer so it ends at offset + size.
  // The pointer is valid until the next read.
  const std::uint8_t* ReadBuffer(std::size_t size, std::int64_t& offset, bool advance = true,
                                 bool reverse = false);
  // n-byte (1..4) unsigned values; the offset advances.
  std::uint32_t ReadBEValue(int n, std::int64_t& offset);
  std::uint32_t ReadLEValue(int n, std::int64_t& offset);

 private:
  std::size_t ReadAt(std::int64_t offset, std::uint8_t* out, std::size_t size);

  std::string fileName_;
  int handle_ = -1;
  bool ownsHandle_ = false;
  std::vector<std::uint8_t> memory_;
  bool inMemory_ = false;
  std::vector<std::uint8_t> buffer_;
  std::int64_t bufferOffset_ = 0;
  std::size_t bufferLength_ = 0;
};

}  // namespace kelvara::media
