// The per-buffer path allocates nothing once a broadcast has met each kind of buffer. Its own
// program, since it counts every operator new in the process.

#include "BroadcastFixture.h"
#include "tests/support/CountingAllocator.h"

namespace {

using testing_support::OwnedBuffer;

using PushAllocation = BroadcastFixture;

TEST_F(PushAllocation, NothingIsAllocatedPerBufferInAnyState) {
    const std::vector<int16_t> samples(2048, 100);
    const auto good = testing_support::makeInt16Buffer(samples, 2, 48000, false);
    auto tooShort = testing_support::makeInt16Buffer(samples, 2, 48000, false);
    tooShort->buffer.numSamples = 4096;  // more frames than its bytes hold
    auto notPcm = testing_support::makeInt16Buffer(samples, 2, 48000, false);
    notPcm->buffer.formatDescription->streamDescription->mFormatID = 0x61616320;  // 'aac '
    const struct {
        const char* name;
        bool writerCanBeMade, finished;
        std::vector<const OwnedBuffer*> buffers;  // pushed in turn, over and over
    } cases[] = {
        {"recorded", true, false, {good.get()}},
        {"refused for changing reasons", true, false, {good.get(), tooShort.get(), notPcm.get()}},
        {"no writer", false, false, {good.get(), notPcm.get()}},
        {"after the finish", true, true, {good.get(), notPcm.get()}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::setTemporaryDirectoryParent(c.writerCanBeMade ? temp.path() : temp / "missing");
        BManager::startBroadcast();
        const auto pushEach = [&] {
            for (const OwnedBuffer* b : c.buffers) BManager::pushAudioSampleBuffer(b->ref());
        };
        pushEach();  // set-up, and the first of each kind
        ASSERT_EQ(writer != nullptr, c.writerCanBeMade);
        if (c.finished) {
            BManager::endBroadcast();
            pushEach();
        }
        const uint64_t before = testing_support::allocationCount();
        for (int i = 0; i < 500; ++i) pushEach();
        EXPECT_EQ(testing_support::allocationCount() - before, 0u);
    }
}

}  // namespace
