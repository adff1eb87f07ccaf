#pragma once
// Marks a hot loop to be compiled once per CPU level: the baseline, AVX2 and
// x86-64-v4 (AVX-512). The loader resolves each such function to the best
// level the CPU and OS support, once, when the program starts. Elsewhere
// (another architecture or C library) the loop is compiled once.

#if defined(__x86_64__) && defined(__GLIBC__) && defined(__has_attribute)
#if __has_attribute(target_clones)
#define PCM_CPU_LEVELS __attribute__((target_clones("default", "avx2", "arch=x86-64-v4")))
#endif
#endif
#ifndef PCM_CPU_LEVELS
#define PCM_CPU_LEVELS
#endif
