#include "rtsp_url.h"

#include <cstdio>

namespace zq_rtsp {

std::string PercentEncode(const std::string& text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (unsigned char c : text) {
    const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                            c == '-' || c == '.' || c == '_' || c == '~';
    if (unreserved) {
      out += static_cast<char>(c);
    } else {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      out += buf;
    }
  }
  return out;
}

namespace {
// Start of the authority (after "scheme://") and its end (first '/' after it).
bool SplitAuthority(const std::string& url, size_t& start, size_t& end) {
  const size_t scheme = url.find("://");
  if (scheme == std::string::npos) return false;
  start = scheme + 3;
  end = url.find('/', start);
  if (end == std::string::npos) end = url.size();
  return true;
}
}  // namespace

std::string WithCredentials(const std::string& url, const std::string& user, const std::string& password) {
  const std::string bare = Redacted(url);
  if (user.empty()) return bare;
  size_t start = 0, end = 0;
  if (!SplitAuthority(bare, start, end)) return bare;
  return bare.substr(0, start) + PercentEncode(user) + ":" + PercentEncode(password) + "@" + bare.substr(start);
}

std::string Redacted(const std::string& url) {
  size_t start = 0, end = 0;
  if (!SplitAuthority(url, start, end)) return url;
  const size_t at = url.rfind('@', end);
  if (at == std::string::npos || at < start) return url;
  return url.substr(0, start) + url.substr(at + 1);
}

std::string SimpleUrl(const std::string& address, int port, int stream) {
  const int path_stream = (stream == 0 || stream == 1) ? stream : 0;
  return "rtsp://" + address + ":" + std::to_string(port) + "/stream" + std::to_string(path_stream);
}

}  // namespace zq_rtsp
