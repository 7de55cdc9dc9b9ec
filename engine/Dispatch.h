#pragma once

// Hot block routines are built twice on x86-64, for the baseline and for AVX, and the loader picks
// the AVX build on processors that have it (GCC target clones): the same IEEE operations in the same
// order (AVX without FMA), only three-operand instructions and wider vectors. Define
// KESTRUNE_NO_DISPATCH to build the baseline only.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(KESTRUNE_NO_DISPATCH)
#define KESTRUNE_DISPATCH __attribute__((target_clones("avx", "default")))
#else
#define KESTRUNE_DISPATCH
#endif

// For helpers that must be compiled inside each clone of their caller.
#if defined(__GNUC__)
#define KESTRUNE_INLINE inline __attribute__((always_inline))
#else
#define KESTRUNE_INLINE inline
#endif
