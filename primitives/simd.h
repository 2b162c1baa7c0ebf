// SSE2 support for the pixel primitives.
//
// On x86-64 SSE2 is part of the architecture. The 32-bit Windows build
// targets plain i686, so the SSE2 routines are compiled for SSE2 through a
// function attribute and chosen at run time when the processor has it; they
// also realign the stack on entry, because a 32-bit Windows host may call
// us with a stack aligned to 4 bytes only and SSE2 spills need 16. Other
// architectures use the portable scalar code, as does any build that
// defines WEMB_NO_SSE2 (to test that code on x86), which also leaves out the
// SSSE3 routines.
#pragma once

#include <atomic>
#include <cstdint>

// Instruction sets the vector routines may use, in the order they are tried.
enum SimdLevel : int32_t {
    SimdScalar = 0,
    SimdSse2 = 1,
    SimdSsse3 = 2,
    SimdAvx = 3,
    SimdAvx2 = 4,
};

// Test hook: from now on the routines use no instruction set above `level`,
// so that every path can be tested on one processor. SimdAvx2, the default,
// lets them use whatever the processor has. A plain load per check keeps it
// free for the codec.
inline std::atomic<int32_t> g_simdLevelLimit{SimdAvx2};

inline void LimitSimdLevel(int32_t level) { g_simdLevelLimit.store(level, std::memory_order_relaxed); }

inline bool SimdLevelAllowed(int32_t level) {
    return g_simdLevelLimit.load(std::memory_order_relaxed) >= level;
}

#if (defined(__x86_64__) || defined(__i386__)) && !defined(WEMB_NO_SSE2)

#include <emmintrin.h>

#define WEMB_HAVE_SSE2 1

#if defined(__i386__)
// Entry points: callable from code built without SSE2.
#define WEMB_SSE2_ENTRY __attribute__((target("sse2"), force_align_arg_pointer))
// Helpers: folded into their SSE2 callers.
#define WEMB_SSE2_INLINE static inline __attribute__((target("sse2"), always_inline))

inline bool CpuHasSse2() { return SimdLevelAllowed(SimdSse2) && __builtin_cpu_supports("sse2"); }
#else
#define WEMB_SSE2_ENTRY
#define WEMB_SSE2_INLINE static inline __attribute__((always_inline))

inline bool CpuHasSse2() { return SimdLevelAllowed(SimdSse2); }
#endif

// SSSE3 adds the byte shuffle (pshufb), which no build may assume: routines
// that use it are compiled for it and chosen at run time, on 64-bit builds
// too. SSE2 helpers fold into them.
#include <tmmintrin.h>

#define WEMB_HAVE_SSSE3 1

#if defined(__i386__)
#define WEMB_SSSE3_ENTRY __attribute__((target("ssse3"), force_align_arg_pointer))
#else
#define WEMB_SSSE3_ENTRY __attribute__((target("ssse3")))
#endif
#define WEMB_SSSE3_INLINE static inline __attribute__((target("ssse3"), always_inline))

inline bool CpuHasSsse3() { return SimdLevelAllowed(SimdSsse3) && __builtin_cpu_supports("ssse3"); }

// The same 128-bit routines compiled for AVX: its three-operand encodings
// spare the register copies that two-operand SSE needs. Chosen at run time
// (the check includes the operating system's support for the AVX state).
#if defined(__i386__)
#define WEMB_AVX_ENTRY __attribute__((target("avx"), force_align_arg_pointer))
#else
#define WEMB_AVX_ENTRY __attribute__((target("avx")))
#endif

inline bool CpuHasAvx() { return SimdLevelAllowed(SimdAvx) && __builtin_cpu_supports("avx"); }

// AVX2: 256-bit integer arithmetic, for routines that gain from eight 32-bit
// lanes in one register.
#include <immintrin.h>

#define WEMB_HAVE_AVX2 1

#if defined(__i386__)
#define WEMB_AVX2_ENTRY __attribute__((target("avx2"), force_align_arg_pointer))
#else
#define WEMB_AVX2_ENTRY __attribute__((target("avx2")))
#endif
#define WEMB_AVX2_INLINE static inline __attribute__((target("avx2"), always_inline))

inline bool CpuHasAvx2() { return SimdLevelAllowed(SimdAvx2) && __builtin_cpu_supports("avx2"); }

#endif
