#include "media/core/mpa_file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "media/core/mpa_exception.h"

namespace kelvara::media {

namespace {
constexpr std::size_t kInitialBufferSize = 1024;
}

CMPAFileStream::CMPAFileStream(const std::string& fileName) : fileName_(fileName) {
  errno = 0;
  handle_ = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (handle_ < 0) throw CMPAException(CMPAException::ErrOpenFile, fileName_, "CreateFile", true);
  struct stat st {};
  if (::fstat(handle_, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(handle_);
    throw CMPAException(CMPAException::ErrOpenFile, fileName_, "CreateFile", true);
  }
  ownsHandle_ = true;
}

CMPAFileStream::CMPAFileStream(const std::string& fileName, int handle) : fileName_(fileName), handle_(handle) {}

CMPAFileStream::CMPAFileStream(const std::string& name, std::span<const std::uint8_t> bytes)
    : fileName_(name), memory_(bytes.begin(), bytes.end()), inMemory_(true) {}

CMPAFileStream::~CMPAFileStream() {
  if (ownsHandle_) ::close(handle_);
}

std::int64_t CMPAFileStream::GetSize() const {
  if (inMemory_) return static_cast<std::int64_t>(memory_.size());
  struct stat st {};
  errno = 0;
  if (::fstat(handle_, &st) != 0) throw CMPAException(CMPAException::ErrReadFile, fileName_, "GetFileSize", true);
  return static_cast<std::int64_t>(st.st_size);
}

std::size_t CMPAFileStream::ReadAt(std::int64_t offset, std::uint8_t* out, std::size_t size) {
  if (inMemory_) {
    if (offset >= static_cast<std::int64_t>(memory_.size())) return 0;
    const std::size_t n = std::min(size, memory_.size() - static_cast<std::size_t>(offset));
    std::copy_n(memory_.data() + offset, n, out);
    return n;
  }
  std::size_t done = 0;
  while (done < size) {
    errno = 0;
    const ssize_t got = ::pread(handle_, out + done, size - done, static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      throw CMPAException(CMPAException::ErrReadFile, fileName_, "ReadFile", true);
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

const std::uint8_t* CMPAFileStream::ReadBuffer(std::size_t size, std::int64_t& offset, bool advance, bool reverse) {
  if (offset < 0) throw CMPAException(CMPAException::ErrSetPosition, fileName_, "SetFilePointer");
  const std::int64_t want = static_cast<std::int64_t>(size);
  const bool inside = offset >= bufferOffset_ &&
                      offset + want <= bufferOffset_ + static_cast<std::int64_t>(bufferLength_);
  if (!inside) {
    const std::size_t length = std::max(kInitialBufferSize, size);
    if (buffer_.size() < length) buffer_.resize(length);
    std::int64_t start = offset;
    if (reverse) start = std::max<std::int64_t>(0, offset + want - static_cast<std::int64_t>(length));
    bufferOffset_ = start;
    bufferLength_ = 0;
    bufferLength_ = ReadAt(start, buffer_.data(), length);
    if (offset + want > bufferOffset_ + static_cast<std::int64_t>(bufferLength_))
      throw CMPAException(CMPAException::EndOfBuffer, fileName_);
  }
  const std::uint8_t* p = buffer_.data() + (offset - bufferOffset_);
  if (advance) offset += want;
  return p;
}

std::uint32_t CMPAFileStream::ReadBEValue(int n, std::int64_t& offset) {
  const std::uint8_t* p = ReadBuffer(static_cast<std::size_t>(n), offset, true);
  std::uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

std::uint32_t CMPAFileStream::ReadLEValue(int n, std::int64_t& offset) {
  const std::uint8_t* p = ReadBuffer(static_cast<std::size_t>(n), offset, true);
  std::uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

}  // namespace kelvara::media
