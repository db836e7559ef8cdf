// A line of the process's own figures every few seconds into a file, for runs that last hours:
// heap in use, the media sockets' reassembly state and drops, and whole frames per camera.
// What the kernel knows (RSS, PSS, descriptors, threads, CPU) an outside sampler reads itself.
#pragma once

// VISTREL_HEALTH names the file (appended to; unset: nothing is written), VISTREL_HEALTH_MS
// the period (default 10000). Call once the media engine exists; runs on the event loop.
void StartHealthReport();
