// Feeds arbitrary bytes to read_time_history as a file and compares every
// loaded sample, bit for bit, with a slow reader of the same grammar that
// walks the text one character at a time and leaves the value to strtod.

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "time_history.h"

namespace {

// Characters a number may take after its sign.
constexpr int TEXT_BUDGET = 349;

// The loader reads the file in chunks of 1 MiB plus 350 bytes; the first
// chunk ends this far into the file. Inputs that start with a form feed
// are placed behind enough blanks that this boundary falls inside them,
// or just before them where the loader tops up its buffer. Leading blanks
// change nothing about what the file holds, so the expected samples stay
// the same; the placement only matters if the loader gets it wrong.
constexpr std::size_t FIRST_CHUNK_END = (std::size_t{1} << 20) + 350;
constexpr std::size_t TOP_UP_DISTANCE = 350;

// 48 MB: too big for the stack, and the tool holds it statically too.
TimeHistory loaded;

struct ExpectedSample {
  double time;
  double amplitude;
};

bool is_blank(std::uint8_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(std::uint8_t c) { return c >= '0' && c <= '9'; }

enum class Scanned { number, not_a_number, end_of_input };

struct ReferenceNumber {
  Scanned status;
  double value;
  std::size_t next;
};

// One number at `at` (not a blank), as the grammar describes it.
ReferenceNumber scan_reference(const std::uint8_t* data, std::size_t size, std::size_t at) {
  std::size_t p = at;
  std::string text;
  if (data[p] == '+' || data[p] == '-') text += static_cast<char>(data[p++]);
  int budget = TEXT_BUDGET;
  bool seen_point = false;
  int digits = 0;
  while (p < size && budget > 0) {
    const std::uint8_t c = data[p];
    if (is_digit(c)) {
      ++digits;
    } else if (c == '.' && !seen_point) {
      seen_point = true;
    } else {
      break;
    }
    text += static_cast<char>(c);
    ++p;
    --budget;
  }
  // A lone sign or point has been consumed; it stands for nothing.
  if (digits == 0) return {p == size ? Scanned::end_of_input : Scanned::not_a_number, 0.0, p};

  if (p < size && budget > 0 && (data[p] == 'e' || data[p] == 'E')) {
    text += 'e';
    ++p;
    --budget;
    if (p < size && budget > 0 && (data[p] == '+' || data[p] == '-')) {
      text += static_cast<char>(data[p++]);
      --budget;
    }
    while (p < size && budget > 0 && is_digit(data[p])) {
      text += static_cast<char>(data[p++]);
      --budget;
    }
  }
  // strtod stops before an exponent without digits, which is what ignoring
  // it means; it rounds correctly and saturates to inf or 0 with the sign.
  return {Scanned::number, std::strtod(text.c_str(), nullptr), p};
}

std::size_t skip_blanks(const std::uint8_t* data, std::size_t size, std::size_t p) {
  while (p < size && is_blank(data[p])) ++p;
  return p;
}

// "%lf %lf" in a loop: a pair with only its first number still counts,
// with amplitude 0.0; a first number that cannot be read ends the loading.
std::vector<ExpectedSample> load_reference(const std::uint8_t* data, std::size_t size) {
  std::vector<ExpectedSample> samples;
  std::size_t p = 0;
  while (samples.size() < static_cast<std::size_t>(MAX_SAMPLES)) {
    p = skip_blanks(data, size, p);
    if (p == size) break;
    const ReferenceNumber time = scan_reference(data, size, p);
    p = time.next;
    if (time.status != Scanned::number) break;
    p = skip_blanks(data, size, p);
    if (p == size) {
      samples.push_back({time.value, 0.0});
      continue;
    }
    const ReferenceNumber amplitude = scan_reference(data, size, p);
    p = amplitude.next;
    samples.push_back(
        {time.value, amplitude.status == Scanned::number ? amplitude.value : 0.0});
  }
  return samples;
}

void write_all(int file, const void* bytes, std::size_t size) {
  const char* cursor = static_cast<const char*>(bytes);
  while (size > 0) {
    const ssize_t written = write(file, cursor, size);
    if (written <= 0) {
      std::perror("write to memfd");
      std::abort();
    }
    cursor += written;
    size -= static_cast<std::size_t>(written);
  }
}

int file_holding(const std::uint8_t* data, std::size_t size, std::size_t leading_blanks) {
  const int file = memfd_create("time_history", MFD_CLOEXEC);
  if (file < 0) {
    std::perror("memfd_create");
    std::abort();
  }
  if (leading_blanks > 0) {
    static const std::vector<char> blanks(FIRST_CHUNK_END, ' ');
    write_all(file, blanks.data(), leading_blanks);
  }
  write_all(file, data, size);
  if (lseek(file, 0, SEEK_SET) != 0) {
    std::perror("lseek");
    std::abort();
  }
  return file;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

[[noreturn]] void report_mismatch(const char* what, long index, double got, double expected) {
  std::fprintf(stderr, "%s differs at sample %ld: loaded %a, expected %a\n", what, index, got,
               expected);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::size_t leading_blanks = 0;
  if (size >= 3 && data[0] == '\f') {
    const std::size_t offset = (data[1] | (std::size_t{data[2]} << 8)) % (size + TOP_UP_DISTANCE + 1);
    leading_blanks = FIRST_CHUNK_END - offset;
  }

  const int file = file_holding(data, size, leading_blanks);
  read_time_history(loaded, file);
  // It owns the descriptor: a leak would exhaust descriptors over a long run.
  if (fcntl(file, F_GETFD) != -1) {
    std::fprintf(stderr, "read_time_history left its descriptor open\n");
    std::abort();
  }
  const std::vector<ExpectedSample> expected = load_reference(data, size);

  const long count = static_cast<long>(expected.size());
  if (loaded.sample_count != count || loaded.last != count - 1) {
    std::fprintf(stderr, "sample_count %ld, last %ld; expected %ld samples\n",
                 static_cast<long>(loaded.sample_count), static_cast<long>(loaded.last), count);
    std::abort();
  }
  for (long i = 0; i < count; ++i) {
    if (!same_bits(loaded.time[i], expected[i].time))
      report_mismatch("time", i, loaded.time[i], expected[i].time);
    if (!same_bits(loaded.amplitude[i], expected[i].amplitude))
      report_mismatch("amplitude", i, loaded.amplitude[i], expected[i].amplitude);
    if (!same_bits(loaded.unfiltered_amplitude[i], expected[i].amplitude))
      report_mismatch("unfiltered_amplitude", i, loaded.unfiltered_amplitude[i],
                      expected[i].amplitude);
  }
  return 0;
}
