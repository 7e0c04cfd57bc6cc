// Closing the Windows form while its worker hands the upload to the UI
// thread with SendMessage (message 102).

#include <gtest/gtest.h>

#include <atomic>

#include "app/form_defaults.h"
#include "app/hand_over_form_ops.h"
#include "app/win/win_update_form.h"
#include "support/blocking_fakes.h"

namespace hj5 {
namespace {

// An FTP client whose every upload fails at once, so that the upload shows
// its warning box.
class RefusingFtpClient final : public FtpClient {
 public:
  Status Send(const FtpUpload&) override {
    ++sends;
    return Status::Failure(ftp_code::kConnection, "refused");
  }
  void Cancel() override {}
  std::atomic<int> sends{0};
};

// What a thread timer does on the UI thread: start the runner, and then
// close the form once it shows a box.
struct Driver {
  WinUpdateForm* form = nullptr;
  bool close_on_box = false;
  bool started = false;
};
Driver* driver = nullptr;  // the test's own thread only

BOOL CALLBACK FindOwned(HWND window, LPARAM found) {
  if (GetWindow(window, GW_OWNER) == driver->form->window()) {
    *reinterpret_cast<bool*>(found) = true;
  }
  return TRUE;
}

void CALLBACK Drive(HWND, UINT, UINT_PTR timer, DWORD) {
  if (!driver->started) {
    driver->started = driver->form->runner().Start(
        DeviceSession{}, ChosenFile{"C:\\a.xml", "a.xml"});
    if (!driver->close_on_box) KillTimer(nullptr, timer);
    return;
  }
  bool box = false;
  EnumThreadWindows(GetCurrentThreadId(), &FindOwned,
                    reinterpret_cast<LPARAM>(&box));
  if (box) {
    KillTimer(nullptr, timer);
    PostMessageW(driver->form->window(), WM_CLOSE, 0, 0);
  }
}

class WinFormCloseTest : public ::testing::Test {
 protected:
  // Shows the form running `procedure` until it is closed.
  void Run(UpdateRunner::Procedure procedure, bool close_on_box) {
    WinUpdateForm form(GetModuleHandleW(nullptr), platform_, 1252,
                       std::move(procedure));
    Driver drive{&form, close_on_box};
    driver = &drive;
    form_ = &form;
    SetTimer(nullptr, 0, 20, &Drive);
    form.Run();
    driver = nullptr;
    form_ = nullptr;
    EXPECT_TRUE(drive.started);
  }

  test::BlockingTransport transport_{test::BlockingTransport::Mode::kHold};
  RefusingFtpClient ftp_;
  test::BlockingClock clock_;
  const Platform platform_{transport_, ftp_, clock_};
  WinUpdateForm* form_ = nullptr;  // while it is shown
};

// The close stops the runner and serves messages while it waits: a message
// 102 that arrives meanwhile is answered as not delivered (never as a stored
// file) and nothing is uploaded.
TEST_F(WinFormCloseTest, AMessage102DuringTheCloseIsNotDelivered) {
  Status sent;  // ok until the handler writes its answer
  Run(
      [&](const UpdateContext& context) {
        const HWND form = form_->window();
        PostMessageW(form, WM_CLOSE, 0, 0);
        context.platform.clock.SleepMs(60000);  // until the close stops it
        SendMessageW(form, kSendFirmwareMessage, 0,
                     reinterpret_cast<LPARAM>(&sent));
        return UpdateOutcome{};
      },
      /*close_on_box=*/false);
  EXPECT_EQ(sent, NotDelivered());
  EXPECT_EQ(ftp_.sends, 0);
  EXPECT_TRUE(clock_.interrupted());
}

// A close that comes while the upload's box is open (inside message 102) is
// finished once the box and message 102 have returned, never inside them.
TEST_F(WinFormCloseTest, ACloseDuringTheUploadsBoxEndsTheForm) {
  Status sent;
  Run(
      [&](const UpdateContext& context) {
        sent = context.form.SendFirmwareMessage();
        return UpdateOutcome{};
      },
      /*close_on_box=*/true);
  EXPECT_EQ(ftp_.sends, 1);
  // The upload's own failure came back through message 102.
  EXPECT_EQ(sent.code(), ftp_code::kConnection);
  EXPECT_EQ(sent.cause(), "refused");
}

}  // namespace
}  // namespace hj5
