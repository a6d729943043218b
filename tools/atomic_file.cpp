#include "tools/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#ifndef NOMINMAX  // the C++ library may have defined it
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>
#else
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace tools {
namespace {

// The one temporary file a signal handler may need to remove. A fixed
// buffer, since the handler may only make async-signal-safe calls.
char pendingPath[4096];
std::atomic<bool> pending{false};
// Its descriptor: Windows removes no file that is still open.
std::atomic<int> pendingFd{-1};

std::string describe(const std::string& what, const std::string& path) {
  return path + ": " + what + ": " + std::strerror(errno);
}

#ifdef _WIN32

// The descriptor calls under the names the POSIX code below uses.
int closeFd(int fd) {
  return _close(fd);
}
int removeFile(const char* path) {
  return _unlink(path);
}
int syncFd(int fd) {
  return _commit(fd);
}
long writeFd(int fd, const char* data, size_t bytes) {
  // _write takes an unsigned int count.
  constexpr size_t kMaxChunk = size_t{1} << 30;
  return _write(fd, data, static_cast<unsigned>(bytes < kMaxChunk ? bytes : kMaxChunk));
}

void onSignal(int signal) {
  if (pending.load()) {
    int fd = pendingFd.load();
    if (fd >= 0) _close(fd);
    _unlink(pendingPath);
  }
  _exit(128 + signal);
}

// A new file beside the target, opened for binary writing (no newline
// translation), under a name no other file has.
int createTemporary(const std::string& path, std::string& temporary) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".partial-%lu-%u",
                  static_cast<unsigned long>(GetCurrentProcessId()), counter.fetch_add(1));
    temporary = path + suffix;
    int fd = _open(temporary.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                   _S_IREAD | _S_IWRITE);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Replaces the target in one step, whether or not it exists, and returns
// only once the move is on disk. On failure errno describes why.
bool moveIntoPlace(const std::string& from, const std::string& to) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  switch (GetLastError()) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: errno = EACCES; break;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND: errno = ENOENT; break;
    case ERROR_DISK_FULL: errno = ENOSPC; break;
    default: errno = EIO; break;
  }
  return false;
}

#else

int closeFd(int fd) {
  return close(fd);
}
int removeFile(const char* path) {
  return unlink(path);
}
int syncFd(int fd) {
  return fsync(fd);
}
long writeFd(int fd, const char* data, size_t bytes) {
  return ::write(fd, data, bytes);
}

void onSignal(int signal) {
  if (pending.load()) unlink(pendingPath);
  _exit(128 + signal);
}

int createTemporary(const std::string& path, std::string& temporary) {
  temporary = path + ".partial-XXXXXX";
  return mkstemp(temporary.data());
}

bool moveIntoPlace(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0;
}

#endif

}  // namespace

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
  fd_ = createTemporary(path_, temporary_);
  if (fd_ < 0) {
    error_ = describe("cannot create", path_);
    temporary_.clear();
    return;
  }
  if (temporary_.size() < sizeof pendingPath) {
    std::memcpy(pendingPath, temporary_.c_str(), temporary_.size() + 1);
    pendingFd.store(fd_);
    pending.store(true);
  }
}

AtomicFile::~AtomicFile() {
  pendingFd.store(-1);
  if (fd_ >= 0) closeFd(fd_);
  if (!committed_ && !temporary_.empty()) removeFile(temporary_.c_str());
  pending.store(false);
}

bool AtomicFile::write(const void* data, size_t bytes) {
  if (!ok()) return false;
  const char* p = static_cast<const char*>(data);
  while (bytes > 0) {
    long n = writeFd(fd_, p, bytes);
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
#ifndef _WIN32
  // mkstemp creates the file 0600; give it the mode a new file would have.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd_, 0666 & ~mask);
#endif
  if (syncFd(fd_) != 0) {
    error_ = describe("cannot sync", path_);
    return false;
  }
  pendingFd.store(-1);
  if (closeFd(fd_) != 0) {
    fd_ = -1;
    error_ = describe("cannot close", path_);
    return false;
  }
  fd_ = -1;
  if (!moveIntoPlace(temporary_, path_)) {
    error_ = describe("cannot rename the finished file into place", path_);
    return false;
  }
  committed_ = true;
  pending.store(false);
  return true;
}

void removeTemporaryFilesOnSignal() {
#ifdef _WIN32
  // Ctrl+C and Ctrl+Break arrive as SIGINT and SIGBREAK.
  std::signal(SIGINT, onSignal);
  std::signal(SIGBREAK, onSignal);
  std::signal(SIGTERM, onSignal);
#else
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
#endif
}

}  // namespace tools
