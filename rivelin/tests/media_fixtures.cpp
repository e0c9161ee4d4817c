#include "media_fixtures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>

#include "kelvara_test/test_env.h"

namespace rivelin::test {

std::string RunCommand(const std::string& command, int* exitCode, bool mergeStderr) {
  const std::string cmd = mergeStderr ? command + " 2>&1" : command;
  FILE* pipe = popen(cmd.c_str(), "r");
  std::string out;
  if (!pipe) {
    if (exitCode) *exitCode = -1;
    return out;
  }
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  const int status = pclose(pipe);
  if (exitCode) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

std::filesystem::path Fixture(const std::string& name, const std::string& args) {
  static std::mutex lock;
  static std::filesystem::path dir;
  std::lock_guard g(lock);
  if (dir.empty()) dir = kelvara::test::MakeTempDir("fixtures");
  auto path = dir / name;
  if (std::filesystem::exists(path)) return path;
  int rc = 0;
  const std::string out =
      RunCommand("ffmpeg -nostdin -hide_banner -loglevel error -y " + args + " '" + path.string() + "'",
          &rc, true);
  if (rc != 0 || !std::filesystem::exists(path)) {
    ADD_FAILURE() << "ffmpeg fixture " << name << " failed: " << out;
  }
  return path;
}

namespace {

struct Nal {
  size_t start, end;  // payload (after the start code)
};

std::vector<Nal> FindNals(const std::vector<uint8_t>& s) {
  std::vector<Nal> nals;
  size_t i = 0, start = SIZE_MAX;
  while (i + 2 < s.size()) {
    if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
      if (start != SIZE_MAX) {
        size_t end = i;
        while (end > start && s[end - 1] == 0) --end;
        nals.push_back({start, end});
      }
      start = i + 3;
      i += 3;
    } else {
      ++i;
    }
  }
  if (start != SIZE_MAX) nals.push_back({start, s.size()});
  return nals;
}

}  // namespace

std::vector<AccessUnit> SplitAccessUnits(const std::vector<uint8_t>& s, bool h265) {
  std::vector<AccessUnit> aus;
  AccessUnit cur;
  bool curHasVcl = false;
  for (const Nal& n : FindNals(s)) {
    if (n.end <= n.start) continue;
    const uint8_t h = s[n.start];
    const int type = h265 ? (h >> 1) & 0x3F : h & 0x1F;
    const bool vcl = h265 ? type < 32 : (type >= 1 && type <= 5);
    bool firstSlice = false;
    if (vcl && n.end - n.start > 2) firstSlice = h265 ? (s[n.start + 2] & 0x80) : (s[n.start + 1] & 0x80);
    const bool startsAu = h265 ? (type >= 32 && type <= 35) || type == 39 : (type >= 6 && type <= 9);
    if (curHasVcl && ((vcl && firstSlice) || startsAu)) {
      aus.push_back(std::move(cur));
      cur = {};
      curHasVcl = false;
    }
    const uint8_t sc[4] = {0, 0, 0, 1};
    cur.data.insert(cur.data.end(), sc, sc + 4);
    cur.data.insert(cur.data.end(), s.begin() + static_cast<ptrdiff_t>(n.start),
                    s.begin() + static_cast<ptrdiff_t>(n.end));
    if (vcl) curHasVcl = true;
    if (h265 ? (type >= 16 && type <= 21) : type == 5) cur.key = true;
  }
  if (curHasVcl) aus.push_back(std::move(cur));
  return aus;
}

std::vector<Packet> SplitAdts(const std::vector<uint8_t>& s) {
  std::vector<Packet> out;
  size_t i = 0;
  while (i + 7 <= s.size() && s[i] == 0xFF && (s[i + 1] & 0xF0) == 0xF0) {
    const size_t len = ((s[i + 3] & 3u) << 11) | (s[i + 4] << 3) | (s[i + 5] >> 5);
    if (len < 7 || i + len > s.size()) break;
    out.push_back({std::vector<uint8_t>(s.begin() + static_cast<ptrdiff_t>(i),
                                        s.begin() + static_cast<ptrdiff_t>(i + len))});
    i += len;
  }
  return out;
}

std::vector<Packet> SplitFixed(const std::vector<uint8_t>& s, size_t size) {
  std::vector<Packet> out;
  for (size_t i = 0; i + size <= s.size(); i += size)
    out.push_back({std::vector<uint8_t>(s.begin() + static_cast<ptrdiff_t>(i),
                                        s.begin() + static_cast<ptrdiff_t>(i + size))});
  return out;
}

std::vector<std::map<std::string, std::string>> Probe(const std::filesystem::path& file) {
  const std::string out = RunCommand(
      "ffprobe -v error -count_packets -show_entries "
      "stream=codec_name,codec_type,profile,width,height,nb_read_packets,duration,start_time,"
      "sample_rate,channels,codec_tag_string '" +
      file.string() + "'");
  std::vector<std::map<std::string, std::string>> streams;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (line == "[STREAM]") {
      streams.emplace_back();
    } else if (!streams.empty() && line.find('=') != std::string::npos) {
      streams.back()[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
    }
  }
  return streams;
}

std::string DecodeErrors(const std::filesystem::path& file) {
  return RunCommand("ffmpeg -nostdin -v error -i '" + file.string() + "' -f null - 2>&1");
}

}  // namespace rivelin::test
