// The tool written the straightforward stdio way: the baseline that
// whole_run.py times the tool against. Same dialogue, same arithmetic,
// glibc's own number form (two-digit exponents) in the result files.

#include <cstdio>

namespace {

constexpr long MAX_SAMPLES = 2000000;

// Static, as in the tool: three arrays of 16 MB do not belong on the stack.
double time_column[MAX_SAMPLES];
double amplitude[MAX_SAMPLES];
double unfiltered_amplitude[MAX_SAMPLES];

FILE* create_result_file(char* name) {
  for (;;) {
    std::printf("\n Enter the output filename: \n");
    if (std::scanf("%259s", name) != 1) return nullptr;
    if (FILE* file = std::fopen(name, "wb")) return file;
    std::printf("\n Failed to create file: %s \n", name);
  }
}

}  // namespace

int main() {
  std::printf("\n tarnvale (stdio port) \n");
  std::printf("\n The base input file must contain two columns: \n\n time(sec)  amplitude    \n\n");

  char input_name[260];
  FILE* input = nullptr;
  std::printf(" Input filename \n\n");
  for (;;) {
    if (std::scanf("%259s", input_name) != 1) return 2;
    input = std::fopen(input_name, "rb");
    if (input != nullptr) break;
    std::printf("\n Failed to open file: %s \n\n Please enter the input filename: \n", input_name);
  }
  std::printf("\n File: %s opened. \n", input_name);

  char filtered_name[260];
  char residual_name[260];
  FILE* filtered = create_result_file(filtered_name);
  FILE* residual = filtered != nullptr ? create_result_file(residual_name) : nullptr;
  if (residual == nullptr) return 2;

  long window_size = 0;
  for (;;) {
    std::printf("\n Enter the window size.  Must be odd number. <=31 \n");
    const int got = std::scanf("%ld", &window_size);
    if (got == EOF) return 2;
    if (got == 1 && window_size >= 1 && window_size <= 31 && window_size % 2 == 1) break;
    if (got == 0) std::scanf("%*[^\n]");  // drop text that is not a number
  }
  long pass_count = 0;
  std::printf("\n Enter the number of passes \n");
  if (std::scanf("%ld", &pass_count) == EOF) return 2;

  long count = 0;
  while (count < MAX_SAMPLES &&
         std::fscanf(input, "%lf %lf", &time_column[count], &amplitude[count]) == 2) {
    unfiltered_amplitude[count] = amplitude[count];
    ++count;
  }
  std::fclose(input);
  const long last = count - 1;
  const long k = (window_size - 1) / 2;
  std::printf("\n k=%ld  last=%ld\n", k, last);

  // In place, each window summed afresh over the part inside the data.
  for (long pass = 0; pass < pass_count; ++pass)
    for (long i = 0; i <= last; ++i) {
      const long first = i - k < 0 ? 0 : i - k;
      const long final = i + k > last ? last : i + k;
      double sum = 0.0;
      for (long j = first; j <= final; ++j) sum += amplitude[j];
      amplitude[i] = sum / static_cast<double>(final - first + 1);
    }

  for (long i = 0; i <= last; ++i) {
    std::fprintf(filtered, "%12.7e \t %10.5e \r\n", time_column[i], amplitude[i]);
    std::fprintf(residual, "%12.7e \t %10.5e \r\n", time_column[i],
                 unfiltered_amplitude[i] - amplitude[i]);
  }
  const bool written = std::fclose(filtered) == 0 && std::fclose(residual) == 0;
  std::printf(written ? "\n Calculation complete. \n" : "\n Failed to write file \n");

  // The tool waits for a key on the terminal; without one (as in
  // whole_run.py) it ends at once, and so does this.
  std::printf("\n Press any key to exit.\n");
  std::fflush(stdout);
  if (FILE* terminal = std::fopen("/dev/tty", "r")) {
    std::fgetc(terminal);
    std::fclose(terminal);
  }
  return 1;
}
