// The standard descriptors 0, 1 and 2 of a process started with some of them
// closed.
#pragma once

namespace plat {

// Opens /dev/null on each of the descriptors 0, 1 and 2 that is not open, so
// that no file or socket opened later takes their place (and receives the
// console output). Call it first thing in main. Answers false when one of
// them could not be opened.
bool open_missing_standard_descriptors() noexcept;

}  // namespace plat
