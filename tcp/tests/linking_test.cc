// The library's process-wide variables under their linker names: a
// program's own `start`, `debug` and `user` link beside them and stay apart.
#include <gtest/gtest.h>

#include "tcp.h"

int OwnStart();
int OwnDebug();
int LibraryStart();
int LibraryDebug();

namespace {

TEST(LinkingTest, AProgramsOwnStartAndDebugAreNotTheLibrarys) {
  start = 1;
  debug = 1;
  EXPECT_EQ(OwnStart(), 41);
  EXPECT_EQ(OwnDebug(), 42);
  // The prefixed names are the described ones.
  EXPECT_EQ(LibraryStart(), 1);
  EXPECT_EQ(LibraryDebug(), 1);
  start = 0;
  debug = 0;
  EXPECT_EQ(LibraryStart(), 0);
}

}  // namespace
