#include <gtest/gtest.h>

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "harness.h"
#include "tcp.h"

namespace {

std::string Blanks(int n) { return std::string(n, ' '); }

TEST(PosTest, StartAndCmparAdjustTheCoordinates) {
  ChildRun run = RunInChild("", [] {
    SetReadableTable();
    pos(2, 5);
    start = 1;
    pos(0, 0);
    cmpar = 32;  // ignored while start is set
    pos(0, 0);
    start = 0;
    pos(2, 5);
    start = -1;  // any non-zero start counts
    pos(7, 8);
  });
  EXPECT_EQ(run.out, At(2, 5) + At(1, 1) + At(1, 1) + At(34, 37) + At(8, 9));
}

TEST(PosTest, CharacterCursorAddressAndEmptyTable) {
  ChildRun run = RunInChild("", [] {
    pos(4, 4);  // empty table: nothing at all
    std::strcpy(tc[TC_CURSOR], "\x1b=%c%c");
    cmpar = 32;
    pos(2, 5);
    std::strcpy(tc[TC_CURSOR], "%s%n%d");  // no pointer is ever read
    pos(2, 5);
  });
  EXPECT_EQ(run.out, "\x1b=\"%%s%n34");
}

TEST(MensTest, CentresInSeventyEightColumnsBetweenTheFrame) {
  ChildRun run = RunInChild("", [] {
    SetReadableTable();
    mens("HELLO", 7);
    mens("", 0);
    mens(std::string(77, 'x').c_str(), 1);
    mens(std::string(78, 'y').c_str(), 1);
  });
  EXPECT_EQ(run.out, At(7, 1) + "<" + Blanks(36) + "HELLO" + Blanks(37) + ">" +  //
                         At(0, 1) + "<" + Blanks(78) + ">" +                       //
                         At(1, 1) + "<" + std::string(77, 'x') + " >" +           //
                         At(1, 1) + "<" + std::string(78, 'y') + ">");
}

TEST(MensTest, LongMessagesStartAfterBlanksAndHaveNoFill) {
  ChildRun run = RunInChild("", [] {
    SetReadableTable();
    mens(std::string(79, 'a').c_str(), 1);
    mens(std::string(80, 'b').c_str(), 1);
    mens(std::string(100, 'c').c_str(), 1);
  });
  EXPECT_EQ(run.out, At(1, 1) + "< " + std::string(79, 'a') + ">" +  //
                         At(1, 1) + "< " + std::string(80, 'b') + ">" +
                         At(1, 1) + "<" + Blanks(11) + std::string(100, 'c') + ">");
}

TEST(MensTest, PercentSignsInTheFrameAndTheMessage) {
  ChildRun run = RunInChild("", [] {
    std::strcpy(tc[TC_MSG_ON], "%%[");
    std::strcpy(tc[TC_MSG_OFF], "%s]");
    mens("5%", 0);
  });
  EXPECT_EQ(run.out, "%[" + Blanks(38) + "5%" + Blanks(38) + "%s]");
}

// Only mens flushes: what pos and box write stays in the buffer until then.
TEST(MensTest, OnlyMensFlushesStandardOutput) {
  ChildRun run = RunInChild("", [] {
    SetReadableTable();
    struct stat st;
    pos(1, 1);
    box(1, 1, 3, 3);
    fstat(1, &st);
    long before = st.st_size;
    coment("X");
    fstat(1, &st);
    std::printf("|%ld %d", before, st.st_size > 0);
  });
  EXPECT_NE(run.out.find("|0 1"), std::string::npos) << run.out;
}

TEST(ComentTest, WritesOnTheRowOfEntryFive) {
  ChildRun run = RunInChild("", [] {
    SetReadableTable();
    coment("AB");
    std::strcpy(tc[TC_MSG_ROW], "\xfe");  // a signed byte: row -2
    coment("AB");
    tc[TC_MSG_ROW][0] = '\0';
    coment("AB");
  });
  std::string line = std::string("<") + Blanks(38) + "AB" + Blanks(38) + ">";
  EXPECT_EQ(run.out, At(23, 1) + line + At(-2, 1) + line + At(0, 1) + line);
}

TEST(BoxTest, DrawsRunsCornersAndSidesInTheirOrder) {
  ChildRun run = RunInChild("", [] {
    SetReadableTable();
    box(2, 10, 5, 30);
  });
  std::string run20(20, '-');
  EXPECT_EQ(run.out, std::string("B") + At(2, 10) + run20 + At(5, 10) + run20 +     //
                         At(2, 10) + "2" + At(2, 30) + "1" +           //
                         At(3, 10) + "|" + At(3, 30) + "|" +           //
                         At(4, 10) + "|" + At(4, 30) + "|" +           //
                         At(5, 10) + "3" + At(5, 30) + "4" + "E");
}

TEST(BoxTest, DegenerateBoxesAndEmptyTable) {
  ChildRun run = RunInChild("", [] {
    SetReadableTable();
    box(1, 4, 2, 4);  // no horizontal pieces and no sides
    std::printf("#");
    std::memset(tc, 0, sizeof tc);
    box(2, 10, 5, 30);  // every piece empty: nothing at all
  });
  EXPECT_EQ(run.out, std::string("B") + At(1, 4) + At(2, 4) + At(1, 4) + "2" + At(1, 4) + "1" + At(2, 4) +
                         "3" + At(2, 4) + "4" + "E#");
}

TEST(DbgrTest, SilentWithoutTheSwitchAndReadsNothing) {
  ChildRun run = RunInChild("\x1b", [] {
    SetReadableTable();
    std::printf("%d", dbgr(1, "PARAMETROS LEIDOS FORM f"));
    std::printf(" %d", getchar());
  });
  EXPECT_EQ(run.out, "0 27");
}

TEST(DbgrTest, WithTheSwitchShowsAndWaitsForAKey) {
  std::string line = At(23, 1) + "<" + Blanks(36) + "TRAZA" + Blanks(37) + ">";
  ChildRun go_on = RunInChild("xy", [] {
    SetReadableTable();
    debug = 1;
    std::printf("%d", dbgr(1, "TRAZA"));
    std::printf(" %c", getchar());
  });
  EXPECT_EQ(go_on.status, 0);
  EXPECT_EQ(go_on.out, line + "0 y");
  ChildRun stop = RunInChild("\x1b", [] {
    SetReadableTable();
    debug = 7;
    dbgr(2, "TRAZA");
    std::printf("not reached");
  });
  EXPECT_EQ(stop.status, 1);
  EXPECT_EQ(stop.out, line);
}

TEST(DbgrTest, FlagZeroShowsPausesAndReadsNoKey) {
  ChildRun run = RunInChild("\x1b", [] {
    SetReadableTable();
    timespec before, after;
    clock_gettime(CLOCK_MONOTONIC, &before);
    int result = dbgr(0, "T");
    clock_gettime(CLOCK_MONOTONIC, &after);
    double seconds = (after.tv_sec - before.tv_sec) + (after.tv_nsec - before.tv_nsec) / 1e9;
    std::printf("|%d %d %d", result, seconds >= 1.9, getchar());
  });
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, At(23, 1) + "<" + Blanks(38) + "T" + Blanks(39) + ">|0 1 27");
}

}  // namespace
