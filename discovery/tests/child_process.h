#pragma once
// Test helpers that run a piece of a test in a forked process of its own:
// as another user, under a resource limit, or bounded in time so that code
// that would hang fails the test instead of stopping it.
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>

namespace kelvara::discovery::test_process {

// Runs `setup`, then `body`, in a forked process and returns what `body`
// returned. When the process did not exit with 0 (a failed setup exits 5),
// or was still running after `bound` and was killed, that is appended.
inline std::string Run(const std::function<std::string()>& body, const std::function<bool()>& setup = {},
                       std::chrono::seconds bound = std::chrono::seconds(60)) {
  int pipefd[2];
  if (::pipe(pipefd) != 0) return "no pipe";
  const pid_t pid = ::fork();
  if (pid < 0) return "no fork";
  if (pid == 0) {
    ::close(pipefd[0]);
    if (setup && !setup()) _exit(5);
    const std::string out = body();
    _exit(::write(pipefd[1], out.data(), out.size()) == static_cast<ssize_t>(out.size()) ? 0 : 4);
  }
  ::close(pipefd[1]);
  std::string got;
  char buffer[4096];
  const auto deadline = std::chrono::steady_clock::now() + bound;
  bool ended = false;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{pipefd[0], POLLIN, 0};
    if (::poll(&p, 1, 1000) <= 0) continue;
    const ssize_t n = ::read(pipefd[0], buffer, sizeof buffer);
    if (n <= 0) {
      ended = true;
      break;
    }
    got.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipefd[0]);
  if (!ended) ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!ended)
    got += " [killed: still running after " + std::to_string(bound.count()) + " s]";
  else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    got += " [process ended with " +
           (WIFEXITED(status) ? "status " + std::to_string(WEXITSTATUS(status))
                              : "signal " + std::to_string(WTERMSIG(status))) +
           "]";
  return got;
}

// Whether this process's user may make a user and mount namespace here
// (the reader's private mount namespace needs it).
inline bool UserNamespacesWork() {
  const pid_t pid = ::fork();
  if (pid == 0) _exit(::unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 ? 0 : 1);
  int status = 1;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace kelvara::discovery::test_process
