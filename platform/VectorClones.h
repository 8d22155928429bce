// Marks a function whose plain loops the compiler should also build for
// machines with AVX2, the build chosen when the program loads. The loops
// that move bytes between pixel layouts become several times faster so,
// where the baseline x86-64 instructions leave them byte by byte.
//
// ThreadSanitizer instruments the function that chooses, which the loader
// runs before the sanitizer has started: those builds take the baseline.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define KEVRALE_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define KEVRALE_VECTOR_CLONES
#endif
