#pragma once
// What every test layer needs for waiting and for running other programs, and nothing
// else. A test waits for the state it needs (polling against a deadline), never for a
// guessed time; a program it runs gets a deadline too and is killed by its PID when late.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

extern char** environ;

namespace velkor::testing {

inline constexpr auto kDeadline = std::chrono::seconds(10);

// True when pred became true before the deadline.
inline bool WaitUntil(std::chrono::milliseconds deadline, const std::function<bool()>& pred) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

inline bool WaitUntil(const std::function<bool()>& pred) { return WaitUntil(kDeadline, pred); }

// The path of a program found on PATH, or "".
inline std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const std::string candidate = dir + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

struct CommandResult {
  int status = -1;        // exit status; -1 when it did not exit normally
  bool timedOut = false;  // killed at the deadline
  std::string out;        // standard output and error together
};

// Runs one program, given as a shell command line, with a deadline, collecting its output.
// The shell execs it, so the PID killed at the deadline is the program's own (a list of
// commands needs an explicit `sh -c '...'`).
inline CommandResult RunCommand(const std::string& command,
                                std::chrono::milliseconds deadline = std::chrono::seconds(30)) {
  CommandResult result;
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    result.out = "pipe failed";
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, out[1], 2);
  std::string line = "exec " + command;
  char shell[] = "/bin/sh", dashC[] = "-c";
  char* argv[] = {shell, dashC, line.data(), nullptr};
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, shell, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (spawned != 0) {
    ::close(out[0]);
    result.out = "posix_spawn failed";
    return result;
  }
  const auto end = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    pollfd p{out[0], POLLIN, 0};
    const int ready = left.count() <= 0 ? 0 : ::poll(&p, 1, int(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) {
      result.timedOut = true;
      ::kill(pid, SIGKILL);
      break;
    }
    char buf[512];
    const ssize_t n = ::read(out[0], buf, sizeof buf);
    if (n > 0) {
      result.out.append(buf, size_t(n));
    } else if (n == 0 || errno != EINTR) {
      break;  // end of output: the program has closed it (normally by exiting)
    }
  }
  ::close(out[0]);
  int status = 0;
  // Output closed early by a program that lives on: it still has the rest of the deadline.
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= end) {
      result.timedOut = true;
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace velkor::testing
