// Huge pages for the heap while a large record is built.
//
// Decoding a statistics file touches about as much fresh heap as the record is large; with
// 4 KiB pages that is one page fault per 4 KiB, which dominated the decoding time on virtual
// machines (a fault can cost over 10 microseconds there). Once started, the heap grows in
// large steps and every new stretch is marked for huge pages, so the kernel can back it with
// 2 MiB pages. Advice is only a hint: without huge pages nothing changes.
#pragma once

namespace tracemill {

// Starts growing the heap in large steps, nothing given back to the system until the end.
// Does nothing under the sanitizers, whose allocator is their own.
void begin_bulk_heap();
// Marks heap grown since the last call for huge pages; one comparison when the heap has not
// grown, nothing at all before begin_bulk_heap(). ByteSource calls it at every refill.
void advise_new_heap();

}  // namespace tracemill
