#pragma once
// Building the URLs the client opens: credentials go in percent-encoded, and
// what is logged never carries them.
#include <string>

namespace zq_rtsp {

// RFC 3986 percent-encoding of a user-info part: everything but unreserved
// characters is encoded, so ':' '@' '/' '%' in a password cannot change the URL.
std::string PercentEncode(const std::string& text);

// Inserts "user:password@" after the scheme of an rtsp:// URL (replacing any
// user info already there). An empty user leaves the URL without credentials.
std::string WithCredentials(const std::string& url, const std::string& user, const std::string& password);

// The URL with any user info removed, for log lines.
std::string Redacted(const std::string& url);

// "rtsp://address:port/streamN" for the simple play call; stream 2 (audio
// only) uses the main stream's URL.
std::string SimpleUrl(const std::string& address, int port, int stream);

}  // namespace zq_rtsp
