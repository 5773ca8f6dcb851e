#include "ui/install_session.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <thread>

#include "platform/sync.h"
#include "tests/support/publisher_log.h"

namespace lite_installer {
namespace {

TEST(InstallSessionTest, DownloadFractionsFillFiveToForty) {
  const struct {
    float fraction;
    int percent;
  } cases[] = {
      {0.0f, 5},    {0.1f, 8},  {0.2f, 12}, {0.5f, 22}, {0.6f, 26},
      {0.999f, 39}, {1.0f, 40}, {-0.5f, 5}, {1.5f, 40}, {std::nanf(""), 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fraction);
    EXPECT_EQ(c.percent, PercentForDownloadFraction(c.fraction));
  }
}

// Writes down what the session asks of its view; the cancel question is answered as told,
// and `in_prompt` runs while the credentials prompt is up.
class FakeView : public InstallView {
 public:
  std::string calls;
  bool answer_cancel = false;
  std::function<void()> in_prompt;
  platform::WaitableEvent posted{platform::WaitableEvent::ResetPolicy::kAutomatic,
                                 platform::WaitableEvent::InitialState::kNotSignaled};

  void Post(SessionEvent event, int32_t value) override {
    Add("post " + std::to_string(static_cast<int>(event)) + " " + std::to_string(value));
    posted.Set();
  }
  void Hide() override { Add("hide"); }
  void End(INT_PTR result) override { Add("end " + std::to_string(result)); }
  void ShowErrorDialog(int32_t code) override { Add("error " + std::to_string(code)); }
  void ShowNewerVersionNotice() override { Add("notice"); }
  bool AskCancel() override {
    Add("ask");
    return answer_cancel;
  }
  void AnswerResume() override { Add("resume"); }
  void RemoveCancelButton() override { Add("no-cancel"); }
  void ShowProxyPrompt(installer::ProxyPrompt*) override {
    Add("prompt");
    in_prompt();
  }
  void TakeDownProxyPrompt() override { Add("prompt-down"); }

  void Add(const std::string& call) { calls += (calls.empty() ? "" : " ") + call; }
};

// Steps: "P" the install button (adds "layout" when the progress screen is to be laid out),
// "S" the offer skipped, "L" the progress screen's layout, "E<code>" an error and "F" the
// finish from the install thread, "U" the setup started, "C" the close button, "K"/"R" the
// cancel button answered Cancel/Resume, "X" the system close, "H" a hide, "Q" the setup's
// close message, "N" its newer-version message; "f" the finish from the install thread
// and "A" the view made; "[...]" the steps while the proxy's credentials
// prompt, asked for on another thread, is up. The flow itself never starts.
void Play(InstallSession& session, FakeView& view, const std::string& steps) {
  for (size_t i = 0; i < steps.size(); ++i) {
    const char step = steps[i];
    int32_t code = 0;
    if (step == 'E') code = steps[++i] - '0';
    if (step == '[') {
      const size_t end = steps.find(']', i);
      view.in_prompt = [&, inner = steps.substr(i + 1, end - i - 1)] {
        Play(session, view, inner);
      };
      HANDLE stop = session.installer()->stop_event();
      std::thread asking([&] { session.AskProxyCredentials(nullptr, nullptr, stop); });
      view.posted.Wait();
      session.OnPosted(SessionEvent::kProxyPrompt, 0);
      SetEvent(stop);
      asking.join();
      i = end;
      continue;
    }
    switch (step) {
      case 'P':
        if (session.PressInstall()) view.Add("layout");
        break;
      case 'S': session.SkipOffer(); break;
      case 'L': session.EndForPendingError(); break;
      case 'E': session.OnPosted(SessionEvent::kError, code); break;
      case 'F': session.OnPosted(SessionEvent::kFinished, 0); break;
      case 'U': session.OnPosted(SessionEvent::kSetupStarted, 0); break;
      case 'C': session.OnCloseButton(); break;
      case 'K':
      case 'R':
        view.answer_cancel = step == 'K';
        session.OnCancelButton();
        break;
      case 'X': session.OnSystemClose(); break;
      case 'H': session.OnHidden(); break;
      case 'Q': session.OnSetupClose(); break;
      case 'N': session.OnNewerVersion(); break;
      case 'A': session.Attach(reinterpret_cast<HWND>(1)); break;
      case 'f': session.Finish(); break;
    }
  }
}

std::string Transcript(const std::string& steps) {
  FakeView view;
  InstallSession session(&view, {});
  Play(session, view, steps);
  return view.calls;
}

TEST(InstallSessionTest, ConsentErrorsFinishAndEveryEnd) {
  // The button's clicks go to the click counter the window tests count.
  test_support::ClickCounterLock click_lock;
  const struct {
    const char* steps;
    const char* calls;
  } cases[] = {
      // Finish ends the run only after consent; a second press does nothing.
      {"FPLF", "layout end 1"},
      {"PPL", "layout"},
      // An error before consent waits for the progress screen and is shown there once;
      // the latest one is shown; code 0 is none.
      {"E2FPLL", "layout hide error 2 end 1"},
      {"E2E3PLE2", "layout hide error 3 end 1"},
      {"E0PL", "layout"},
      // After consent an error is shown at once, and only the first; code 0 ends silently.
      {"PLE2E3", "layout hide error 2 end 1"},
      {"PE0", "layout hide end 1"},
      // The offer skipped: consent without the button, which then does nothing.
      {"SLF", "end 1"},
      {"E2SL", "hide error 2 end 1"},
      {"SLE2P", "hide error 2 end 1"},
      // The ends: close button, cancel confirmed or not, system close, the setup's close
      // and its newer-version notice.
      {"C", "end 1010"},
      {"R", "ask"},
      {"K", "ask end 1009"},
      {"X", "end 2"},
      {"Q", "hide end 1"},
      {"N", "hide notice hide end 1"},
      // Any hide answers the resume question with "Resume"; so does the setup's start,
      // which also takes the cancel button away.
      {"H", "resume"},
      {"U", "resume no-cancel"},
      // The install thread reaches the view only while it exists.
      {"fAf", "post 1 0"},
      // A hide takes the prompt down; the setup's close waits until it has returned.
      {"A[H]", "post 4 0 prompt resume prompt-down"},
      {"A[Q]", "post 4 0 prompt prompt-down hide end 1"},
      {"A[N]", "post 4 0 prompt hide notice prompt-down hide end 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.steps);
    EXPECT_EQ(c.calls, Transcript(c.steps));
  }
}

}  // namespace
}  // namespace lite_installer
