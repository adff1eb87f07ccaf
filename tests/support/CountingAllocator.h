#pragma once
// Counts every operator new of the test program that links
// CountingAllocator.cpp (a program of its own: it replaces the allocator).

#include <cstdint>

namespace testing_support {

uint64_t allocationCount();

}  // namespace testing_support
