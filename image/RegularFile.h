#pragma once

#include <cstddef>
#include <string>

// A file that a user names as input (an export to import, a list of serial numbers, a binding
// file, a simulated EEPROM), read whole. It is opened without blocking and read only when it is a
// regular file, so that a pipe, a device or a socket in its place neither waits for a writer nor
// reads for ever, and only up to a limit.
class TRegularFile {
public:
  enum class TStatus {
    Read,       // `bytes` holds the whole file
    Missing,    // no such file
    Folder,     // a folder
    NotRegular, // a pipe, a device, a socket
    TooLarge,   // larger than the limit: `bytes` holds its first `limit` bytes, or none when its
                // size said so before anything was read
    Failed      // `error` holds the system's reason
  };
  struct TResult {
    TStatus status;
    int error = 0;
  };

  // Opens `path` as above without reading it.
  static TResult Check(const std::string& path);
  static TResult Read(const std::string& path, size_t limit, std::string& bytes);

private:
  // The open descriptor of a regular file, or -1 with `result` saying why not.
  static int Open(const std::string& path, TResult& result);
};
