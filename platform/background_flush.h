// Background flushes for long sequential writes. The disk of a virtual machine acknowledges
// writes into the host's cache, so one flush at the end of a gigabyte waits for the host to
// write all of it; flushing on the way, on a thread of its own, lets the disk work while the
// writer goes on and leaves the final flush only the tail. Correctness never depends on these
// flushes: the writer's own Flush still comes, and reports an error that one of them met.
// Internal to the platform layer (PosixFile uses it).
//
// Thread safety: both functions may be called from any thread.
#pragma once

#include <functional>

namespace vantry {

// Queues a flush of the data of the file open as `fd`. The caller keeps `fd` and may close it
// at once: the flush goes through an open file description of its own, which holds no share
// locks. Does nothing when a flush of that file is waiting already, when the queue is full (the
// disk is behind anyway) or in a forked child.
void FlushInBackground(int fd);

// The errno value a background flush of the file open as `fd` met since the last call, or 0;
// clears it. A flush of that file under way is waited for, so its error is not missed; one
// still queued is dropped, since the caller flushes the file itself.
int TakeBackgroundFlushError(int fd);

// Replaces fdatasync in the background flushes (for tests that need a flush to fail): `sync`
// returns 0 or an errno value. An empty function restores fdatasync. Call it while no
// background flush is queued.
void SetBackgroundSyncForTesting(std::function<int(int fd)> sync);

}  // namespace vantry
