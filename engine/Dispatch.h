#pragma once

// Hot block routines are built twice on x86-64, for the baseline and for AVX, and the loader picks
// the AVX build on processors that have it (GCC target clones): the same IEEE operations in the same
// order (AVX without FMA), only three-operand instructions and wider vectors. Define
// KESTRUNE_NO_DISPATCH to build the baseline only.
// ThreadSanitizer builds take the baseline only: the clones' resolvers run before its runtime is up.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(KESTRUNE_NO_DISPATCH) &&            \
    !defined(__SANITIZE_THREAD__)
#define KESTRUNE_DISPATCH __attribute__((target_clones("avx", "default")))
#define KESTRUNE_HAS_DISPATCH 1
#else
#define KESTRUNE_DISPATCH
#define KESTRUNE_HAS_DISPATCH 0
#endif

// For helpers that must be compiled inside each clone of their caller.
#if defined(__GNUC__)
#define KESTRUNE_INLINE inline __attribute__((always_inline))
#else
#define KESTRUNE_INLINE inline
#endif

// True when the AVX build runs: a kernel may then take eight-float vectors, which the baseline build
// would have to split into pairs of SSE operations. Only for code that is compiled inside a
// KESTRUNE_DISPATCH routine (the routine itself or KESTRUNE_INLINE helpers it calls): elsewhere the
// wide path would run as baseline code on an AVX processor.
KESTRUNE_INLINE bool wideVectors()
{
#if KESTRUNE_HAS_DISPATCH
    return __builtin_cpu_supports("avx");
#else
    return false;
#endif
}
