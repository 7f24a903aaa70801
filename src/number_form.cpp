#include "number_form.h"

int format_exponent(double, int, char*) { return 0; }
