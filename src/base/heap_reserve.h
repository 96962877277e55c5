// Preparing the heap for a large structure that is about to be built.
#pragma once

#include <cstddef>

namespace tracemill {

// Grows the heap once by about `bytes` and asks the kernel to back that part with huge pages,
// so that building a record of that size costs a few hundred page faults instead of tens of
// thousands (on virtual machines a fault can cost over 10 microseconds). Address space that is
// never used costs nothing. Allocations of any size are then taken from the heap, and freed
// memory is kept. Does nothing for small sizes, under the sanitizers, or when the system
// refuses.
void reserve_heap(std::size_t bytes);

// reserve_heap for the record about to be decoded from the file open at `fd`: twice the size
// of the file, when it is a regular file (a decoded record takes up to about 1.5 times the
// size of its binary encoding, less for JSON).
void reserve_heap_for_input(int fd);

}  // namespace tracemill
