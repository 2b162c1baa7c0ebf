// DriverProc's answer to each message, and what it hands to DefDriverProc
// and the dialog functions (recorded by the platform stand-ins).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

#include "driver/driver.h"
#include "platform/stand_ins.h"
#include "primitives/memory.h"
#include "support/failing_heap.h"

namespace {

using wemb_test::FailAllocationAfter;

LRESULT Send(UINT message, LPARAM lParam1 = 0, LPARAM lParam2 = 0, DWORD_PTR driverId = 0) {
    return DriverProc(driverId, nullptr, message, lParam1, lParam2);
}

template <typename T>
LPARAM Arg(T* pointer) {
    return reinterpret_cast<LPARAM>(pointer);
}

template <typename Handle>
Handle FakeHandle(uintptr_t value) {
    return reinterpret_cast<Handle>(value);
}

class DriverProcTest : public ::testing::Test {
protected:
    void SetUp() override { ResetStandIns(); }
    void TearDown() override { FailAllocationAfter(0); }
};

// Messages whose answer does not depend on their arguments; the codec
// messages by number, so that a wrong constant in our headers shows.
TEST_F(DriverProcTest, FixedAnswers) {
    const struct {
        UINT message;
        LRESULT answer;
    } rows[] = {
        {DRV_LOAD, 1},               {DRV_ENABLE, 1},             {DRV_DISABLE, 1},
        {DRV_FREE, 1},               {DRV_INSTALL, 1},            {DRV_REMOVE, 1},
        {DRV_CONFIGURE, 0},          {DRV_QUERYCONFIGURE, 0},     {0x4004, ICERR_UNSUPPORTED},
        {0x4005, ICERR_UNSUPPORTED}, {0x4006, ICERR_UNSUPPORTED}, {0x4007, ICERR_UNSUPPORTED},
        {0x4008, ICERR_UNSUPPORTED}, {0x4009, ICERR_UNSUPPORTED},
        {0x400E, ICERR_OK},          {0x401D, ICERR_UNSUPPORTED}, {0x401E, ICERR_UNSUPPORTED},
        {0x4029, ICERR_UNSUPPORTED}, {0x402A, ICERR_UNSUPPORTED}, {0x403C, ICERR_UNSUPPORTED},
        {0x403D, ICERR_UNSUPPORTED}, {0x403E, ICERR_UNSUPPORTED}, {0x403F, ICERR_UNSUPPORTED},
        {0x4046, ICERR_UNSUPPORTED}, {0x5000, ICERR_UNSUPPORTED}, {0x5001, ICERR_UNSUPPORTED},
        {0x500A, ICERR_UNSUPPORTED}, {0x501F, ICERR_UNSUPPORTED}, {0x5020, ICERR_UNSUPPORTED},
        {0x5028, 0},                 {0x5029, 0},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Send(row.message, 1234, 5678), row.answer) << std::hex << "message 0x" << row.message;
    }
    // The query form of ICM_CONFIGURE: there is no dialog.
    EXPECT_EQ(Send(ICM_CONFIGURE, -1), ICERR_UNSUPPORTED);
    EXPECT_EQ(StandIns().defDriverProcCalls, 0);
}

TEST_F(DriverProcTest, EveryOtherMessageReachesDefDriverProcWithAllFiveArguments) {
    const UINT others[] = {ICM_DRAW_BEGIN,      ICM_DRAW_END,     ICM_DRAW_QUERY, ICM_DRAW,
                           ICM_GETFORMATNAME,   ICM_ENUMFORMATS,  ICM_COMPRESS_FRAMES,
                           ICM_SET_STATUS_PROC, ICM_GETERRORTEXT, DRV_EXITSESSION, DRV_POWER,
                           0x0000, 0x4003, 0x400F, 0x4047, 0x5003, 0x7FFF, 0xFFFFFFFFu};
    const HDRVR driver = FakeHandle<HDRVR>(0x51);
    for (UINT message : others) {
        ResetStandIns();
        StandIns().defDriverProcResult = 0x1234 ^ message;
        EXPECT_EQ(DriverProc(0xABCD, driver, message, -7, 0x7777), LRESULT(0x1234 ^ message));
        const auto& seen = StandIns();
        EXPECT_EQ(seen.defDriverProcCalls, 1);
        EXPECT_EQ(std::make_tuple(seen.defDriverId, seen.defDriver, seen.defMessage, seen.defLParam1,
                                  seen.defLParam2),
                  std::make_tuple(DWORD_PTR{0xABCD}, driver, message, LPARAM{-7}, LPARAM{0x7777}))
            << std::hex << message;
    }
}

// DRV_OPEN gives an instance to a video open and to an open outside the
// compression manager (no ICOPEN); the type is matched exactly, and a
// refused type leaves dwError as the host set it.
TEST_F(DriverProcTest, OpenAndClose) {
    ICOPEN open = {};
    open.fccType = ICTYPE_VIDEO;
    open.fccHandler = mmioFOURCC('x', 'x', 'x', 'x');  // not examined
    open.dwError = 99;
    const LRESULT video = Send(DRV_OPEN, 0, Arg(&open));
    const LRESULT bare = Send(DRV_OPEN);
    EXPECT_NE(video, 0);
    EXPECT_NE(bare, 0);
    EXPECT_NE(video, bare);
    EXPECT_EQ(open.dwError, ICERR_OK);
    for (LRESULT id : {video, bare, LRESULT(0)}) EXPECT_EQ(Send(DRV_CLOSE, 0, 0, DWORD_PTR(id)), 1);

    for (DWORD type : {mmioFOURCC('V', 'I', 'D', 'C'), mmioFOURCC('a', 'u', 'd', 'c'), DWORD(0)}) {
        open.fccType = type;
        open.dwError = 99;
        EXPECT_EQ(Send(DRV_OPEN, 0, Arg(&open)), 0);
        EXPECT_EQ(open.dwError, 99);
    }

    open.fccType = ICTYPE_VIDEO;
    FailAllocationAfter(1);
    EXPECT_EQ(Send(DRV_OPEN, 0, Arg(&open)), 0);
    EXPECT_EQ(open.dwError, ICERR_MEMORY);
    FailAllocationAfter(1);
    EXPECT_EQ(Send(DRV_OPEN), 0);
}

std::u16string Text(const WCHAR* units, size_t capacity) {
    std::u16string text;
    for (size_t i = 0; i < capacity && units[i] != 0; ++i) text += static_cast<char16_t>(units[i]);
    return text;
}

// ICM_GETINFO fills the codec's fields, leaves the host's (dwSize,
// szDriver) alone, and writes only fields wholly inside the size given,
// which it returns.
TEST_F(DriverProcTest, GetInfo) {
    ICINFO info;
    std::memset(&info, 0x5A, sizeof(info));
    EXPECT_EQ(Send(ICM_GETINFO, Arg(&info), sizeof(info)), LRESULT(sizeof(info)));
    EXPECT_EQ(info.dwSize, 0x5A5A5A5Au);
    EXPECT_EQ(info.fccType, ICTYPE_VIDEO);
    EXPECT_EQ(info.fccHandler, mmioFOURCC('w', 'e', 'm', 'b'));
    EXPECT_EQ(info.dwFlags, 0u);
    EXPECT_EQ(info.dwVersion, 0u);
    EXPECT_EQ(info.dwVersionICM, 0x104u);
    EXPECT_EQ(Text(info.szName, 16), u"Wemb codec");
    EXPECT_EQ(info.szName[11], 0x5A5A) << "nothing after the terminator";
    EXPECT_EQ(Text(info.szDescription, 128), u"Torvane Wemb Video Codec");
    EXPECT_EQ(info.szDriver[0], 0x5A5A);

    for (LPARAM size : {LPARAM(0), LPARAM(24), LPARAM(100), LPARAM(-1)}) {
        std::memset(&info, 0x5A, sizeof(info));
        EXPECT_EQ(Send(ICM_GETINFO, Arg(&info), size), size);
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&info);
        for (size_t i = size > 0 ? static_cast<size_t>(size) : 0; i < sizeof(info); ++i) {
            ASSERT_EQ(bytes[i], 0x5A) << "size " << size << " byte " << i;
        }
    }
    // 24 bytes hold exactly the six DWORD fields, the last one included.
    Send(ICM_GETINFO, Arg(&info), 24);
    EXPECT_EQ(info.dwVersionICM, 0x104u);
    EXPECT_EQ(Send(ICM_GETINFO, 0, sizeof(info)), 0) << "no buffer, nothing provided";
}

TEST_F(DriverProcTest, AboutRunsDialog101ModallyFromTheModuleUnlessOnlyAsked) {
    EXPECT_EQ(Send(ICM_ABOUT, -1), ICERR_OK);  // yes, there is an About box
    EXPECT_EQ(StandIns().dialogBoxCalls, 0);

    HINSTANCE saved = g_module;
    g_module = FakeHandle<HINSTANCE>(0x400000);
    StandIns().dialogBoxResult = 12345;  // ignored
    const HWND owner = FakeHandle<HWND>(0x2A);
    EXPECT_EQ(Send(ICM_ABOUT, Arg(owner)), ICERR_OK);
    EXPECT_EQ(StandIns().dialogBoxCalls, 1);
    EXPECT_EQ(StandIns().dialogInstance, g_module);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(StandIns().dialogTemplate), 101u);
    EXPECT_EQ(StandIns().dialogParent, owner);
    EXPECT_EQ(StandIns().dialogProc, &AboutDialogProc);
    EXPECT_EQ(StandIns().dialogInitParam, 0);
    g_module = saved;
}

TEST_F(DriverProcTest, AboutDialogEndsOnOkAndCancelOnly) {
    const HWND dialog = FakeHandle<HWND>(0x77);
    EXPECT_EQ(AboutDialogProc(dialog, WM_INITDIALOG, 0, 0), FALSE);
    EXPECT_EQ(AboutDialogProc(dialog, 0x0002 /* WM_DESTROY */, IDOK, 0), FALSE);
    EXPECT_EQ(AboutDialogProc(dialog, WM_COMMAND, 1000, 0), TRUE);  // another control
    EXPECT_EQ(StandIns().endDialogCalls, 0);
    // The notification code in the high word does not matter.
    EXPECT_EQ(AboutDialogProc(dialog, WM_COMMAND, (5u << 16) | IDOK, 0), TRUE);
    EXPECT_EQ(StandIns().endDialogWindow, dialog);
    EXPECT_EQ(StandIns().endDialogResult, IDOK);
    EXPECT_EQ(AboutDialogProc(dialog, WM_COMMAND, IDCANCEL, 0), TRUE);
    EXPECT_EQ(StandIns().endDialogCalls, 2);
    EXPECT_EQ(StandIns().endDialogResult, IDCANCEL);
}

TEST_F(DriverProcTest, DefaultQualityIs8000) {
    DWORD quality = 0;
    EXPECT_EQ(Send(ICM_GETDEFAULTQUALITY, Arg(&quality)), ICERR_OK);
    EXPECT_EQ(quality, 8000u);
    EXPECT_EQ(Send(ICM_GETDEFAULTQUALITY, 0), ICERR_BADPARAM) << "nowhere to store it";
}

}  // namespace
