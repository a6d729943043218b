#include "tools/atomic_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace tools {
namespace {

// The one temporary file a signal handler may need to remove. A fixed
// buffer, since the handler may only make async-signal-safe calls.
char pendingPath[4096];
std::atomic<bool> pending{false};

void onSignal(int signal) {
  if (pending.load()) unlink(pendingPath);
  _exit(128 + signal);
}

std::string describe(const std::string& what, const std::string& path) {
  return path + ": " + what + ": " + std::strerror(errno);
}

}  // namespace

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
  temporary_ = path_ + ".partial-XXXXXX";
  fd_ = mkstemp(temporary_.data());
  if (fd_ < 0) {
    error_ = describe("cannot create", path_);
    temporary_.clear();
    return;
  }
  if (temporary_.size() < sizeof pendingPath) {
    std::memcpy(pendingPath, temporary_.c_str(), temporary_.size() + 1);
    pending.store(true);
  }
}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) close(fd_);
  if (!committed_ && !temporary_.empty()) unlink(temporary_.c_str());
  pending.store(false);
}

bool AtomicFile::write(const void* data, size_t bytes) {
  if (!ok()) return false;
  const char* p = static_cast<const char*>(data);
  while (bytes > 0) {
    ssize_t n = ::write(fd_, p, bytes);
    if (n < 0) {
      if (errno == EINTR) continue;
      error_ = describe("write failed", path_);
      return false;
    }
    p += n;
    bytes -= static_cast<size_t>(n);
  }
  return true;
}

bool AtomicFile::commit() {
  if (!ok()) return false;
  // mkstemp creates the file 0600; give it the mode a new file would have.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd_, 0666 & ~mask);
  if (fsync(fd_) != 0) {
    error_ = describe("cannot sync", path_);
    return false;
  }
  if (close(fd_) != 0) {
    fd_ = -1;
    error_ = describe("cannot close", path_);
    return false;
  }
  fd_ = -1;
  if (rename(temporary_.c_str(), path_.c_str()) != 0) {
    error_ = describe("cannot rename the finished file into place", path_);
    return false;
  }
  committed_ = true;
  pending.store(false);
  return true;
}

void removeTemporaryFilesOnSignal() {
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace tools
