#include "platform/TerminationSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

namespace corvyn::platform {
namespace {

int writeEnd = -1;

extern "C" void OnTerminationSignal(int signalNumber) {
  const int savedErrno = errno;
  const char byte = static_cast<char>(signalNumber);
  [[maybe_unused]] const ssize_t ignored =
      write(writeEnd, &byte, 1);  // async-signal-safe; a full pipe is fine
  errno = savedErrno;
}

int Install() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
  writeEnd = ends[1];
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signalNumber : {SIGTERM, SIGINT, SIGHUP}) sigaction(signalNumber, &action, nullptr);
  return ends[0];
}

}  // namespace

int TerminationSignalDescriptor() {
  static const int readEnd = Install();
  return readEnd;
}

int DrainTerminationSignals() {
  const int descriptor = TerminationSignalDescriptor();
  if (descriptor < 0) return 0;
  int requests = 0;
  char bytes[64];
  ssize_t got;
  while ((got = read(descriptor, bytes, sizeof bytes)) > 0 || (got < 0 && errno == EINTR)) {
    if (got > 0) requests += static_cast<int>(got);
  }
  return requests;
}

}  // namespace corvyn::platform
