#include "answer_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

// Answers come from a pipe, as when they are piped to the tool.
class Answers {
 public:
  explicit Answers(const std::string& typed) {
    int ends[2];
    if (pipe(ends) != 0) throw std::runtime_error("pipe");
    fcntl(ends[1], F_SETPIPE_SZ, 1 << 20);
    if (write(ends[1], typed.data(), typed.size()) != static_cast<ssize_t>(typed.size()))
      throw std::runtime_error("write");
    close(ends[1]);
    start_answers(reader, ends[0]);
  }
  ~Answers() { close(reader.input_file); }
  std::string token() {
    char name[260];
    const Answer answer = read_token(reader, name, sizeof name);
    if (answer == Answer::ended) return "<ended>";
    if (answer == Answer::too_long) return "<too long>";
    return name;
  }
  std::string integer() {
    std::int32_t value = 12345;
    const Answer answer = read_integer(reader, value);
    if (answer == Answer::ended) return "<ended>";
    if (answer == Answer::not_a_number) return "<not a number>";
    return std::to_string(value);
  }
  AnswerReader reader;
};

TEST(AnswerReader, IntegersWrapModulo2To32) {
  const struct {
    const char* typed;
    const char* value;
  } cases[] = {
      {"7", "7"},
      {"+31", "31"},
      {"-1", "-1"},
      {"007", "7"},
      {"2147483647", "2147483647"},
      {"2147483648", "-2147483648"},
      {"4294967296", "0"},
      {"4294967299", "3"},
      {"-2147483649", "2147483647"},
      {"99999999999999999999", "1661992959"},
      {"  \n\t 5", "5"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.value, Answers(c.typed).integer()) << c.typed;
}

TEST(AnswerReader, IntegerStopsAtTheFirstNonDigitWhichStaysUnread) {
  Answers answers("3.5 x -y +");
  EXPECT_EQ("3", answers.integer());
  EXPECT_EQ("<not a number>", answers.integer());
  EXPECT_EQ(".5", answers.token());
  EXPECT_EQ("<not a number>", answers.integer());
  EXPECT_EQ("x", answers.token());
  EXPECT_EQ("<not a number>", answers.integer());  // the sign is taken, "y" stays
  EXPECT_EQ("y", answers.token());
  EXPECT_EQ("<ended>", answers.integer());  // a lone sign, then the input ends
}

TEST(AnswerReader, TokensSpanRefillsAndLongOnesAreConsumedWhole) {
  const std::string padding(ANSWER_BUFFER_SIZE - 3, ' ');
  Answers answers(padding + "straddling.txt\n" + std::string(300, 'n') + " next");
  EXPECT_EQ("straddling.txt", answers.token());
  EXPECT_EQ("<too long>", answers.token());
  EXPECT_EQ("next", answers.token());
  EXPECT_EQ("<ended>", answers.token());
  EXPECT_EQ("<ended>", answers.token());  // and stays ended
}

TEST(AnswerReader, CtrlZEndsTheInputOnlyAtTheStartOfALine) {
  EXPECT_EQ("<ended>", Answers("\x1a name\n").token());
  EXPECT_EQ("<ended>", Answers("\n\x1a\n").integer());
  Answers answers("a\x1a \x1a\r\n\x1a more\n");
  EXPECT_EQ("a\x1a", answers.token());
  EXPECT_EQ("\x1a", answers.token());
  EXPECT_EQ("<ended>", answers.token());
}

TEST(AnswerReader, DiscardLineDropsTheRestOfTheLineOnly) {
  Answers answers("abc 5 6\r\n7\n8");
  EXPECT_EQ("<not a number>", answers.integer());
  discard_line(answers.reader);
  EXPECT_EQ("7", answers.integer());
  discard_line(answers.reader);
  EXPECT_EQ("8", answers.integer());
  discard_line(answers.reader);  // at the end of input: nothing to drop
  EXPECT_EQ("<ended>", answers.integer());
}

// A standard input left non-blocking by the parent has no answer yet, not
// no answers at all.
TEST(AnswerReader, NonBlockingInputWaitsForTheAnswer) {
  int ends[2];
  ASSERT_EQ(0, pipe(ends));
  fcntl(ends[0], F_SETFL, fcntl(ends[0], F_GETFL) | O_NONBLOCK);
  std::thread typist([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (write(ends[1], "7\n", 2) != 2) std::abort();
    close(ends[1]);
  });
  AnswerReader reader;
  start_answers(reader, ends[0]);
  std::int32_t value = 0;
  EXPECT_EQ(Answer::given, read_integer(reader, value));
  EXPECT_EQ(7, value);
  EXPECT_EQ(Answer::ended, read_integer(reader, value));
  typist.join();
  close(ends[0]);
}

}  // namespace
