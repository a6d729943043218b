// A file that appears under its name whole or not at all: data goes to a
// temporary file beside it, which is synced and renamed over the name only
// when everything was written.
#pragma once

#include <string>

namespace tools {

class AtomicFile {
 public:
  // Creates the temporary file. On failure, error() says why.
  explicit AtomicFile(std::string path);
  ~AtomicFile();  // removes the temporary file unless committed
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  bool ok() const { return fd_ >= 0 && error_.empty(); }
  const std::string& error() const { return error_; }
  int fd() const { return fd_; }
  const std::string& temporaryPath() const { return temporary_; }

  bool write(const void* data, size_t bytes);
  // Syncs, closes and renames into place.
  bool commit();
  // Records a failure that happened outside write() (e.g. in a library that
  // wrote through fd()).
  void fail(const std::string& why) {
    if (error_.empty()) error_ = why;
  }

 private:
  std::string path_;
  std::string temporary_;
  int fd_ = -1;
  bool committed_ = false;
  std::string error_;
};

// Removes any temporary file still open when SIGINT or SIGTERM arrives, then
// ends the process, so an interrupted write leaves nothing behind.
void removeTemporaryFilesOnSignal();

}  // namespace tools
