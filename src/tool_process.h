#pragma once

#include <sys/types.h>

#include <string>

// Test support: runs the built tool as a user would, with answers piped to
// standard input, in a new session without a controlling terminal (so the
// final key wait ends at once), inside a folder of the test's own.

struct ToolRun {
  std::string console;  // everything written to standard output and error
  int exit_status;      // the exit status, or 128 + signal when killed
};

// Who runs the tool: the test's own user, or, when that is the superuser,
// an ordinary one, so that file permissions apply.
enum class ToolUser { same, unprivileged };

// Runs the tool to its end with all of `answers` piped in at once.
ToolRun run_tool(const std::string& folder, const std::string& answers,
                 ToolUser user = ToolUser::same);

// A run answered step by step, for tests that change the files between
// two answers.
class ToolSession {
 public:
  ToolSession(const std::string& folder, ToolUser user = ToolUser::same);
  ~ToolSession();
  ToolSession(const ToolSession&) = delete;
  ToolSession& operator=(const ToolSession&) = delete;

  void answer(const std::string& text);
  // Collects the console until `text` has appeared `times` times in all.
  bool wait_for(const std::string& text, int times = 1);
  // Ends the answers and waits for the tool to end.
  ToolRun finish();

 private:
  pid_t child_ = -1;
  int answers_ = -1;
  int console_ = -1;
  std::string seen_;
};

// A fresh folder under the system's temporary folder, removed with its
// contents when the test ends.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& bytes) const;
  std::string read(const std::string& name) const;

 private:
  std::string path_;
};
