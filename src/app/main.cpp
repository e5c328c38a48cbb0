// main.cpp - the process entry: start-up in its fixed order, then the main sequence.
#include "platform/platform.h"

int main(int argc, char** argv) {
    platform_start(argc, argv);
    platform_exit(0);
}
