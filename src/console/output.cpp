// output.cpp - standard output and the shared record of input/output failures.
#include "console/output.h"
