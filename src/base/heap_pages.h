// Transparent huge pages for the heap while a large record is built.
//
// Decoding a statistics file touches as much fresh heap as the file is large; with 4 KiB pages
// that is one page fault per 4 KiB, which dominated the decoding time on virtual machines.
// These calls grow the heap in large steps and mark each new stretch for huge pages, so the
// kernel can back it with 2 MiB pages.
#pragma once

namespace tracemill {

// Starts growing the heap in large steps. Call once before the bulk allocations start.
void begin_bulk_heap();
// Marks heap grown since the last call for huge pages; cheap when the heap has not grown.
// Call now and then while allocating (the JSON reader calls it once per input block).
void advise_new_heap();

}  // namespace tracemill
