// The worker threads of driver instances, seen through DriverProc as a host
// sees them: they start with an instance's first frame that can share its
// work, serve every later frame, and are joined at DRV_CLOSE, or at DRV_FREE
// for instances still open; a message with an id that names no instance
// decodes on the calling thread. Opening, decoding and closing many
// instances, one after the other or on several host threads at once,
// leaves no thread and no file descriptor behind, and every frame decodes
// to the same picture as on one thread.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "driver/driver.h"
#include "platform/worker_pool.h"
#include "support/codec_decode.h"
#include "support/libjpeg_reference.h"
#include "support/testdata_files.h"
#include "support/process_counts.h"

namespace {

using wemb_test::DecodeWithCodec;
using wemb_test::DescriptorCount;
using wemb_test::ScopedEnvironment;
using wemb_test::ThreadCount;
using wemb_test::ThreadCountSettlingAt;

constexpr int kThreads = 4;  // per instance, the caller's included
constexpr int kWorkers = kThreads - 1;

DWORD_PTR Open() {
    ICOPEN open = {};
    open.dwSize = sizeof(open);
    open.fccType = ICTYPE_VIDEO;
    open.fccHandler = kWembFourcc;
    return static_cast<DWORD_PTR>(DriverProc(0, nullptr, DRV_OPEN, 0, reinterpret_cast<LPARAM>(&open)));
}

LRESULT Close(DWORD_PTR instance) { return DriverProc(instance, nullptr, DRV_CLOSE, 0, 0); }

// A 640 x 480 progressive frame: enough pixels for the decoder to share.
std::vector<uint8_t> LargeFrame() {
    std::vector<uint8_t> pixels(640 * 480 * 3);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>((i * 7 + i / 1920 * 3) & 0xFF);
    return wemb_test::LibjpegCompress(pixels, 640, 480, 3, 85, true);
}

class DriverThreads : public ::testing::Test {
protected:
    // The frames: one large enough to share its work, and one MCU row high.
    const std::vector<uint8_t> m_tall = LargeFrame();
    const std::vector<uint8_t> m_flat = wemb_test::Testdata("ycc420_17x9_q85.jpg");
    // Their pictures decoded on the calling thread alone.
    const wemb_test::CodecResult m_tallAlone = DecodeWithCodec(m_tall);
    const wemb_test::CodecResult m_flatAlone = DecodeWithCodec(m_flat);

    ScopedEnvironment m_setting{kThreadsVariable, std::to_string(kThreads).c_str()};
    const int m_threadsBefore = ThreadCount();
    const int m_descriptorsBefore = DescriptorCount();

    void SetUp() override {
        ASSERT_EQ(m_tallAlone.status, ICERR_OK);
        ASSERT_EQ(m_flatAlone.status, ICERR_OK);
    }

    // Decodes the tall frame through `instance`; true when it gives the
    // picture of one thread.
    bool DecodesTallAsAlone(DWORD_PTR instance) const {
        const wemb_test::CodecResult result = DecodeWithCodec(m_tall, 0, 0, 0, instance);
        return result.status == ICERR_OK && result.pixels == m_tallAlone.pixels;
    }
};

TEST_F(DriverThreads, StartWithTheFirstFrameThatCanShareAndEndAtClose) {
    const DWORD_PTR instance = Open();
    ASSERT_NE(instance, 0u);
    EXPECT_EQ(ThreadCount(), m_threadsBefore) << "opened";

    const wemb_test::CodecResult flat = DecodeWithCodec(m_flat, 0, 0, 0, instance);
    EXPECT_EQ(flat.status, ICERR_OK);
    EXPECT_EQ(flat.pixels, m_flatAlone.pixels);
    EXPECT_EQ(ThreadCount(), m_threadsBefore) << "a frame of one MCU row";

    for (int frame = 0; frame < 5; ++frame) {
        EXPECT_TRUE(DecodesTallAsAlone(instance)) << "frame " << frame;
        EXPECT_EQ(ThreadCount(), m_threadsBefore + kWorkers) << "frame " << frame;
    }
    EXPECT_EQ(Close(instance), 1);
    EXPECT_EQ(ThreadCountSettlingAt(m_threadsBefore), m_threadsBefore) << "closed";
}

TEST_F(DriverThreads, ManyInstancesLeaveNoThreadOrDescriptor) {
    constexpr int kRounds = 40, kOpenAtOnce = 3;
    for (int round = 0; round < kRounds; ++round) {
        DWORD_PTR instances[kOpenAtOnce];
        for (DWORD_PTR& instance : instances) {
            instance = Open();
            ASSERT_NE(instance, 0u);
            ASSERT_TRUE(DecodesTallAsAlone(instance)) << "round " << round;
        }
        ASSERT_EQ(ThreadCount(), m_threadsBefore + kOpenAtOnce * kWorkers) << "round " << round;
        for (DWORD_PTR instance : instances) ASSERT_EQ(Close(instance), 1);
    }
    EXPECT_EQ(ThreadCountSettlingAt(m_threadsBefore), m_threadsBefore);
    EXPECT_EQ(DescriptorCount(), m_descriptorsBefore);
}

// DRV_FREE comes before the module is unloaded; a host that left instances
// open must not leave their threads running code that is about to go.
TEST_F(DriverThreads, FreeJoinsTheThreadsOfInstancesStillOpen) {
    const DWORD_PTR first = Open(), second = Open();
    ASSERT_TRUE(DecodesTallAsAlone(first));
    ASSERT_TRUE(DecodesTallAsAlone(second));
    EXPECT_EQ(ThreadCount(), m_threadsBefore + 2 * kWorkers);

    EXPECT_EQ(DriverProc(0, nullptr, DRV_DISABLE, 0, 0), 1);
    EXPECT_EQ(DriverProc(0, nullptr, DRV_FREE, 0, 0), 1);
    EXPECT_EQ(ThreadCountSettlingAt(m_threadsBefore), m_threadsBefore) << "freed";

    // Should the host still send frames, the instance starts its threads again.
    EXPECT_TRUE(DecodesTallAsAlone(second));
    EXPECT_EQ(ThreadCount(), m_threadsBefore + kWorkers);
    EXPECT_EQ(Close(first), 1);
    EXPECT_EQ(Close(second), 1);
    EXPECT_EQ(ThreadCountSettlingAt(m_threadsBefore), m_threadsBefore) << "closed";
}

// Ids that no open instance has: the frame is decoded on the calling thread,
// and a close is answered without deleting anything (a second close of the
// same instance included).
TEST_F(DriverThreads, IdsOfNoInstanceDecodeOnTheCallingThread) {
    const DWORD_PTR closed = Open();
    ASSERT_EQ(Close(closed), 1);
    for (DWORD_PTR id : {DWORD_PTR{0}, DWORD_PTR{1}, closed}) {
        EXPECT_TRUE(DecodesTallAsAlone(id)) << id;
        EXPECT_EQ(ThreadCount(), m_threadsBefore) << id;
        EXPECT_EQ(Close(id), 1) << id;
    }
}

TEST_F(DriverThreads, OneThreadSettingStartsNoThread) {
    ScopedEnvironment single(kThreadsVariable, "1");
    const DWORD_PTR instance = Open();
    EXPECT_TRUE(DecodesTallAsAlone(instance));
    EXPECT_EQ(ThreadCount(), m_threadsBefore);
    EXPECT_EQ(Close(instance), 1);
}

// Hosts that decode several streams at once, each through its own instance
// on its own thread (as wemb-decode -j does).
TEST_F(DriverThreads, HostThreadsWithAnInstanceEach) {
    constexpr int kHosts = 3, kRounds = 15;
    std::vector<int> failures(kHosts, 0);
    std::vector<std::thread> hosts;
    for (int host = 0; host < kHosts; ++host) {
        hosts.emplace_back([this, host, &failures] {
            for (int round = 0; round < kRounds; ++round) {
                const DWORD_PTR instance = Open();
                if (instance == 0 || !DecodesTallAsAlone(instance) || Close(instance) != 1) {
                    ++failures[static_cast<size_t>(host)];
                }
            }
        });
    }
    for (std::thread& host : hosts) host.join();
    EXPECT_EQ(failures, std::vector<int>(kHosts, 0));
    EXPECT_EQ(ThreadCountSettlingAt(m_threadsBefore), m_threadsBefore);
    EXPECT_EQ(DescriptorCount(), m_descriptorsBefore);
}

}  // namespace
