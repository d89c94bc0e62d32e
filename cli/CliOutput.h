#pragma once

#include <streambuf>

// Standard output as the tool writes it: a buffer over a file descriptor that keeps the system's
// reason for the first write that failed, so that the failure can be named (a full disk, a
// closed descriptor) rather than only noticed.
class TCliOutput : public std::streambuf {
public:
  explicit TCliOutput(int fd) : FFd(fd) { setp(FBuffer, FBuffer + sizeof FBuffer); }
  TCliOutput(const TCliOutput&) = delete;
  TCliOutput& operator=(const TCliOutput&) = delete;

  // 0 while every write went through; else the errno of the first that failed, after which
  // nothing more is written.
  int Error() const { return FError; }

protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  int sync() override;

private:
  bool WriteOut(const char* text, size_t count);
  bool Drain();

  int FFd;
  int FError = 0;
  char FBuffer[16384];
};
