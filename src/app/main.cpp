// main.cpp - the process entry: records the C runtime's arguments, then runs the
// start-up and the main sequence, which end the process with its exit status.
#include "app/program.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    platform_start(argc, argv);
    run_program();
}
