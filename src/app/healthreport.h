// A line of the process's own figures every few seconds into a file, for runs that last hours:
// heap in use, the media sockets' reassembly state and drops, and whole frames per camera.
// What the kernel knows (RSS, PSS, descriptors, threads, CPU) an outside sampler reads itself.
#pragma once

// VISTREL_HEALTH names the file (appended to; unset: nothing is written), VISTREL_HEALTH_MS
// the period (default 10000). Call once the media engine exists; runs on the event loop.
void StartHealthReport();

// Frames are allocated on one thread and freed on another, so the allocator's per-thread arenas
// keep pages that are free but not given back, and a process that runs for months grows by a
// few MiB an hour with its heap in use flat. Once a minute the free pages go back to the system,
// and so do the sockets' receive buffers' (a frame copied there leaves its pages resident).
constexpr int HEAP_RETURN_MS = 60000;
void StartHeapReturn();

// Services (the RTSP bridge, the PC recorder) hand frames of up to a few hundred KB from the
// thread that receives them to the one that sends or writes them. malloc maps such a block at
// first, but freeing it raises its mapping threshold to the block's size, and from then on the
// frames come from the arenas, where the holes they leave fill with small blocks that pin the
// pages. A fixed threshold keeps frames of this size mapped and given back at free. Call before
// the first thread is made.
constexpr int SERVICE_MMAP_THRESHOLD = 64 * 1024;
void KeepLargeBlocksMapped(int nBytes);

// The desktop client's decoders take their frame pools in blocks of a few hundred KB to a few
// MiB. Left to itself, malloc maps the first ones and raises its mapping threshold to the size of
// each mapped block freed, so every camera that reboots or changes its picture size moves its next
// pools from mappings into the arenas, where they stay when freed: over a soak hour the arenas
// grew in steps of about 20 MiB at such faults. A fixed threshold puts a block of a given size in
// the same place every time; it lies above the pictures a pane takes every frame (a 4x4 grid's
// are a few hundred KB) so that they never pay for a mapping.
constexpr int DESKTOP_MMAP_THRESHOLD = 1024 * 1024;
