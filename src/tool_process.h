#pragma once

#include <string>

// Test support: runs the built tool as a user would, with answers piped to
// standard input, in a new session without a controlling terminal (so the
// final key wait ends at once), inside a folder of the test's own.

struct ToolRun {
  std::string console;  // everything written to standard output and error
  int exit_status;      // the exit status, or 128 + signal when killed
};

ToolRun run_tool(const std::string& folder, const std::string& answers);

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
