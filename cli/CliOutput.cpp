#include "CliOutput.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

bool TCliOutput::WriteOut(const char* text, size_t count) {
  while (FError == 0 && count > 0) {
    const ssize_t written = ::write(FFd, text, count);
    if (written > 0) {
      text += written;
      count -= static_cast<size_t>(written);
    } else if (written < 0 && errno == EINTR) {
      continue;
    } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A descriptor left non-blocking by whoever shares it: wait until it takes more.
      pollfd ready{FFd, POLLOUT, 0};
      (void)::poll(&ready, 1, -1);
    } else {
      FError = written < 0 ? errno : EIO;
    }
  }
  return FError == 0;
}

bool TCliOutput::Drain() {
  const bool ok = WriteOut(pbase(), static_cast<size_t>(pptr() - pbase()));
  setp(FBuffer, FBuffer + sizeof FBuffer);
  return ok;
}

TCliOutput::int_type TCliOutput::overflow(int_type c) {
  if (!Drain()) {
    return traits_type::eof();
  }
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
  }
  return traits_type::not_eof(c);
}

std::streamsize TCliOutput::xsputn(const char* text, std::streamsize count) {
  if (FError != 0) {
    return 0;
  }
  const auto room = epptr() - pptr();
  if (count <= room) {
    std::memcpy(pptr(), text, static_cast<size_t>(count));
    pbump(static_cast<int>(count));
    return count;
  }
  // More than the buffer holds goes out directly, after what is buffered.
  return Drain() && WriteOut(text, static_cast<size_t>(count)) ? count : 0;
}

int TCliOutput::sync() {
  return Drain() ? 0 : -1;
}
