// The console's reporter of caught exceptions (error_handler::handle is
// defined in con_handler.cpp).
#pragma once
#include <cstdint>

// How many level-0 reports handle() made and returned from; main uses it
// so that a run with reported errors does not end with exit code 0.
uint32_t console_reported_errors();
