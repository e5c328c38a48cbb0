// failure.h - failure numbers built from the system's error codes.
#pragma once

#include <cstdint>

// The failure number of a failed create or delete: codes 19 to 31 become 150 to 162,
// a sharing violation (32) becomes 5, any other code keeps its low 16 bits. A code
// that would give 0 becomes FAILURE_UNKNOWN, since 0 means "no failure".
uint16_t failure_number(uint32_t error);

// The failure number of a failure the system gave no usable code for.
constexpr uint16_t FAILURE_UNKNOWN = 255;
