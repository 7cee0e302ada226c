#include "platform/library_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

#include "base/sanitized.h"
#include "platform/fd_buffer.h"


namespace velmora::platform {
namespace {

constexpr size_t kKept = size_t{64} << 10;

struct Captured {
  std::mutex mutex;
  std::string tail;       // the last kKept bytes
  uint64_t total = 0;     // bytes ever captured
  int message_fd = STDERR_FILENO;
  std::unique_ptr<FdBuffer> messages;
};

Captured& State() {
  static Captured* state = new Captured;  // the reader thread may outlive static destruction
  return *state;
}

[[maybe_unused]] void Read(int fd) {
  Captured& s = State();
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return;
    std::lock_guard lock(s.mutex);
    s.tail.append(buffer, static_cast<size_t>(n));
    if (s.tail.size() > kKept) s.tail.erase(0, s.tail.size() - kKept);
    s.total += static_cast<uint64_t>(n);
  }
}

}  // namespace

void CaptureLibraryOutput() {
#ifndef VELMORA_SANITIZED
  if (const char* keep = std::getenv("VELMORA_LIBRARY_OUTPUT"); keep && *keep) return;
  Captured& s = State();
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return;
  const int real = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  if (real < 0 || dup2(pipe_fds[1], STDERR_FILENO) < 0) {
    if (real >= 0) close(real);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    return;
  }
  close(pipe_fds[1]);
  s.message_fd = real;
  s.messages = std::make_unique<FdBuffer>(real);
  std::cerr.rdbuf(s.messages.get());
  std::thread(Read, pipe_fds[0]).detach();
#endif
}

int MessageFd() { return State().message_fd; }

uint64_t LibraryOutputMark() {
  Captured& s = State();
  std::lock_guard lock(s.mutex);
  return s.total;
}

std::string LibraryOutputSince(uint64_t mark) {
  Captured& s = State();
  // What a library printed just before failing may still be in the pipe.
  if (!s.messages) return {};
  for (int tries = 0; tries < 20; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::lock_guard lock(s.mutex);
    if (s.total > mark) break;
  }
  std::lock_guard lock(s.mutex);
  if (s.total <= mark) return {};
  const uint64_t fresh = s.total - mark;
  std::string text = fresh >= s.tail.size() ? s.tail : s.tail.substr(s.tail.size() - static_cast<size_t>(fresh));
  std::string line;
  for (char c : text) {
    if (c == '\n') {
      if (!line.empty() && line.back() != ' ') line += "; ";
    } else if (c != '\r') {
      line += c;
    }
  }
  while (!line.empty() && (line.back() == ' ' || line.back() == ';')) line.pop_back();
  if (line.size() > 1024) line = line.substr(0, 1021) + "...";
  return line;
}

}  // namespace velmora::platform
