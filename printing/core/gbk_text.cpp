#include "printing/core/gbk_text.h"

#include <iconv.h>

#include <cerrno>

namespace kelvara::printing {
namespace {

std::optional<std::string> Convert(const char* to, const char* from, std::string_view in) {
  iconv_t cd = iconv_open(to, from);
  if (cd == iconv_t(-1)) return std::nullopt;
  std::string out;
  out.resize(in.size() * 2 + 16);
  char* inPtr = const_cast<char*>(in.data());
  std::size_t inLeft = in.size();
  std::size_t done = 0;
  bool ok = true;
  while (inLeft > 0) {
    char* outPtr = out.data() + done;
    std::size_t outLeft = out.size() - done;
    std::size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    done = out.size() - outLeft;
    if (r != std::size_t(-1)) break;
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    ok = false;  // EILSEQ or EINVAL: a byte or character the other side has not
    break;
  }
  iconv_close(cd);
  if (!ok) return std::nullopt;
  out.resize(done);
  return out;
}

}  // namespace

std::optional<std::string> LayoutTextToGbk(std::string_view utf8) { return Convert("GBK", "UTF-8", utf8); }
std::optional<std::string> LayoutTextFromGbk(std::string_view gbk) { return Convert("UTF-8", "GBK", gbk); }

}  // namespace kelvara::printing
