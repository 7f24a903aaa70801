#include <cstdlib>

#include "tarnvale.h"

int main() { std::exit(run_tarnvale()); }
