#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <iterator>

#include "console.h"

namespace {

constexpr unsigned char ESCAPE = 0x1B;
// Bytes of one function- or cursor-key sequence arrive together; this long
// after the escape byte, nothing more belongs to the key.
constexpr int SEQUENCE_GAP_MS = 50;
constexpr int LONGEST_KEY_SEQUENCE = 32;
constexpr int ENDING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Where a signal handler finds the mode to put back.
volatile sig_atomic_t terminal_for_restore = -1;
termios mode_to_restore;
struct sigaction previous_actions[std::size(ENDING_SIGNALS)];

// A signal that ends the process during the wait must not leave the user's
// shell in raw mode: restore it, then let the signal take its usual course.
void restore_and_reraise(int signal_number) {
  if (terminal_for_restore >= 0) tcsetattr(terminal_for_restore, TCSANOW, &mode_to_restore);
  std::signal(signal_number, SIG_DFL);
  raise(signal_number);
}

void catch_ending_signals() {
  struct sigaction action = {};
  action.sa_handler = restore_and_reraise;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < std::size(ENDING_SIGNALS); ++i) {
    sigaction(ENDING_SIGNALS[i], &action, &previous_actions[i]);
    // A signal the caller chose to ignore stays ignored.
    if (previous_actions[i].sa_handler == SIG_IGN)
      sigaction(ENDING_SIGNALS[i], &previous_actions[i], nullptr);
  }
}

void release_ending_signals() {
  for (std::size_t i = 0; i < std::size(ENDING_SIGNALS); ++i)
    sigaction(ENDING_SIGNALS[i], &previous_actions[i], nullptr);
}

// Reads one byte, waiting at most `timeout_ms` (-1: without limit).
int read_byte(int terminal, int timeout_ms) {
  pollfd ready = {terminal, POLLIN, 0};
  for (;;) {
    const int polled = poll(&ready, 1, timeout_ms);
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) return -1;
    unsigned char byte;
    const ssize_t got = read(terminal, &byte, 1);
    if (got == 1) return byte;
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    return -1;
  }
}

// Consumes the rest of an escape sequence (ESC [ ... final, or ESC O x), so
// that none of its bytes reach the shell after the tool has ended.
void consume_key_sequence(int terminal) {
  const int introducer = read_byte(terminal, SEQUENCE_GAP_MS);
  if (introducer == 'O') {
    read_byte(terminal, SEQUENCE_GAP_MS);
  } else if (introducer == '[') {
    for (int taken = 0; taken < LONGEST_KEY_SEQUENCE; ++taken) {
      const int c = read_byte(terminal, SEQUENCE_GAP_MS);
      if (c == -1 || (c >= 0x40 && c <= 0x7E)) return;
    }
  }
}

}  // namespace

int wait_for_key() {
  const int terminal = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (terminal < 0) return -1;  // no controlling terminal: nobody to wait for
  termios saved;
  // A job in the background cannot take a key; it would only be stopped.
  if (tcgetpgrp(terminal) != getpgrp() || tcgetattr(terminal, &saved) != 0) {
    close(terminal);
    return -1;
  }
  termios raw = saved;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
  raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;

  mode_to_restore = saved;
  terminal_for_restore = terminal;
  catch_ending_signals();
  // TCSANOW, not TCSAFLUSH: a key pressed during the calculation must count.
  tcsetattr(terminal, TCSANOW, &raw);
  const int key = read_byte(terminal, -1);
  if (key == ESCAPE) consume_key_sequence(terminal);
  tcsetattr(terminal, TCSANOW, &saved);
  terminal_for_restore = -1;
  release_ending_signals();
  close(terminal);
  return key;
}
