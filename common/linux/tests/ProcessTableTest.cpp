#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "FabricatedProc.h"
#include "ProcessTable.h"

namespace tavrin {
namespace {

TEST(ProcessTableTest, ReadsTheFactsOfAProcess) {
    testing::FabricatedProc proc;
    proc.add({.pid = 42,
              .commandLine = {"/usr/bin/tool", "--flag", ""},
              .executable = "/opt/tool/bin/Tool (deleted)",
              .comm = "a) b (c",
              .environment = {"WINEPREFIXES=/not/this", "WINEPREFIX=/home/a/=odd", "EMPTY="},
              .workingDirectory = "/srv/work",
              .startTime = 987654321012,
              .flatpakInfo = "[Instance]\nname=not.this\n[Application]\r\nname=org.example.Tool\r\n"});
    const ProcessTable table(proc.root());
    EXPECT_EQ(table.firstCommandWord(42), "/usr/bin/tool");
    EXPECT_EQ(table.executableName(42), "Tool");
    EXPECT_EQ(table.environmentValue(42, "WINEPREFIX"), "/home/a/=odd");
    EXPECT_EQ(table.environmentValue(42, "EMPTY"), "");
    EXPECT_EQ(table.environmentValue(42, "WINE"), std::nullopt);
    EXPECT_EQ(table.workingDirectory(42), "/srv/work");
    // A name with ") " in it does not shift the fields that follow.
    EXPECT_EQ(table.start(42), (ProcessStart{42, 987654321012}));
    EXPECT_EQ(table.flatpakId(42), "org.example.Tool");
}

}  // namespace
}  // namespace tavrin

// A child that has exited but is not reaped yet is no running process.
TEST(ProcessTableTest, AnUnreapedChildHasEnded) {
    const tavrin::ProcessTable table;
    const pid_t child = ::fork();
    if (child == 0) {
        ::pause();
        ::_exit(0);
    }
    ASSERT_GT(child, 0);
    EXPECT_FALSE(table.hasEnded(child));
    ::kill(child, SIGKILL);
    bool ended = false;
    for (int i = 0; i < 500 && !ended; ++i) {
        ended = table.hasEnded(child);
        ::usleep(10000);
    }
    EXPECT_TRUE(ended);
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(table.hasEnded(child));
}
