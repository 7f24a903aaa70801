// The final key press, on a real pseudo-terminal: the tool must wait for a
// key typed on the terminal, take a whole escape sequence as one key, and
// hand the terminal back in the mode it found it.

#include "console.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include "tool_process.h"

namespace {

// Hang guards only: a healthy run answers in milliseconds.
constexpr auto PATIENCE = std::chrono::seconds(30);

class TerminalSession {
 public:
  // Runs the tool on a new terminal with its answers from a file, then a
  // shell line that reads what is typed after the tool has ended.
  // The tool's process number is shown as "pid=N", for tests that signal it.
  explicit TerminalSession(const ScratchFolder& folder) {
    folder.write("in.txt", "0 1\n1 2\n");
    folder.write("answers", "in.txt f r 3 1\n");
    const std::string script = std::string(TARNVALE_BINARY) +
                               " < answers & echo \"pid=$!\"; wait $!; echo \"status=$?\"; "
                               "IFS= read -r rest; echo \"rest=[$rest]\"";
    child_ = forkpty(&terminal_, nullptr, nullptr, nullptr);
    if (child_ == 0) {
      if (chdir(folder.path().c_str()) != 0) _exit(126);
      execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~TerminalSession() {
    close(terminal_);
    int status;
    waitpid(child_, &status, 0);
  }

  void type(const std::string& keys) {
    ASSERT_EQ(static_cast<ssize_t>(keys.size()), write(terminal_, keys.data(), keys.size()));
  }

  // Collects the screen until `text` appears; false if it never does.
  bool wait_for_screen(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + PATIENCE;
    while (screen.find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      pollfd ready = {terminal_, POLLIN, 0};
      if (poll(&ready, 1, 100) <= 0) continue;
      char chunk[4096];
      const ssize_t got = read(terminal_, chunk, sizeof chunk);
      if (got <= 0) return false;
      screen.append(chunk, static_cast<std::size_t>(got));
    }
    return true;
  }

  bool line_input_on() {
    termios mode;
    tcgetattr(terminal_, &mode);
    return (mode.c_lflag & ICANON) != 0;
  }

  // Waits for the terminal to enter or leave line input; false on timeout.
  bool wait_for_line_input(bool on) {
    const auto deadline = std::chrono::steady_clock::now() + PATIENCE;
    while (line_input_on() != on) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

  termios mode() {
    termios current;
    tcgetattr(terminal_, &current);
    return current;
  }

  std::string screen;

 private:
  int terminal_ = -1;
  pid_t child_ = -1;
};

class KeyPressTest : public ::testing::TestWithParam<const char*> {};

TEST_P(KeyPressTest, WaitsForOneKeyConsumesItWholeAndRestoresTheTerminal) {
  ScratchFolder folder;
  TerminalSession session(folder);
  const termios before = session.mode();
  ASSERT_TRUE(session.wait_for_screen("Press any key to exit."));
  ASSERT_TRUE(session.wait_for_line_input(false)) << "the tool never switched to raw input";
  const termios raw = session.mode();
  EXPECT_EQ(0u, raw.c_lflag & (ECHO | ISIG));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  session.wait_for_screen("");
  EXPECT_EQ(std::string::npos, session.screen.find("status=")) << "the tool did not wait";

  session.type(GetParam());
  ASSERT_TRUE(session.wait_for_screen("status=1")) << session.screen;
  const termios after = session.mode();
  EXPECT_EQ(before.c_lflag, after.c_lflag);
  EXPECT_EQ(before.c_iflag, after.c_iflag);

  // Whatever the key sent was taken by the tool: the shell reads only what
  // is typed next.
  session.type("next\n");
  ASSERT_TRUE(session.wait_for_screen("rest=[")) << session.screen;
  EXPECT_NE(std::string::npos, session.screen.find("rest=[next]")) << session.screen;
}

INSTANTIATE_TEST_SUITE_P(Keys, KeyPressTest,
                         ::testing::Values("q", "\x1b[A",  // cursor up
                                           "\x1b[15~",     // F5
                                           "\x1bOP",       // F1
                                           "\x03"));       // Ctrl+C is a key, not a signal

TEST(KeyPress, KeyTypedBeforeTheWaitEndsItAtOnce) {
  ScratchFolder folder;
  TerminalSession session(folder);
  session.type("k");  // typed while the tool is still busy
  ASSERT_TRUE(session.wait_for_screen("status=1")) << session.screen;
  session.type("next\n");
  ASSERT_TRUE(session.wait_for_screen("rest=[")) << session.screen;
  EXPECT_NE(std::string::npos, session.screen.find("rest=[next]")) << session.screen;
}

TEST(KeyPress, SignalDuringTheWaitStillRestoresTheTerminal) {
  ScratchFolder folder;
  TerminalSession session(folder);
  const termios before = session.mode();
  ASSERT_TRUE(session.wait_for_screen("Press any key to exit."));
  ASSERT_TRUE(session.wait_for_line_input(false));
  const std::size_t shown = session.screen.find("pid=");
  ASSERT_NE(std::string::npos, shown);
  kill(std::stoi(session.screen.substr(shown + 4)), SIGTERM);
  ASSERT_TRUE(session.wait_for_screen("status=" + std::to_string(128 + SIGTERM))) << session.screen;
  EXPECT_EQ(before.c_lflag, session.mode().c_lflag);
  EXPECT_EQ(before.c_iflag, session.mode().c_iflag);
}

TEST(KeyPress, WithoutATerminalTheWaitEndsAtOnce) {
  const pid_t child = fork();
  if (child == 0) {
    setsid();
    _exit(wait_for_key() == -1 ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
