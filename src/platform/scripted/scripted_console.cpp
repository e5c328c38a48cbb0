// scripted_console.cpp - an in-memory console for tests: a screen grid, a cursor, an event queue.
#include "platform/platform.h"
