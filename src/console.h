#pragma once

// What the tool needs of the console beyond standard input and output.

// Waits for one key press on the terminal itself, not on standard input,
// with line input, echo and signal keys off, and restores the terminal
// afterwards. A key pressed earlier ends the wait at once; so does the
// absence of a terminal. Returns the key's first byte, or -1 without one.
int wait_for_key();
