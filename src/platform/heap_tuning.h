// How the C library's heap is asked to behave in a process that decodes live video.
//
// Called once at the start of main(), before any thread is started.
#pragma once

namespace taviro::platform {

// Every decoder thread frees and allocates again, on each key frame, blocks of hundreds of
// kilobytes (the decoder's parameter tables and unescaped slice data, our queued elements).
// glibc's defaults map such blocks one by one until its thresholds have adapted to them,
// and keep trimming the top of each heap back to the kernel whenever its free space passes
// the trim threshold; either way a key frame then pays for page faults and zeroed pages
// again, which on a stream of large key frames took a quarter of the decoding time. Fixed
// values behave the same from the first frame: blocks up to 2 MiB (the largest element the
// recorders send, with room) come from the heaps, and each heap keeps up to 2 MiB free at
// its top, about one key frame's churn. Larger values buy no speed and let the heaps' tops
// hold tens of megabytes more.
//
// The decoder threads come and go with live view, playback and reconnects, and glibc gives
// each new thread a heap of its own, up to eight per core. A decoder opened on a heap whose
// top was trimmed faults in its tables and picture buffers afresh, while what the last
// decoders freed sits in other heaps. With two heaps per core the threads share them and a
// new decoder reuses that memory; no more threads than cores run at once, so they seldom
// wait for a heap's lock.
//
// Without glibc this does nothing.
void TuneHeapForVideo();

// Gives the free pages inside the heaps back to the system after something large went (a
// decoder closed for a channel no pane shows any more): the heaps only trim their tops by
// themselves, and a decoder's picture pool freed in the middle of a heap would otherwise
// stay resident. The heaps are walked at most once a second in the whole process: a call
// within that second leaves the work to the next ReturnFreeHeapIfAsked() after it (idle
// threads call that as they wake), so memory freed by a burst of closes is returned too.
// Any thread. Without glibc this does nothing.
void ReturnFreeHeap();
void ReturnFreeHeapIfAsked();

}  // namespace taviro::platform
