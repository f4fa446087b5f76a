#pragma once
// How the C library's allocator hands out the run's big tables, set once
// when a program starts, before any thread.

namespace og {

// A block of 4 MiB or more is mapped on its own and goes back to the system
// when it is freed. By default glibc raises that bound to the size of each
// mapped block freed (up to 32 MiB); from then on the run's big tables come
// from the heaps of the threads that made them, and what they free there
// stays with the process: a run against a ledger of a million accounts
// peaked about 5 % higher. A lower bound (glibc's first, 256 KiB) maps the
// run's many smaller blocks afresh each time, and a fresh page costs more
// than a reused one. Elsewhere (another C library) nothing changes.
void mapBigBlocksAlone();

} // namespace og
