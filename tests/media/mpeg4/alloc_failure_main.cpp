// decoder_create when an allocation fails: every failure point returns
// nullptr and leaves nothing allocated. The decoder's aligned_alloc and
// free calls are routed here by the linker (--wrap).
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>

#include "viewer/media/mpeg4/decoder.h"

extern "C" void* __real_aligned_alloc(size_t alignment, size_t size);
extern "C" void __real_free(void* p);

namespace {
int g_allocations = 0;  // successful allocations not yet freed
int g_calls = 0;        // aligned_alloc calls so far
int g_fail_at = -1;     // the call (0-based) that fails, -1 for none
}  // namespace

extern "C" void* __wrap_aligned_alloc(size_t alignment, size_t size)
{
    const int call = g_calls++;
    if (call == g_fail_at) return nullptr;
    void* p = __real_aligned_alloc(alignment, size);
    if (p != nullptr) ++g_allocations;
    return p;
}

extern "C" void __wrap_free(void* p)
{
    if (p != nullptr) --g_allocations;
    __real_free(p);
}

TEST(DecoderCreate, EveryFailedAllocationFreesEverythingAndReturnsNull)
{
    g_calls = 0;
    g_fail_at = -1;
    DECODER* d = decoder_create();
    ASSERT_NE(d, nullptr);
    const int total = g_calls;
    EXPECT_GE(total, 9);  // the record and its eight buffers
    EXPECT_EQ(decoder_destroy(d), 0);
    EXPECT_EQ(g_allocations, 0);

    for (int fail = 0; fail < total; ++fail) {
        g_calls = 0;
        g_allocations = 0;
        g_fail_at = fail;
        EXPECT_EQ(decoder_create(), nullptr) << "allocation " << fail << " failed";
        EXPECT_EQ(g_allocations, 0) << "leak after allocation " << fail << " failed";
    }
    g_fail_at = -1;
    EXPECT_EQ(decoder_destroy(nullptr), -1);
}
