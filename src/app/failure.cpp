// failure.cpp - the failure report that ends the process after an input/output failure.
#include "console/output.h"
