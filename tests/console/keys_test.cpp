// Tests of the extended key translation and the Alt+keypad composition.
#include "console/keys.h"

#include <gtest/gtest.h>
