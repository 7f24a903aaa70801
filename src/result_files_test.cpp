#include "result_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "tool_process.h"

namespace {

TimeHistory history;  // 48 MB: static, as in the tool

std::string contents(int file) {
  std::string bytes;
  char chunk[65536];
  lseek(file, 0, SEEK_SET);
  for (ssize_t got; (got = read(file, chunk, sizeof chunk)) > 0;)
    bytes.append(chunk, static_cast<std::size_t>(got));
  close(file);
  return bytes;
}

void set_samples(std::initializer_list<std::array<double, 3>> samples) {
  std::int32_t i = 0;
  for (const auto& sample : samples) {
    history.time[i] = sample[0];
    history.amplitude[i] = sample[1];
    history.unfiltered_amplitude[i] = sample[2];
    ++i;
  }
  history.sample_count = i;
  history.last = i - 1;
}

struct Written {
  ResultWrite outcome;
  std::string filtered;
  std::string residual;
};

Written write_to_memory() {
  const int filtered = memfd_create("filtered", 0);
  const int residual = memfd_create("residual", 0);
  const ResultWrite outcome = write_results(history, filtered, residual);
  return {outcome, contents(filtered), contents(residual)};
}

TEST(ResultFiles, LineLayoutByteByByte) {
  set_samples({{0.001, -7.25, 0.0}, {2.5, 1.0 / 3.0, 1.0}});
  const Written written = write_to_memory();
  EXPECT_EQ(ResultWrite::complete, written.outcome);
  EXPECT_EQ(
      "1.0000000e-003 \t -7.25000e+000 \r\n"
      "2.5000000e+000 \t 3.33333e-001 \r\n",
      written.filtered);
  EXPECT_EQ(
      "1.0000000e-003 \t 7.25000e+000 \r\n"
      "2.5000000e+000 \t 6.66667e-001 \r\n",
      written.residual);
  EXPECT_EQ(33u, written.filtered.find('\n') + 1);  // one minus sign: 33 bytes
}

TEST(ResultFiles, NoSamplesLeaveBothFilesEmpty) {
  set_samples({});
  const Written written = write_to_memory();
  EXPECT_EQ(ResultWrite::complete, written.outcome);
  EXPECT_EQ("", written.filtered);
  EXPECT_EQ("", written.residual);
}

TEST(ResultFiles, ResidualIsOneDoubleSubtraction) {
  const double inf = std::numeric_limits<double>::infinity();
  set_samples({{0, 0.1 + 0.2, 0.3}, {1, inf, inf}, {2, inf, 1.0}});
  const Written written = write_to_memory();
  EXPECT_EQ(
      "0.0000000e+000 \t -5.55112e-017 \r\n"
      "1.0000000e+000 \t -1.#IND0e+000 \r\n"
      "2.0000000e+000 \t -1.#INF0e+000 \r\n",
      written.residual);
}

// Several buffers' worth of lines arrive whole and in order.
TEST(ResultFiles, LongResultsArriveWhole) {
  constexpr std::int32_t count = 200'000;
  for (std::int32_t i = 0; i < count; ++i) {
    history.time[i] = i * 0.001;
    history.amplitude[i] = -i;
    history.unfiltered_amplitude[i] = -i;
  }
  history.sample_count = count;
  history.last = count - 1;
  const Written written = write_to_memory();
  EXPECT_EQ(ResultWrite::complete, written.outcome);
  const std::size_t line = written.filtered.rfind("1.9999900e+002");
  EXPECT_EQ("1.9999900e+002 \t -1.99999e+005 \r\n", written.filtered.substr(line));
  EXPECT_EQ(count * 32u, written.residual.size());
}

TEST(ResultFiles, FailedWriteIsReportedForTheRightFile) {
  set_samples({{0, 1, 1}});
  const int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  const int fine = memfd_create("fine", 0);
  EXPECT_EQ(ResultWrite::filtered_failed, write_results(history, full, fine));
  EXPECT_EQ(ResultWrite::residual_failed, write_results(history, fine, full));
  close(full);
  close(fine);
}

// End to end: what the built tool writes, from piped answers.
class ResultRunTest : public ::testing::Test {
 protected:
  ToolRun run(const std::string& input, const std::string& answers) {
    folder.write("in.txt", input);
    return run_tool(folder.path(), "in.txt filtered.txt residual.txt " + answers);
  }
  ScratchFolder folder;
};

TEST_F(ResultRunTest, WorkedExampleGivesExactBytes) {
  const ToolRun result = run("0 0\n0.001 0\n0.002 9\n0.003 0\n0.004 0\n", "3 1\n");
  EXPECT_EQ(1, result.exit_status);
  EXPECT_EQ(
      "0.0000000e+000 \t 0.00000e+000 \r\n"
      "1.0000000e-003 \t 3.00000e+000 \r\n"
      "2.0000000e-003 \t 4.00000e+000 \r\n"
      "3.0000000e-003 \t 1.33333e+000 \r\n"
      "4.0000000e-003 \t 6.66667e-001 \r\n",
      folder.read("filtered.txt"));
  EXPECT_EQ(
      "0.0000000e+000 \t 0.00000e+000 \r\n"
      "1.0000000e-003 \t -3.00000e+000 \r\n"
      "2.0000000e-003 \t 5.00000e+000 \r\n"
      "3.0000000e-003 \t -1.33333e+000 \r\n"
      "4.0000000e-003 \t -6.66667e-001 \r\n",
      folder.read("residual.txt"));
}

TEST_F(ResultRunTest, EmptyInputLeavesTwoEmptyFiles) {
  const ToolRun result = run("", "3 1\n");
  EXPECT_EQ(1, result.exit_status);
  EXPECT_NE(std::string::npos, result.console.find("last=-1"));
  EXPECT_EQ("", folder.read("filtered.txt"));
  EXPECT_EQ("", folder.read("residual.txt"));
}

TEST_F(ResultRunTest, NoPassesRepeatTheInputAndLeaveZeroResiduals) {
  const ToolRun result = run("0 1.5\n0.5 -2\n1 123456.789\n", "5 0\n");
  EXPECT_EQ(1, result.exit_status);
  EXPECT_EQ(
      "0.0000000e+000 \t 1.50000e+000 \r\n"
      "5.0000000e-001 \t -2.00000e+000 \r\n"
      "1.0000000e+000 \t 1.23457e+005 \r\n",
      folder.read("filtered.txt"));
  EXPECT_EQ(
      "0.0000000e+000 \t 0.00000e+000 \r\n"
      "5.0000000e-001 \t 0.00000e+000 \r\n"
      "1.0000000e+000 \t 0.00000e+000 \r\n",
      folder.read("residual.txt"));
}

TEST_F(ResultRunTest, InfinitiesAndTheNotANumberTheyMakeShowTheirMarkers) {
  // -inf meets +inf in the first window: invalid arithmetic, then it spreads.
  const ToolRun result = run("0 -1e999\n1 1e999\n1e999 1\n", "3 1\n");
  EXPECT_EQ(1, result.exit_status);
  EXPECT_EQ(
      "0.0000000e+000 \t -1.#IND0e+000 \r\n"
      "1.0000000e+000 \t -1.#IND0e+000 \r\n"
      "1.#INF000e+000 \t -1.#IND0e+000 \r\n",
      folder.read("filtered.txt"));
  EXPECT_EQ(
      "0.0000000e+000 \t -1.#IND0e+000 \r\n"
      "1.0000000e+000 \t -1.#IND0e+000 \r\n"
      "1.#INF000e+000 \t -1.#IND0e+000 \r\n",
      folder.read("residual.txt"));
}

TEST_F(ResultRunTest, FullDiskIsReportedAndNotTakenForSuccess) {
  folder.write("in.txt", "0 1\n1 2\n");
  const ToolRun result = run_tool(folder.path(), "in.txt /dev/full residual.txt 3 1\n");
  EXPECT_EQ(3, result.exit_status);
  EXPECT_NE(std::string::npos, result.console.find("\n Failed to write file: /dev/full \n"));
  EXPECT_EQ(std::string::npos, result.console.find("Calculation complete"));
  EXPECT_NE(std::string::npos, result.console.find("\n Press any key to exit.\n"));
}

TEST_F(ResultRunTest, ResultFileFedBackLoadsWhatWasWritten) {
  std::string input;
  for (int i = 0; i < 1000; ++i)
    input += std::to_string(i / 3.0) + " " + std::to_string(std::sin(i * 0.1) / 7.0) + "\n";
  ASSERT_EQ(1, run(input, "7 3\n").exit_status);
  const std::string first = folder.read("filtered.txt");
  // Fed back with no passes, every time and value comes out as it went in.
  folder.write("again.txt", first);
  ASSERT_EQ(1, run_tool(folder.path(), "again.txt f2.txt r2.txt 1 0\n").exit_status);
  EXPECT_EQ(first, folder.read("f2.txt"));
  const std::string residual = folder.read("r2.txt");
  std::size_t zero_lines = 0;
  for (std::size_t at = 0; (at = residual.find(" \t 0.00000e+000 \r\n", at)) != std::string::npos;
       ++at)
    ++zero_lines;
  EXPECT_EQ(1000u, zero_lines);
}

}  // namespace
