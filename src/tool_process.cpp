#include "tool_process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A hang guard, not a speed check: a healthy run takes milliseconds.
constexpr int HANG_LIMIT_MS = 60'000;

[[noreturn]] void run_child(const std::string& folder, int answers_read, int console_write) {
  setsid();  // no controlling terminal: the key wait must not block
  dup2(answers_read, STDIN_FILENO);
  dup2(console_write, STDOUT_FILENO);
  dup2(console_write, STDERR_FILENO);
  if (chdir(folder.c_str()) != 0) _exit(126);
  execl(TARNVALE_BINARY, "tarnvale", static_cast<char*>(nullptr));
  _exit(127);
}

}  // namespace

ToolRun run_tool(const std::string& folder, const std::string& answers) {
  int to_tool[2], from_tool[2];
  if (pipe2(to_tool, O_CLOEXEC) != 0 || pipe2(from_tool, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  signal(SIGPIPE, SIG_IGN);  // the tool may end before it has read every answer
  const pid_t child = fork();
  if (child == 0) run_child(folder, to_tool[0], from_tool[1]);
  close(to_tool[0]);
  close(from_tool[1]);

  // Feed the answers and collect the console together, so that neither
  // side can fill a pipe and stall the other.
  ToolRun run{"", -1};
  std::size_t fed = 0;
  int answers_write = to_tool[1];
  if (answers.empty()) {
    close(answers_write);
    answers_write = -1;
  }
  for (;;) {
    pollfd ends[2] = {{from_tool[0], POLLIN, 0}, {answers_write, POLLOUT, 0}};
    const int polled = poll(ends, answers_write >= 0 ? 2 : 1, HANG_LIMIT_MS);
    if (polled < 0 && errno == EINTR) continue;
    if (polled == 0) {
      kill(child, SIGKILL);
      run.console += "\n[test: the tool hung and was killed]";
      break;
    }
    if (answers_write >= 0 && (ends[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
      const ssize_t put = write(answers_write, answers.data() + fed, answers.size() - fed);
      if (put > 0) fed += static_cast<std::size_t>(put);
      if (put < 0 || fed == answers.size()) {
        close(answers_write);
        answers_write = -1;
      }
    }
    if (ends[0].revents & (POLLIN | POLLHUP)) {
      char chunk[65536];
      const ssize_t got = read(from_tool[0], chunk, sizeof chunk);
      if (got <= 0) break;
      run.console.append(chunk, static_cast<std::size_t>(got));
    }
  }
  if (answers_write >= 0) close(answers_write);
  close(from_tool[0]);
  int status = 0;
  waitpid(child, &status, 0);
  run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

ScratchFolder::ScratchFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tarnvale-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

void ScratchFolder::write(const std::string& name, const std::string& bytes) const {
  std::ofstream out(file(name), std::ios::binary);
  out << bytes;
}

std::string ScratchFolder::read(const std::string& name) const {
  std::ifstream in(file(name), std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}
