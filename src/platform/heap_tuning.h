// How the C library's heap is asked to behave in a process that decodes live video.
//
// Called once at the start of main(), before any thread is started.
#pragma once

namespace taviro::platform {

// Every decoder thread frees and allocates again, on each key frame, blocks of hundreds of
// kilobytes (the decoder's parameter tables and unescaped slice data, our queued elements).
// glibc's defaults map such blocks one by one until its thresholds have adapted to them,
// and keep trimming the top of each thread's heap back to the kernel whenever its free
// space passes the trim threshold; either way a key frame then pays for page faults and
// zeroed pages again, which on a stream of large key frames took a quarter of the decoding
// time. Fixed values behave the same from the first frame: blocks up to 2 MiB (the
// largest element the recorders send, with room) come from the heaps, and each heap keeps
// up to 2 MiB free at its top, about one key frame's churn. Larger values buy no speed and
// let the tops of glibc's per-thread heaps (up to 16 on two cores) hold tens of megabytes
// more. Without glibc this does nothing.
void TuneHeapForVideo();

}  // namespace taviro::platform
