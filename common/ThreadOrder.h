#pragma once

// Qt here is not built for ThreadSanitizer, so the sanitizer cannot see the
// order that Qt's own locks give: a thread pool's queue, waitForDone(), a
// blocking queued call. These marks tell it about such a hand-over where the
// sanitizer is on, and do nothing otherwise. What a thread did before
// handOver() happens before what another thread does after its next
// takeOver().
namespace ThreadOrder {

void handOver();
void takeOver();

} // namespace ThreadOrder
