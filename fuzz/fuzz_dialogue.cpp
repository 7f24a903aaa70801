// Feeds arbitrary bytes to ask_run_settings as standard input. Properties:
// it always returns (libFuzzer's -timeout catches a hang) and stays inside
// its buffers (AddressSanitizer); it returns false only once the answers
// ended; when it returns true the window size is odd in 1..31, the three
// names are non-empty and at most 259 bytes, the names lead to the files
// that are open, the result files are empty and distinct from the input
// file, and not one regular file; the input file is never truncated; and no
// descriptor is left open beyond the three it reports.
//
// The dialogue creates and truncates whatever files the answers name. So
// the harness works in a fresh folder of its own under /tmp, every '/' of
// the input becomes '_' (every name is a plain name in that folder), and
// everything a run leaves there is removed before the next run.

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "answer_reader.h"
#include "tarnvale.h"

namespace {

constexpr int LONGEST_NAME = NAME_BUFFER_SIZE - 1;

// Regular files the folder starts every run with; a run may truncate one by
// naming it as a result file, so each run begins by restoring them.
struct FixtureFile {
  const char* name;
  const char* content;
};
const FixtureFile FIXTURE_FILES[] = {
    {"in.txt", "0 1\n0.001 2\n0.002 3\n"},
    {"other.txt", "5 6\n"},
    {"empty.txt", ""},
};
// Other names of in.txt (a hard and a symbolic link), a folder and a named
// pipe: the spellings of one file and the kinds of file the dialogue must
// refuse or cope with.
const char HARD_LINK[] = "hard.txt";
const char SYMBOLIC_LINK[] = "link.txt";
const char FOLDER[] = "dir";
const char NAMED_PIPE[] = "pipe";

std::string scratch_folder;

void remove_scratch_folder();

// Ends the process on a fault. The scratch folder goes first: atexit
// handlers do not run on abort.
[[noreturn]] void stop() {
  static bool stopping = false;
  if (!stopping) {
    stopping = true;
    remove_scratch_folder();
  }
  std::abort();
}

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "fuzz_dialogue: %s\n", what);
  stop();
}

[[noreturn]] void fail_system(const char* what) {
  std::perror(what);
  stop();
}

bool is_fixture_name(const char* name) {
  for (const FixtureFile& file : FIXTURE_FILES)
    if (std::strcmp(name, file.name) == 0) return true;
  return std::strcmp(name, HARD_LINK) == 0 || std::strcmp(name, SYMBOLIC_LINK) == 0 ||
         std::strcmp(name, FOLDER) == 0 || std::strcmp(name, NAMED_PIPE) == 0;
}

void write_all(int file, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(file, bytes, size);
    if (written <= 0) fail_system("write");
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
}

// Rewrites a fixture in place (same inode, so its hard link follows).
void write_fixture(const FixtureFile& fixture) {
  const int file = open(fixture.name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (file < 0) fail_system(fixture.name);
  write_all(file, fixture.content, std::strlen(fixture.content));
  close(file);
}

void restore_fixtures() {
  struct stat status;
  for (const FixtureFile& fixture : FIXTURE_FILES) {
    if (lstat(fixture.name, &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_size != static_cast<off_t>(std::strlen(fixture.content)))
      write_fixture(fixture);
  }
  if (lstat(HARD_LINK, &status) != 0 && link("in.txt", HARD_LINK) != 0) fail_system(HARD_LINK);
  if (lstat(SYMBOLIC_LINK, &status) != 0 && symlink("in.txt", SYMBOLIC_LINK) != 0)
    fail_system(SYMBOLIC_LINK);
  if (lstat(FOLDER, &status) != 0 && mkdir(FOLDER, 0755) != 0) fail_system(FOLDER);
  if (lstat(NAMED_PIPE, &status) != 0 && mkfifo(NAMED_PIPE, 0644) != 0) fail_system(NAMED_PIPE);
}

// Removes every entry of the folder that is not a fixture: the result
// files of the run, whatever their names.
void remove_created_files() {
  DIR* const folder = opendir(".");
  if (folder == nullptr) fail_system("opendir");
  std::vector<std::string> created;
  while (const dirent* entry = readdir(folder)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    if (!is_fixture_name(entry->d_name)) created.push_back(entry->d_name);
  }
  closedir(folder);
  for (const std::string& name : created) unlink(name.c_str());
}

void remove_scratch_folder() {
  if (scratch_folder.empty()) return;
  if (chdir(scratch_folder.c_str()) != 0) return;
  remove_created_files();
  for (const FixtureFile& fixture : FIXTURE_FILES) unlink(fixture.name);
  unlink(HARD_LINK);
  unlink(SYMBOLIC_LINK);
  unlink(NAMED_PIPE);
  rmdir(FOLDER);
  if (chdir("/") == 0) rmdir(scratch_folder.c_str());
}

// The harness leaves the caller's folder; paths on the command line (the
// corpus, artifacts) are made absolute first so libFuzzer still reads and
// writes them where the caller meant, and crash files land in the caller's
// folder rather than in the scratch folder, which is emptied after every run.
void make_paths_absolute(int* argc, char*** argv, const std::string& caller_folder) {
  static const char* const PATH_FLAGS[] = {
      "-artifact_prefix=", "-exact_artifact_path=", "-dict=", "-features_dir=",
      "-merge_control_file=", "-load_coverage_summary=", "-save_coverage_summary=",
      "-data_flow_trace=", "-mutation_graph_file=", "-stop_file="};
  const auto absolute = [&](const std::string& path) {
    return path.empty() || path[0] == '/' ? path : caller_folder + "/" + path;
  };
  std::vector<std::string> arguments;
  bool has_artifact_place = false;
  for (int i = 0; i < *argc; ++i) {
    std::string argument = (*argv)[i];
    if (i > 0 && argument[0] != '-') {
      argument = absolute(argument);
    } else if (i > 0) {
      for (const char* flag : PATH_FLAGS) {
        const std::size_t flag_length = std::strlen(flag);
        if (argument.compare(0, flag_length, flag) != 0) continue;
        argument = flag + absolute(argument.substr(flag_length));
        if (std::strcmp(flag, "-artifact_prefix=") == 0 ||
            std::strcmp(flag, "-exact_artifact_path=") == 0)
          has_artifact_place = true;
      }
    }
    arguments.push_back(argument);
  }
  if (!has_artifact_place) arguments.push_back("-artifact_prefix=" + caller_folder + "/");

  // Lives as long as the process: libFuzzer keeps reading it.
  char** const rewritten = new char*[arguments.size() + 1];
  for (std::size_t i = 0; i < arguments.size(); ++i) rewritten[i] = strdup(arguments[i].c_str());
  rewritten[arguments.size()] = nullptr;
  *argc = static_cast<int>(arguments.size());
  *argv = rewritten;
}

// Which of the 64 descriptors from `first` are open. A run allocates its
// descriptors from the lowest free one upwards, so comparing this before
// and after a run shows any it left open.
std::uint64_t open_descriptors_from(int first) {
  std::uint64_t open_set = 0;
  for (int i = 0; i < 64; ++i)
    if (fcntl(first + i, F_GETFD) != -1) open_set |= std::uint64_t{1} << i;
  return open_set;
}

int lowest_free_descriptor() {
  const int probe = fcntl(STDERR_FILENO, F_DUPFD, 0);
  if (probe < 0) fail_system("F_DUPFD");
  close(probe);
  return probe;
}

int answers_file(const std::uint8_t* data, std::size_t size) {
  std::vector<char> answers(data, data + size);
  for (char& byte : answers)
    if (byte == '/') byte = '_';
  const int file = memfd_create("answers", MFD_CLOEXEC);
  if (file < 0) fail_system("memfd_create");
  write_all(file, answers.data(), answers.size());
  if (lseek(file, 0, SEEK_SET) != 0) fail_system("lseek");
  return file;
}

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

struct stat status_of(int file, const char* which) {
  struct stat status;
  if (fstat(file, &status) != 0) {
    std::fprintf(stderr, "fuzz_dialogue: the %s descriptor %d is not open\n", which, file);
    stop();
  }
  return status;
}

void check_name(const char* name, const char* which) {
  const void* terminator = std::memchr(name, '\0', NAME_BUFFER_SIZE);
  if (terminator == nullptr) {
    std::fprintf(stderr, "fuzz_dialogue: the %s name is not terminated\n", which);
    stop();
  }
  const std::size_t length = static_cast<const char*>(terminator) - name;
  if (length == 0 || length > static_cast<std::size_t>(LONGEST_NAME)) {
    std::fprintf(stderr, "fuzz_dialogue: the %s name has %zu bytes\n", which, length);
    stop();
  }
}

// The name must still lead to the file that was opened under it.
void check_name_leads_to(const char* name, const struct stat& opened, const char* which) {
  struct stat named;
  if (stat(name, &named) != 0 || !same_file(named, opened)) {
    std::fprintf(stderr, "fuzz_dialogue: the %s name \"%s\" is not the file opened\n", which,
                 name);
    stop();
  }
}

// No fixture that is the input file may have lost its content.
void check_input_intact(int input_file) {
  if (input_file < 0) return;
  const struct stat input = status_of(input_file, "input");
  for (const FixtureFile& fixture : FIXTURE_FILES) {
    struct stat status;
    if (stat(fixture.name, &status) != 0 || !same_file(status, input)) continue;
    if (status.st_size != static_cast<off_t>(std::strlen(fixture.content))) {
      std::fprintf(stderr, "fuzz_dialogue: the input file %s was changed\n", fixture.name);
      stop();
    }
  }
}

void check_created_empty(int result_file, const char* which) {
  if (result_file < 0) return;
  const struct stat status = status_of(result_file, which);
  if (S_ISREG(status.st_mode) && status.st_size != 0) {
    std::fprintf(stderr, "fuzz_dialogue: the %s file was not truncated\n", which);
    stop();
  }
}

void check_completed_settings(const RunSettings& settings) {
  if (settings.window_size < 1 || settings.window_size > MAX_WINDOW ||
      settings.window_size % 2 != 1) {
    std::fprintf(stderr, "fuzz_dialogue: window size %ld accepted\n",
                 static_cast<long>(settings.window_size));
    stop();
  }
  check_name(settings.input_name, "input");
  check_name(settings.filtered_name, "filtered");
  check_name(settings.residual_name, "residual");
  const struct stat input = status_of(settings.input_file, "input");
  const struct stat filtered = status_of(settings.filtered_file, "filtered");
  const struct stat residual = status_of(settings.residual_file, "residual");
  if (S_ISDIR(input.st_mode)) fail("a folder was accepted as the input file");
  if (same_file(filtered, input)) fail("the filtered file is the input file");
  if (same_file(residual, input)) fail("the residual file is the input file");
  // A device such as /dev/null may take both results; a regular file may not.
  if (S_ISREG(filtered.st_mode) && same_file(filtered, residual))
    fail("both result files are one regular file");
  check_name_leads_to(settings.input_name, input, "input");
  check_name_leads_to(settings.filtered_name, filtered, "filtered");
  check_name_leads_to(settings.residual_name, residual, "residual");
}

void close_if_open(int file) {
  if (file >= 0 && close(file) != 0) fail("a reported descriptor was not open");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  char caller_folder[4096];
  if (getcwd(caller_folder, sizeof caller_folder) == nullptr) fail_system("getcwd");
  make_paths_absolute(argc, argv, caller_folder);

  char folder_template[] = "/tmp/tarnvale_fuzz_dialogue_XXXXXX";
  if (mkdtemp(folder_template) == nullptr) fail_system("mkdtemp");
  scratch_folder = folder_template;
  if (chdir(folder_template) != 0) fail_system("chdir");
  std::atexit(remove_scratch_folder);
  restore_fixtures();

  // The prompts are of no interest and would drown libFuzzer's reports.
  const int null_device = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null_device < 0 || dup2(null_device, STDOUT_FILENO) < 0) fail_system("/dev/null");
  close(null_device);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int first_free = lowest_free_descriptor();
  const std::uint64_t open_before = open_descriptors_from(first_free);
  const int answers = answers_file(data, size);

  // On the heap, each exactly its size, so AddressSanitizer sees any
  // access beyond either structure.
  AnswerReader* const reader = new AnswerReader;
  RunSettings* const settings = new RunSettings;
  std::memset(settings, 0x55, sizeof *settings);

  start_answers(*reader, answers);
  const bool completed = ask_run_settings(*settings, *reader);

  if (reader->position < 0 || reader->position > reader->length ||
      reader->length > ANSWER_BUFFER_SIZE)
    fail("the answer reader's position or length left its buffer");
  if (!completed && !reader->ended) fail("the dialogue gave up before the answers ended");
  if (completed) check_completed_settings(*settings);
  check_input_intact(settings->input_file);
  check_created_empty(settings->filtered_file, "filtered");
  check_created_empty(settings->residual_file, "residual");

  close_if_open(settings->input_file);
  close_if_open(settings->filtered_file);
  close_if_open(settings->residual_file);
  close(answers);
  delete settings;
  delete reader;
  if (open_descriptors_from(first_free) != open_before)
    fail("the dialogue left a descriptor open");

  remove_created_files();
  restore_fixtures();
  return 0;
}
