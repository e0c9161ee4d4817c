// zqfileserver: the read-only TFTP server the boot-recovery window starts in
// the firmware folder, so devices in their boot loader can fetch an image.
//   zqfileserver [-p port] [-a address] [-d folder] [-m max-transfers]
//                [-l lines-per-address] [-L lines-per-minute]
// Serves the current folder on UDP 69 of every address by default. The
// output's flood guard (-l, -L) bounds the lines about refused requests and
// about transfers, each per client address and per minute in all (-L 0: no
// bound in all). Exit
// status 3 when the port cannot be bound (port 69 needs CAP_NET_BIND_SERVICE,
// or another server holds it), 2 for a bad argument or a folder that cannot
// be opened.
#include <arpa/inet.h>
#include <getopt.h>
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tftp_server.h"

namespace {
kelvara::tftp::TftpServer* g_server = nullptr;
void OnSignal(int) {
  if (g_server) g_server->Stop();
}
}  // namespace

int main(int argc, char** argv) {
  kelvara::tftp::ServerOptions options;
  int c;
  while ((c = getopt(argc, argv, "p:a:d:m:l:L:h")) != -1) {
    switch (c) {
      case 'p':
        options.port = static_cast<std::uint16_t>(std::atoi(optarg));
        break;
      case 'a':
        if (inet_pton(AF_INET, optarg, &options.bind_address) != 1) {
          std::fprintf(stderr, "zqfileserver: bad address %s\n", optarg);
          return 2;
        }
        break;
      case 'd':
        options.folder = optarg;
        break;
      case 'm':
        options.max_transfers = std::max(1, std::atoi(optarg));
        break;
      case 'l':
        options.log_per_address = std::max(0, std::atoi(optarg));
        break;
      case 'L':
        options.log_per_window = std::max(0, std::atoi(optarg));
        break;
      default:
        std::fprintf(stderr,
                     "usage: zqfileserver [-p port] [-a address] [-d folder] [-m max-transfers]\n"
                     "                    [-l lines-per-address] [-L lines-per-minute]\n");
        return c == 'h' ? 0 : 2;
    }
  }
  kelvara::tftp::TftpServer server(options);
  server.SetLog([](const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  });
  std::string error;
  if (!server.Open(error)) {
    std::fprintf(stderr, "zqfileserver: %s\n", error.c_str());
    return server.port_refused() ? 3 : 2;
  }
  g_server = &server;
  struct sigaction action{};
  action.sa_handler = OnSignal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  // The full path: "." says nothing to whoever reads the log.
  char* full = realpath(options.folder.c_str(), nullptr);
  std::printf("zqfileserver: serving %s on UDP %u\n", full != nullptr ? full : options.folder.c_str(), server.port());
  std::free(full);
  std::fflush(stdout);
  server.Run();
  g_server = nullptr;
  return 0;
}
