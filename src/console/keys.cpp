// keys.cpp - extended key codes for key presses with Alt, Ctrl or Shift, and the Alt+keypad composition.
#include "console/keys.h"
