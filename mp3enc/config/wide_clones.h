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
