#pragma once
// Hot loops that only work element by element (no sums the compiler may reorder) also come in an
// 8-lane version for processors with AVX2, chosen when the program loads. Not with fused
// multiply-add: it rounds differently, and a stream must not depend on the machine that made it.
// Not under ThreadSanitizer: the loader runs the choosing code before that runtime is up.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__) && \
    !defined(__SANITIZE_THREAD__)
#define MP3ENC_WIDE_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define MP3ENC_WIDE_CLONES
#endif

// For a function whose sums are written out in the order they must be done in (so that the
// clones above give the same values): the compiler may not reorder them.
#if defined(__GNUC__) && !defined(__clang__)
#define MP3ENC_KEEP_SUM_ORDER __attribute__((optimize("no-associative-math")))
#else
#define MP3ENC_KEEP_SUM_ORDER
#endif
