// The host's memory accounting: the cost it gives a frame from its headers,
// and the budget that frames take their cost from in turn.
#include "tools/memory_budget.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "primitives/memory.h"
#include "support/codec_decode.h"
#include "platform/worker_pool.h"
#include "support/hostile_avi.h"
#include "support/libjpeg_reference.h"
#include "support/process_counts.h"
#include "support/testdata_files.h"
#include "tools/frame_memory.h"

namespace {

using namespace wemb_test;
using Bytes = std::vector<uint8_t>;

// The most the codec's heap held while it decoded `frame` through DriverProc,
// on a driver instance of its own with `threads` threads sharing every frame
// (a sequential one with a thread decoding ahead from half-way), or on the
// calling thread alone.
int64_t CodecHeapPeak(const Bytes& frame, int threads = 1) {
    if (threads == 1) {
        const int64_t before = ReadHeapStatistics().bytesInUse;
        ResetHeapPeak();
        DecodeWithCodec(frame);
        return ReadHeapStatistics().peakBytes - before;
    }
    const ScopedFrameSharing sharing(50);
    const ScopedEnvironment setting(kThreadsVariable, std::to_string(threads).c_str());
    const int64_t before = ReadHeapStatistics().bytesInUse;
    ResetHeapPeak();
    const DWORD_PTR instance = static_cast<DWORD_PTR>(DriverProc(0, nullptr, DRV_OPEN, 0, 0));
    DecodeWithCodec(frame, 0, 0, 0, instance);
    const int64_t peak = ReadHeapStatistics().peakBytes - before;
    DriverProc(instance, nullptr, DRV_CLOSE, 0, 0);
    return peak;
}

Bytes Texture(int32_t width, int32_t height, int32_t components) {
    Bytes pixels(static_cast<size_t>(width) * height * components);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 31 % 251);
    return pixels;
}

// The estimate is an upper bound of what the codec takes, for every test
// stream and for frames large enough that the buffers outweigh the tables.
TEST(FrameMemory, WorkingBytesCoverTheCodecsHeapForEveryKindOfFrame) {
    std::vector<std::pair<std::string, Bytes>> frames;
    for (const std::string& name : ListTestdata()) frames.emplace_back(name, Testdata(name));
    for (bool progressive : {false, true}) {
        for (int32_t components : {1, 3}) {
            for (bool fullChroma : {false, true}) {
                const int32_t width = 1000, height = progressive ? 600 : 40;
                frames.emplace_back(
                    std::to_string(components) + (fullChroma ? " full" : " 4:2:0") +
                        (progressive ? " progressive" : " sequential"),
                    wemb_test::LibjpegCompress(Texture(width, height, components), width, height,
                                                     components, 90, progressive, 0, fullChroma));
            }
        }
    }
    frames.emplace_back("broken progressive", wemb_test::BrokenProgressiveFrame(1500, 900));
    int measured = 0;
    for (const auto& [name, bytes] : frames) {
        SCOPED_TRACE(name);
        FrameShape shape;
        std::string error;
        if (!ReadFrameShape(bytes.data(), bytes.size(), &shape, &error)) continue;
        EXPECT_EQ(shape.progressive, name.find("prog") != std::string::npos);
        EXPECT_GE(CodecWorkingBytes(shape), static_cast<uint64_t>(CodecHeapPeak(bytes)));
        EXPECT_GE(CodecWorkingBytes(shape), static_cast<uint64_t>(CodecHeapPeak(bytes, 8)));
        ++measured;
    }
    EXPECT_GE(measured, 70);
}

TEST(FrameMemory, FramesTheCodecRefusesAreRefusedBeforeAnythingIsSetAside) {
    struct Case {
        const char* what;
        Bytes bytes;
        const char* reason;
    };
    const Bytes sound = Testdata("ycc420_64x48_q85.jpg");
    const Case cases[] = {
        {"12-bit samples", wemb_test::RefusedHeaderFrame(16000, 16000), "refused the frame's headers"},
        {"no frame header", Bytes(sound.begin(), sound.begin() + 20), "refused the frame's headers"},
        {"4:1:1", Testdata("ycc411_64x48_q85.jpg"), "sampling structure"},
        {"4:4:0", Testdata("ycc440_64x48_q85.jpg"), "sampling structure"},
    };
    for (const Case& c : cases) {
        FrameShape shape;
        std::string error;
        EXPECT_FALSE(ReadFrameShape(c.bytes.data(), c.bytes.size(), &shape, &error)) << c.what;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
        // The driver refuses them too.
        EXPECT_EQ(DecodeWithCodec(c.bytes, 64, 48).status, ICERR_BADFORMAT) << c.what;
    }
    FrameShape shape;
    std::string error;
    ASSERT_TRUE(ReadFrameShape(sound.data(), sound.size(), &shape, &error)) << error;
    EXPECT_EQ(shape.width, 64);
    EXPECT_EQ(shape.height, 48);
    EXPECT_EQ(shape.components, 3);
    EXPECT_FALSE(shape.progressive);
    // The picture, the compressed bytes and the working memory.
    EXPECT_EQ(FrameMemoryCost(shape, 1000, 9216), 1000 + 9216 + CodecWorkingBytes(shape));
}

// Waits a little for something that must not happen.
template <typename Flag>
bool StaysFalse(const Flag& flag) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return !flag;
}

TEST(MemoryBudget, GrantsInTurnAndOnlyWhatFits) {
    MemoryBudget budget(100);
    std::atomic<bool> second{false};
    std::thread later([&] {
        EXPECT_TRUE(budget.Acquire(1, 10));
        second = true;
    });
    EXPECT_TRUE(StaysFalse(second)) << "turn 1 went before turn 0";
    EXPECT_TRUE(budget.Acquire(0, 60));
    later.join();

    std::atomic<bool> third{false};
    std::thread waiting([&] {
        EXPECT_TRUE(budget.Acquire(2, 40));  // 60 + 10 + 40 > 100
        third = true;
    });
    EXPECT_TRUE(StaysFalse(third)) << "granted beyond the limit";
    budget.Release(10);
    waiting.join();
    EXPECT_EQ(budget.Peak(), 100u);

    // Too large for any budget of this limit: refused at once, the turn passes.
    EXPECT_FALSE(budget.Acquire(3, 101));
    budget.Release(100);
    EXPECT_TRUE(budget.Acquire(4, 100));
    EXPECT_EQ(budget.Peak(), 100u);
}

TEST(MemoryBudget, CloseWakesEveryWaiter) {
    MemoryBudget budget(10);
    ASSERT_TRUE(budget.Acquire(0, 10));
    std::vector<std::thread> waiters;
    std::atomic<int> refused{0};
    for (size_t turn : {1, 2, 5}) {
        waiters.emplace_back([&, turn] { refused += budget.Acquire(turn, 1) ? 0 : 1; });
    }
    budget.Close();
    for (std::thread& t : waiters) t.join();
    EXPECT_EQ(refused, 3);
    EXPECT_FALSE(budget.Acquire(1, 0));
}

TEST(MemoryBudget, DefaultIsHalfThePhysicalMemoryAtMost) {
    const uint64_t physical = uint64_t(sysconf(_SC_PHYS_PAGES)) * uint64_t(sysconf(_SC_PAGE_SIZE));
    EXPECT_GT(DefaultMemoryBudget(), 0u);
    EXPECT_LE(DefaultMemoryBudget(), physical / 2);
    EXPECT_EQ(MemoryText(1536 * 1024), "1.5 MiB");
    EXPECT_EQ(MemoryText(uint64_t(5) << 30), "5.0 GiB");
}

}  // namespace
