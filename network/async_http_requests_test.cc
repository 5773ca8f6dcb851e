#include "network/async_http_requests.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/strings.h"

#include "tests/support/fake_internet_api.h"
#include "tests/support/publisher_log.h"
#include "tests/support/test_log.h"

namespace installer {
namespace {

// Records what the worker would send instead of sending it.
class RecordingRequests : public AsyncHttpRequests {
 public:
  ~RecordingRequests() override { Shutdown(); }
  using AsyncHttpRequests::Shutdown;

  void SendUrl(const std::wstring& url) override {
    int in_flight = ++in_flight_;
    if (in_flight > max_in_flight_) max_in_flight_ = in_flight;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      sent_.push_back(url);
      sent_changed_.notify_all();
      // The first URL can be held back to let others pile up in the queue.
      if (hold_first_ && sent_.size() == 1) {
        released_.wait(lock, [this] { return release_; });
      }
    }
    // Long enough for a second worker, if there were one, to overlap.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    --in_flight_;
  }

  void HoldFirst() { hold_first_ = true; }
  void ReleaseFirst() {
    std::lock_guard<std::mutex> lock(mutex_);
    release_ = true;
    released_.notify_all();
  }
  bool WaitForSent(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return sent_changed_.wait_for(lock, std::chrono::seconds(30),
                                  [&] { return sent_.size() >= count; });
  }
  std::vector<std::wstring> sent() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sent_;
  }
  int max_in_flight() const { return max_in_flight_; }

 private:
  std::mutex mutex_;
  std::condition_variable sent_changed_;
  std::condition_variable released_;
  std::vector<std::wstring> sent_;
  bool hold_first_ = false;
  bool release_ = false;
  std::atomic<int> in_flight_{0};
  std::atomic<int> max_in_flight_{0};
};

TEST(AsyncHttpRequestsTest, SendsInPostingOrderOneAtATime) {
  const std::vector<std::wstring> batches[] = {
      {L"https://a/1", L"https://a/2", L"https://a/3"},
      {L"https://b/same", L"https://b/same", L"https://b/other"},
      {L"x"},
  };
  for (const std::vector<std::wstring>& urls : batches) {
    RecordingRequests requests;
    for (const std::wstring& url : urls) requests.Post(url);
    ASSERT_TRUE(requests.WaitForSent(urls.size()));
    EXPECT_EQ(urls, requests.sent());
    EXPECT_EQ(1, requests.max_in_flight());
  }
}

TEST(AsyncHttpRequestsTest, PostsFromSeveralThreadsAllArriveOnce) {
  RecordingRequests requests;
  std::vector<std::thread> posters;
  for (int t = 0; t < 4; ++t) {
    posters.emplace_back([&requests, t] {
      for (int i = 0; i < 5; ++i) requests.Post(std::to_wstring(t * 10 + i));
    });
  }
  for (std::thread& poster : posters) poster.join();
  ASSERT_TRUE(requests.WaitForSent(20));
  std::vector<std::wstring> sent = requests.sent();
  ASSERT_EQ(20u, sent.size());
  // Each thread's URLs keep their order.
  for (int t = 0; t < 4; ++t) {
    int next = 0;
    for (const std::wstring& url : sent) {
      int value = std::stoi(url);
      if (value / 10 == t) {
        EXPECT_EQ(next++, value % 10) << "thread " << t;
      }
    }
    EXPECT_EQ(5, next);
  }
  EXPECT_EQ(1, requests.max_in_flight());
}

// The last pings of a run are queued just before it ends: shutdown sends them all, in order.
TEST(AsyncHttpRequestsTest, ShutdownSendsWhatIsQueued) {
  test_support::ScopedTestLog log;
  auto* requests = new RecordingRequests;
  requests->HoldFirst();
  requests->Post(L"https://first");
  ASSERT_TRUE(requests->WaitForSent(1));
  std::vector<std::wstring> expected = {L"https://first"};
  for (int i = 0; i < 20; ++i) {
    expected.push_back(L"https://queued/" + std::to_wstring(i));
    requests->Post(expected.back());
  }
  std::vector<std::wstring> sent;
  std::thread destroyer([&] {
    requests->Shutdown();
    sent = requests->sent();
    delete requests;
  });
  // Let the request in progress finish only once the stop has been asked for.
  while (!requests->IsStoppingForTesting()) Sleep(1);
  requests->ReleaseFirst();
  destroyer.join();
  EXPECT_EQ(expected, sent);
  EXPECT_EQ(0, log.CountLines(L"dropped at exit")) << log.Text();
}

// A request that never ends (a server that accepts and never answers) holds neither the
// shutdown nor the queue behind it: both end within the drain time, and what was left is
// dropped with a log line.
TEST(AsyncHttpRequestsTest, ShutdownLeavesABlockedRequestBehind) {
  // Outlives the requests object: the blocked call must not touch it once it is gone.
  static HANDLE answer = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  static std::atomic<int> sent{0};
  class NeverAnswered : public AsyncHttpRequests {
   public:
    ~NeverAnswered() override { Shutdown(); }
    void SendUrl(const std::wstring&) override {
      ++sent;
      WaitForSingleObject(answer, INFINITE);
    }
  };
  test_support::ScopedTestLog log;
  auto* requests = new NeverAnswered;
  for (int i = 0; i < 3; ++i) requests->Post(L"https://stalled/" + std::to_wstring(i));
  std::atomic<bool> destroyed{false};
  std::thread destroyer([&] {
    delete requests;
    destroyed = true;
  });
  for (int i = 0; i < 200 && !destroyed; ++i) Sleep(100);
  ASSERT_TRUE(destroyed) << "the shutdown waits for the blocked request";
  destroyer.join();
  EXPECT_EQ(1, log.CountLines(L"Statistics requests dropped at exit: 2; the request in "
                              L"progress is left behind"))
      << log.Text();
  // The worker wakes up later and ends without sending the dropped ones.
  SetEvent(answer);
  Sleep(200);
  EXPECT_EQ(1, sent.load());
}

TEST(AsyncHttpRequestsTest, WithoutPostsThereIsNoWorkerToStop) {
  test_support::ScopedTestLog log;
  { RecordingRequests requests; }
  EXPECT_EQ(L"", log.Text());
}

TEST(AsyncHttpRequestsTest, UnsendableUrlsAreLoggedAndDropped) {
  struct Case {
    std::wstring url;
  };
  // Nothing listens on port 1; the second has no scheme WinINet knows.
  const Case cases[] = {{L"https://localhost:1/counter/redir?x=1"}, {L"not a url"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    test_support::ScopedTestLog log;
    AsyncHttpRequests requests;
    requests.SendUrl(c.url);
    EXPECT_EQ(1, log.CountLines(L"ERROR: SendUrl ("));
    EXPECT_TRUE(log.Contains(L"): Failed to open " + c.url + L" Last error: "));
  }
}

// ---------------------------------------------------------------------------------------
// Against the fake publisher.

TEST(AsyncHttpRequestsTest, SendUrlDeliversTheRequestWithoutWaitingForTheAnswer) {
  test_support::ScopedTestLog log;
  std::string marker = test_support::UniqueMarker();
  AsyncHttpRequests requests;
  // A large answer: the request is dropped once sent, so none of it is read.
  requests.SendUrl(platform::Widen(test_support::PublisherUrl("/gen/50000000?" + marker)));
  // Cancelled by the callback, which is the expected outcome: nothing is logged.
  EXPECT_EQ(L"", log.Text());
  std::vector<test_support::PublisherRequest> seen = test_support::PublisherRequestsWith(marker);
  ASSERT_EQ(1u, seen.size());
  EXPECT_EQ("GET", seen[0].method);
  EXPECT_EQ("/gen/50000000", seen[0].path);
  EXPECT_EQ("Zorvin.Browser installer", seen[0].headers["User-Agent"]);
  EXPECT_EQ("*/*", seen[0].headers["Accept"]);
}

TEST(AsyncHttpRequestsTest, PostedUrlsReachThePublisher) {
  std::string marker = test_support::UniqueMarker();
  AsyncHttpRequests requests;
  for (const char* kind : {"clicked_button=install", "choosen_checkbox=default",
                           "clicked_button=cancel"}) {
    requests.Post(platform::Widen(test_support::PublisherUrl("/redir/x?" + marker + "&" + kind)));
  }
  std::vector<test_support::PublisherRequest> seen =
      test_support::PublisherRequestsWith(marker, 3);
  ASSERT_EQ(3u, seen.size());
  for (const test_support::PublisherRequest& request : seen) {
    EXPECT_EQ("/redir/x", request.path);
  }
}

// A ping behind a firewall that blocks the revocation servers goes once more without that
// check, through the same calls as the downloads' retry.
TEST(AsyncHttpRequestsTest, UnreachableRevocationServerIsRetriedOnceWithoutTheCheck) {
  const struct {
    bool revocation_unreachable;
    bool refuse_flags;
    size_t opens;
    int relaxed;
    bool failed;  // "Failed to open" is logged
  } cases[] = {
      {false, false, 1, 0, false},
      {true, false, 2, 1, false},
      {true, true, 2, 0, true},
  };
  const std::wstring url = L"https://fake.example/ping";
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.revocation_unreachable << c.refuse_flags);
    test_support::ScopedTestLog log;
    test_support::FakeInternetApi api;
    api.refuse_security_flags = c.refuse_flags;
    test_support::FakeResponse response;
    response.revocation_unreachable = c.revocation_unreachable;
    api.SetResponse(url, response);
    AsyncHttpRequests(&api).SendUrl(url);
    EXPECT_EQ(c.opens, api.opens.size());
    EXPECT_EQ(c.relaxed, api.revocation_relaxed);
    EXPECT_EQ(c.revocation_unreachable,
              log.Contains(L"WARNING: SendUrl (") &&
                  log.Contains(L"(12057); trying once more without that check: " + url));
    EXPECT_EQ(c.failed, log.Contains(L"Failed to open " + url)) << log.Text();
    EXPECT_EQ(0, api.open_handles());
    EXPECT_FALSE(api.callback_calls.back());  // the callback went with the handles
  }
}

}  // namespace
}  // namespace installer
