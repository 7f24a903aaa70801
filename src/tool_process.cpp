#include "tool_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

// A hang guard, not a speed check: a healthy run takes milliseconds.
constexpr int HANG_LIMIT_MS = 60'000;
constexpr uid_t NOBODY = 65534;

[[noreturn]] void run_child(const std::string& folder, ToolUser user, int answers_read,
                            int console_write) {
  setsid();  // no controlling terminal: the key wait must not block
  dup2(answers_read, STDIN_FILENO);
  dup2(console_write, STDOUT_FILENO);
  dup2(console_write, STDERR_FILENO);
  if (user == ToolUser::unprivileged && getuid() == 0 &&
      (setgid(NOBODY) != 0 || setuid(NOBODY) != 0))
    _exit(125);
  if (chdir(folder.c_str()) != 0) _exit(126);
  execl(TARNVALE_BINARY, "tarnvale", static_cast<char*>(nullptr));
  _exit(127);
}

}  // namespace

ToolSession::ToolSession(const std::string& folder, ToolUser user) {
  int to_tool[2], from_tool[2];
  if (pipe2(to_tool, O_CLOEXEC) != 0 || pipe2(from_tool, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  signal(SIGPIPE, SIG_IGN);  // the tool may end before it has read every answer
  child_ = fork();
  if (child_ == 0) run_child(folder, user, to_tool[0], from_tool[1]);
  close(to_tool[0]);
  close(from_tool[1]);
  answers_ = to_tool[1];
  console_ = from_tool[0];
}

ToolSession::~ToolSession() {
  if (child_ > 0) finish();
}

void ToolSession::answer(const std::string& text) {
  // Feed the answers and collect the console together, so that neither
  // side can fill a pipe and stall the other.
  std::size_t fed = 0;
  while (fed < text.size() && answers_ >= 0) {
    pollfd ends[2] = {{answers_, POLLOUT, 0}, {console_, POLLIN, 0}};
    const int polled = poll(ends, console_ >= 0 ? 2 : 1, HANG_LIMIT_MS);
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) break;
    if (ends[0].revents & (POLLOUT | POLLERR | POLLHUP)) {
      const ssize_t put = write(answers_, text.data() + fed, text.size() - fed);
      if (put <= 0) break;  // the tool has stopped reading
      fed += static_cast<std::size_t>(put);
    }
    if (console_ >= 0 && (ends[1].revents & (POLLIN | POLLHUP))) {
      char chunk[65536];
      const ssize_t got = read(console_, chunk, sizeof chunk);
      if (got <= 0) {
        close(console_);
        console_ = -1;
      } else {
        seen_.append(chunk, static_cast<std::size_t>(got));
      }
    }
  }
}

bool ToolSession::wait_for(const std::string& text, int times) {
  const auto count = [&] {
    int found = 0;
    for (std::size_t at = 0; (at = seen_.find(text, at)) != std::string::npos; at += text.size())
      ++found;
    return found;
  };
  while (count() < times) {
    pollfd ready = {console_, POLLIN, 0};
    if (console_ < 0 || poll(&ready, 1, HANG_LIMIT_MS) <= 0) return false;
    char chunk[65536];
    const ssize_t got = read(console_, chunk, sizeof chunk);
    if (got <= 0) {
      close(console_);
      console_ = -1;
      return false;
    }
    seen_.append(chunk, static_cast<std::size_t>(got));
  }
  return true;
}

ToolRun ToolSession::finish() {
  if (answers_ >= 0) close(answers_);
  answers_ = -1;
  while (console_ >= 0) {
    pollfd ready = {console_, POLLIN, 0};
    if (poll(&ready, 1, HANG_LIMIT_MS) <= 0) {
      kill(child_, SIGKILL);
      seen_ += "\n[test: the tool hung and was killed]";
      break;
    }
    char chunk[65536];
    const ssize_t got = read(console_, chunk, sizeof chunk);
    if (got <= 0) break;
    seen_.append(chunk, static_cast<std::size_t>(got));
  }
  if (console_ >= 0) close(console_);
  console_ = -1;
  int status = 0;
  waitpid(child_, &status, 0);
  child_ = -1;
  return {seen_, WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)};
}

ToolRun run_tool(const std::string& folder, const std::string& answers, ToolUser user) {
  ToolSession session(folder, user);
  session.answer(answers);
  return session.finish();
}

ScratchFolder::ScratchFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tarnvale-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored))
    if (entry.is_directory(ignored) && !entry.is_symlink(ignored))
      std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
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
