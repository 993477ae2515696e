// How the C library's heap is asked to behave in a process that decodes live video.
//
// Called once at the start of main(), before any thread is started.
#pragma once

namespace taviro::platform {

// Every decoder thread frees and allocates again, on each key frame, blocks of hundreds of
// kilobytes (the decoder's parameter tables and unescaped slice data, our queued elements).
// By default glibc hands such blocks back to the kernel as soon as they are free (blocks
// from 128 KiB are mapped one by one; the top of each thread's heap is trimmed beyond
// 128 KiB), so every key frame of every channel pays for page faults and zeroed pages
// again: a quarter of the decoding time on a stream of large key frames. Blocks up to
// 4 MiB now come from the heaps, and each heap keeps up to 16 MiB of free space at its top.
// Without glibc this does nothing.
void TuneHeapForVideo();

}  // namespace taviro::platform
