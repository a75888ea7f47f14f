#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include "platform/TerminationSignals.h"

namespace corvyn::platform {
namespace {

bool Readable(int descriptor) {
  pollfd entry{descriptor, POLLIN, 0};
  return poll(&entry, 1, 0) == 1 && (entry.revents & POLLIN) != 0;
}

TEST(TerminationSignals, EachRequestMakesTheDescriptorReadableInsteadOfEndingTheProcess) {
  const int descriptor = TerminationSignalDescriptor();
  ASSERT_GE(descriptor, 0);
  EXPECT_EQ(TerminationSignalDescriptor(), descriptor) << "installed once";
  EXPECT_EQ(DrainTerminationSignals(), 0);
  for (int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(signalNumber);
    EXPECT_FALSE(Readable(descriptor));
    ASSERT_EQ(raise(signalNumber), 0);  // still alive afterwards
    ASSERT_TRUE(Readable(descriptor));
    char byte = 0;
    ASSERT_EQ(read(descriptor, &byte, 1), 1);
    EXPECT_EQ(byte, static_cast<char>(signalNumber));
  }
  raise(SIGTERM);
  raise(SIGINT);
  EXPECT_EQ(DrainTerminationSignals(), 2);
  EXPECT_FALSE(Readable(descriptor));
}

}  // namespace
}  // namespace corvyn::platform
