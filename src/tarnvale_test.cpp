// End-to-end runs of the built tool: the whole console text, byte for byte,
// the exit status, and what happens to the files named in the dialogue.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>

#include "tool_process.h"

namespace {

const std::string OPENING =
    "\n tarnvale  version 1.0,  October 9, 2007 \n"
    "\n by the tarnvale developers,  e-mail: tarnvale@example.org \n"
    "\n This program performs mean filtering on a time history "
    "\n with a sliding window. \n"
    "\n Note that a mean filter is a type of a lowpass filter. \n"
    "\n The base input file must contain two columns: \n\n"
    " time(sec)  amplitude    \n\n"
    " \n An error message will occur if the file does not exist.\n"
    " Input filename \n\n";
const std::string RETRY_INPUT = "\n Please enter the input filename: \n";
const std::string RESULT_PROMPT = "\n Enter the output filename: \n";
const std::string WINDOW_PROMPT = "\n Enter the window size.  Must be odd number. <=31 \n";
const std::string PASSES_PROMPT = "\n Enter the number of passes \n";
const std::string CLOSING = "\n Calculation complete. \n\n Press any key to exit.\n";
const std::string INPUT_ENDED = "\n Standard input ended before every answer was given. \n";

std::string opened(const std::string& name) { return "\n File: " + name + " opened. \n"; }

std::string report(int k, int last) {
  return "\n k=" + std::to_string(k) + "  last=" + std::to_string(last) + "\n";
}

// The console of a run that went straight through with in.txt.
std::string straight_run(int k, int last) {
  return OPENING + opened("in.txt") + RESULT_PROMPT + RESULT_PROMPT + WINDOW_PROMPT +
         PASSES_PROMPT + report(k, last) + CLOSING;
}

class ToolRunTest : public ::testing::Test {
 protected:
  void SetUp() override { folder.write("in.txt", "0 1\n0.5 2\n1.0 3\n"); }
  ToolRun run(const std::string& answers) { return run_tool(folder.path(), answers); }
  ScratchFolder folder;
};

TEST_F(ToolRunTest, CompleteRunShowsEveryMessageInOrderAndExitsWithOne) {
  const ToolRun result = run("in.txt\nfiltered.txt\nresidual.txt\n5\n2\n");
  EXPECT_EQ(
      "\n tarnvale  version 1.0,  October 9, 2007 \n"
      "\n by the tarnvale developers,  e-mail: tarnvale@example.org \n"
      "\n This program performs mean filtering on a time history "
      "\n with a sliding window. \n"
      "\n Note that a mean filter is a type of a lowpass filter. \n"
      "\n The base input file must contain two columns: \n\n"
      " time(sec)  amplitude    \n\n"
      " \n An error message will occur if the file does not exist.\n"
      " Input filename \n\n"
      "\n File: in.txt opened. \n"
      "\n Enter the output filename: \n"
      "\n Enter the output filename: \n"
      "\n Enter the window size.  Must be odd number. <=31 \n"
      "\n Enter the number of passes \n"
      "\n k=2  last=2\n"
      "\n Calculation complete. \n"
      "\n Press any key to exit.\n",
      result.console);
  EXPECT_EQ(1, result.exit_status);
  struct stat status;
  EXPECT_EQ(0, stat(folder.file("filtered.txt").c_str(), &status));
  EXPECT_EQ(0, stat(folder.file("residual.txt").c_str(), &status));
}

// A folder opens for reading on this system, but counts as a file that
// cannot be opened. The rest of the line answers the new prompt.
TEST_F(ToolRunTest, InputThatCannotBeOpenedIsReportedAndAskedForAgain) {
  mkdir(folder.file("data").c_str(), 0755);
  for (const std::string name : {"absent.txt", "data"}) {
    const ToolRun result = run(name + " in.txt\nf\nr\n3\n1\n");
    EXPECT_EQ(OPENING + "\n Failed to open file: " + name + " \n" + RETRY_INPUT + opened("in.txt") +
                  RESULT_PROMPT + RESULT_PROMPT + WINDOW_PROMPT + PASSES_PROMPT + report(1, 2) +
                  CLOSING,
              result.console);
    EXPECT_EQ(1, result.exit_status);
  }
}

TEST_F(ToolRunTest, AnswersMayShareLinesAndBlankLinesAnswerNothing) {
  const char* answer_layouts[] = {
      "in.txt f r\n5 2\n", "\n\n   \nin.txt\n\t\nf\nr\n\n5\n\n2\n",
      "in.txt\r\nf\r\nr\r\n5\r\n2\r\n",
      "in.txt f r 5 2",  // no line end at all before the input ends
  };
  for (const char* answers : answer_layouts) {
    const ToolRun result = run(answers);
    EXPECT_EQ(straight_run(2, 2), result.console) << answers;
    EXPECT_EQ(1, result.exit_status) << answers;
  }
}

// The input of every dialogue test (0 1, 0.5 2, 1.0 3) as the filtered
// file shows it when no pass has changed it, and the residual of that.
const std::string UNCHANGED =
    "0.0000000e+000 \t 1.00000e+000 \r\n"
    "5.0000000e-001 \t 2.00000e+000 \r\n"
    "1.0000000e+000 \t 3.00000e+000 \r\n";
const std::string NO_RESIDUAL =
    "0.0000000e+000 \t 0.00000e+000 \r\n"
    "5.0000000e-001 \t 0.00000e+000 \r\n"
    "1.0000000e+000 \t 0.00000e+000 \r\n";

// Test names for parameterised cases: the case's own name.
template <typename Case>
std::string case_name(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

struct WindowCase {
  const char* name;
  const char* answers;  // what is typed from the window prompt on
  int window_prompts;
  int k;
  bool values_change;  // whether a pass ran that changes the values
};

class WindowAnswerTest : public ToolRunTest, public ::testing::WithParamInterface<WindowCase> {};

TEST_P(WindowAnswerTest, OnlyOddWindowsUpTo31AreAccepted) {
  const WindowCase& c = GetParam();
  const ToolRun result = run(std::string("in.txt\nf\nr\n") + c.answers);
  std::string expected = OPENING + opened("in.txt") + RESULT_PROMPT + RESULT_PROMPT;
  for (int i = 0; i < c.window_prompts; ++i) expected += WINDOW_PROMPT;
  expected += PASSES_PROMPT + report(c.k, 2) + CLOSING;
  EXPECT_EQ(expected, result.console);
  EXPECT_EQ(1, result.exit_status);
  if (c.values_change) {
    EXPECT_NE(UNCHANGED, folder.read("f"));
    EXPECT_NE(NO_RESIDUAL, folder.read("r"));
  } else {
    EXPECT_EQ(UNCHANGED, folder.read("f"));
    EXPECT_EQ(NO_RESIDUAL, folder.read("r"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Dialogue, WindowAnswerTest,
    ::testing::Values(WindowCase{"SmallestWindow", "1\n1\n", 1, 0, false},
                      WindowCase{"LargestWindow", "31\n1\n", 1, 15, true},
                      WindowCase{"EvenAndOutOfRangeRefused", "0\n2\n33\n-1\n7\n1\n", 5, 3, true},
                      WindowCase{"PassesOnTheSameLine", "3 2\n", 1, 1, true},
                      WindowCase{"FractionLeavesNoPasses", "3.5\n", 1, 1,
                                 false},  // ".5" answers the passes
                      WindowCase{"SignsAreTaken", "+5\n-0\n", 1, 2, false},
                      WindowCase{"DigitsWrapModulo2To32", "4294967299\n1\n", 1, 1, true},  // 3
                      WindowCase{"RestOfABadLineDropped", "abc 5\n3\n1\n", 2, 1, true},
                      WindowCase{"LoneSignIsNotANumber", "-x\n\n9\n1\n", 2, 4, true},
                      WindowCase{"RefusedThenBadLine", "30 abc\n29\n1\n", 3, 14, true},
                      WindowCase{"PassesNotANumber", "5\nseveral\n", 1, 2, false},
                      WindowCase{"LargestPassCountOfWindowOne", "1\n2147483647\n", 1, 0, false}),
    case_name<WindowCase>);

struct EndCase {
  const char* name;
  const char* answers;
  int prompts_shown;  // how far the dialogue came: 1 input, 2 and 3 results, 4 window, 5 passes
  int window_refusals = 0;
};

class InputEndTest : public ToolRunTest, public ::testing::WithParamInterface<EndCase> {};

TEST_P(InputEndTest, EndOfAnswersStopsTheRunWithItsOwnStatus) {
  const EndCase& c = GetParam();
  const ToolRun result = run(c.answers);
  std::string expected = OPENING;
  if (c.prompts_shown >= 2) expected += opened("in.txt") + RESULT_PROMPT;
  if (c.prompts_shown >= 3) expected += RESULT_PROMPT;
  for (int i = 0; c.prompts_shown >= 4 && i <= c.window_refusals; ++i) expected += WINDOW_PROMPT;
  if (c.prompts_shown >= 5) expected += PASSES_PROMPT;
  EXPECT_EQ(expected + INPUT_ENDED, result.console);
  EXPECT_EQ(2, result.exit_status);
}

INSTANTIATE_TEST_SUITE_P(
    Dialogue, InputEndTest,
    ::testing::Values(EndCase{"Nothing", "", 1}, EndCase{"BlankLinesOnly", "\n  \n", 1},
                      EndCase{"AtFirstResult", "in.txt", 2},
                      EndCase{"AtSecondResult", "in.txt\nf\n", 3},
                      EndCase{"AtWindow", "in.txt\nf\nr\n", 4},
                      EndCase{"AfterRefusedWindow", "in.txt\nf\nr\n4\n", 4, 1},
                      EndCase{"AfterWindowNotANumber", "in.txt\nf\nr\nabc", 4, 1},
                      EndCase{"AtPasses", "in.txt\nf\nr\n3\n", 5},
                      EndCase{"AfterLoneSignAtPasses", "in.txt\nf\nr\n3\n-", 5},
                      EndCase{"CtrlZAtLineStart", "in.txt\n\x1a\nf\nr\n3\n1\n", 2},
                      EndCase{"CtrlZAfterCrLf", "in.txt\r\n\x1a", 2},
                      EndCase{"CtrlZFirst", "\x1a in.txt f r 3 1\n", 1}),
    case_name<EndCase>);

TEST_F(ToolRunTest, CtrlZInsideALineIsAnOrdinaryByte) {
  folder.write("a\x1a", "1 2\n");
  const ToolRun result = run("a\x1a f r 1 1\n");
  EXPECT_EQ(OPENING + opened("a\x1a") + RESULT_PROMPT + RESULT_PROMPT + WINDOW_PROMPT +
                PASSES_PROMPT + report(0, 0) + CLOSING,
            result.console);
}

TEST_F(ToolRunTest, ResultNameThatIsTheInputFileIsRefusedAndTheInputKept) {
  const std::string original = folder.read("in.txt");
  symlink("in.txt", folder.file("via-link").c_str());
  link(folder.file("in.txt").c_str(), folder.file("hard-link").c_str());
  mkdir(folder.file("sub").c_str(), 0755);
  const ToolRun result = run("in.txt\nin.txt ./in.txt sub/../in.txt via-link hard-link f\nr 3 1\n");
  std::string expected = OPENING + opened("in.txt") + RESULT_PROMPT;
  for (const char* name : {"in.txt", "./in.txt", "sub/../in.txt", "via-link", "hard-link"})
    expected += std::string("\n File: ") + name +
                " is the input file and must not be overwritten. \n" + RESULT_PROMPT;
  expected += RESULT_PROMPT + WINDOW_PROMPT + PASSES_PROMPT + report(1, 2) + CLOSING;
  EXPECT_EQ(expected, result.console);
  EXPECT_EQ(original, folder.read("in.txt"));
  EXPECT_EQ(1, result.exit_status);
}

TEST_F(ToolRunTest, SecondResultNameThatIsTheFirstIsRefused) {
  const ToolRun result = run("in.txt\nf\nf ./f r\n3\n1\n");
  EXPECT_EQ(OPENING + opened("in.txt") + RESULT_PROMPT + RESULT_PROMPT +
                "\n File: f is already the first output file. \n" + RESULT_PROMPT +
                "\n File: ./f is already the first output file. \n" + RESULT_PROMPT +
                WINDOW_PROMPT + PASSES_PROMPT + report(1, 2) + CLOSING,
            result.console);
}

TEST_F(ToolRunTest, DeviceMayTakeBothResults) {
  const ToolRun result = run("in.txt /dev/null /dev/null 3 1\n");
  EXPECT_EQ(straight_run(1, 2), result.console);
  EXPECT_EQ(1, result.exit_status);
}

TEST_F(ToolRunTest, ResultFileThatCannotBeCreatedIsAskedForAgain) {
  mkfifo(folder.file("pipe").c_str(), 0644);  // nobody reads it: opening must not hang
  const ToolRun result = run("in.txt\nmissing/f . pipe f\nr\n3\n1\n");
  std::string expected = OPENING + opened("in.txt") + RESULT_PROMPT;
  for (const char* name : {"missing/f", ".", "pipe"})
    expected += std::string("\n Failed to create file: ") + name + " \n" + RESULT_PROMPT;
  expected += RESULT_PROMPT + WINDOW_PROMPT + PASSES_PROMPT + report(1, 2) + CLOSING;
  EXPECT_EQ(expected, result.console);
  EXPECT_EQ(1, result.exit_status);
}

TEST_F(ToolRunTest, ExistingResultFilesAreTruncatedAtOnce) {
  folder.write("f", "old filtered text");
  folder.write("r", "old residual text");
  // The dialogue stops at the window prompt: both files are already empty.
  const ToolRun result = run("in.txt f r\n");
  EXPECT_EQ(2, result.exit_status);
  EXPECT_EQ("", folder.read("f"));
  EXPECT_EQ("", folder.read("r"));
}

TEST_F(ToolRunTest, NamesLongerThan259BytesAreRefused) {
  const std::string longest(259, 'x');  // fits, but no such file exists
  const std::string too_long(260, 'y');
  const ToolRun result =
      run(longest + "\n" + too_long + "\nin.txt\n" + too_long + "\nf\nr\n3\n1\n");
  const std::string refused = "\n The name is longer than 259 characters. \n";
  EXPECT_EQ(OPENING + "\n Failed to open file: " + longest + " \n" + RETRY_INPUT + refused +
                RETRY_INPUT + opened("in.txt") + RESULT_PROMPT + refused + RESULT_PROMPT +
                RESULT_PROMPT + WINDOW_PROMPT + PASSES_PROMPT + report(1, 2) + CLOSING,
            result.console);
}

TEST_F(ToolRunTest, FileWithoutReadablePairsReportsLastMinusOne) {
  folder.write("titles.txt", "time amplitude\n0 1\n");
  const ToolRun result = run("titles.txt\nf\nr\n3\n1\n");
  EXPECT_EQ(OPENING + opened("titles.txt") + RESULT_PROMPT + RESULT_PROMPT + WINDOW_PROMPT +
                PASSES_PROMPT + report(1, -1) + CLOSING,
            result.console);
  EXPECT_EQ(1, result.exit_status);
}

// Hostile inputs: whatever the files and answers hold, the run ends cleanly
// with what the loading rules determine, and nothing is lost.

std::size_t line_count(const std::string& text) {
  std::size_t lines = 0;
  for (std::size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
  return lines;
}

TEST_F(ToolRunTest, BinaryFileLoadsWhatPrecedesTheFirstNonNumber) {
  std::mt19937 random(7);
  std::string bytes = "0 1\n2 3\n";
  for (int i = 0; i < (1 << 20); ++i) bytes += static_cast<char>(random());
  bytes[8] = '\x01';  // the binary part never begins a number
  folder.write("binary.bin", bytes);
  const ToolRun result = run("binary.bin f r 3 2\n");
  EXPECT_EQ(1, result.exit_status);
  EXPECT_NE(std::string::npos, result.console.find(report(1, 1))) << result.console;
  EXPECT_EQ(2u, line_count(folder.read("f")));
  EXPECT_EQ(2u, line_count(folder.read("r")));
}

TEST_F(ToolRunTest, OneHugeLineOfTooManyPairsIsCutAtTheCapacity) {
  std::string line;
  for (int i = 0; i < 2'000'005; ++i) line += "0 1 ";
  folder.write("huge.txt", line);
  const ToolRun result = run("huge.txt f r 1 1\n");
  EXPECT_EQ(1, result.exit_status);
  EXPECT_NE(std::string::npos, result.console.find(report(0, 1'999'999)));
  EXPECT_EQ(2'000'000u * 32u, folder.read("f").size());
}

TEST_F(ToolRunTest, NumberOfThousandsOfDigitsIsTakenIn349CharacterPieces) {
  // 5000 digits: 14 pieces of 349 and one of 114, then 7 completes a pair.
  folder.write("digits.txt", "1" + std::string(4999, '0') + " 7\n");
  const ToolRun result = run("digits.txt f r 1 1\n");
  EXPECT_EQ(1, result.exit_status);
  EXPECT_NE(std::string::npos, result.console.find(report(0, 7)));
  const std::string filtered = folder.read("f");
  EXPECT_EQ(0u, filtered.find("1.#INF000e+000 \t 0.00000e+000 \r\n"));  // 1e348 overflows
  EXPECT_EQ(filtered.size() - 32, filtered.rfind("0.0000000e+000 \t 7.00000e+000 \r\n"));
}

TEST_F(ToolRunTest, InputsThatCouldBlockEndAtOnce) {
  mkfifo(folder.file("pipe").c_str(), 0644);  // nobody writes to it
  for (const char* name : {"pipe", "/dev/zero", "/dev/null"}) {
    const ToolRun result = run(std::string(name) + " f r 3 1\n");
    EXPECT_EQ(1, result.exit_status) << name;
    EXPECT_NE(std::string::npos, result.console.find(report(1, -1))) << name;
  }
}

TEST_F(ToolRunTest, InputEndingInTheMiddleOfANameTakesWhatWasTyped) {
  const ToolRun result = run("in.tx");
  EXPECT_EQ(OPENING + "\n Failed to open file: in.tx \n" + RETRY_INPUT + INPUT_ENDED,
            result.console);
  EXPECT_EQ(2, result.exit_status);
}

TEST_F(ToolRunTest, ReadOnlyResultFolderIsRefusedAndAskedAgain) {
  // Run as an ordinary user: the superuser may write anywhere.
  mkdir(folder.file("locked").c_str(), 0555);
  std::filesystem::permissions(folder.path(), std::filesystem::perms::all);
  const ToolRun result =
      run_tool(folder.path(), "in.txt locked/f f r 3 1\n", ToolUser::unprivileged);
  EXPECT_EQ(OPENING + opened("in.txt") + RESULT_PROMPT + "\n Failed to create file: locked/f \n" +
                RESULT_PROMPT + RESULT_PROMPT + WINDOW_PROMPT + PASSES_PROMPT + report(1, 2) +
                CLOSING,
            result.console);
  EXPECT_EQ(1, result.exit_status);
}

TEST_F(ToolRunTest, ResultFolderThatVanishesDuringTheDialogueIsRefused) {
  mkdir(folder.file("results").c_str(), 0755);
  ToolSession session(folder.path());
  session.answer("in.txt results/f\n");
  ASSERT_TRUE(session.wait_for(RESULT_PROMPT, 2));
  std::filesystem::remove_all(folder.file("results"));
  session.answer("results/r\nr\n3\n1\n");
  const ToolRun result = session.finish();
  EXPECT_EQ(OPENING + opened("in.txt") + RESULT_PROMPT + RESULT_PROMPT +
                "\n Failed to create file: results/r \n" + RESULT_PROMPT + WINDOW_PROMPT +
                PASSES_PROMPT + report(1, 2) + CLOSING,
            result.console);
  EXPECT_EQ(1, result.exit_status);
}

}  // namespace
