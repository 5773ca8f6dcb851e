// What the fake publisher (tests/fake_publisher) saw: its request log, read from the build
// folder, and markers that let one test find its own requests among everyone else's.
#ifndef TESTS_SUPPORT_PUBLISHER_LOG_H_
#define TESTS_SUPPORT_PUBLISHER_LOG_H_

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/support/held_mutex.h"

namespace test_support {

struct PublisherRequest {
  std::string method;
  std::string port;   // "tls", "plain", "wrong_name", "proxy"
  std::string path;   // without the /f/<faults> prefix (for the proxy: the request target)
  std::string query;
  std::map<std::string, std::string> headers;
  int status = 0;
  int64_t bytes_sent = 0;  // body bytes
};

// "https://" + the local-profile host of every endpoint + `path_and_query`.
std::string PublisherUrl(const std::string& path_and_query);
// The same path on the publisher's port that accepts connections and never answers.
std::string SilentPublisherUrl(const std::string& path_and_query);
// "%XX" for every byte but letters, digits and "-_.": a fault list or a value carried in
// one segment of a publisher path or in a query value.
std::string EscapeSegment(const std::string& text);

// Tests that click run one at a time: the click counter URL is the same for every run, so
// only the number of requests tells one test's clicks from another's.
class ClickCounterLock : public HeldMutex {
 public:
  ClickCounterLock() : HeldMutex(L"Local\\li-ui-window-click-tests", 240000) {
    Sleep(300);  // clicks of the test before may still be on their way
  }
};

// A text no other request of any test run carries ("m<process id>x<counter>x<ticks>").
std::string UniqueMarker();

// Posts a script (JSON text, see the publisher's README) through its control endpoint: the
// next requests for the script's path get the scripted answers. False when it did not answer.
bool AddPublisherScript(const std::string& script_json);

// The requests whose query contains `fragment`, in the order the publisher logged them.
// Waits up to `timeout_ms` for at least `at_least` of them to appear (the publisher logs a
// request once it has answered it).
std::vector<PublisherRequest> PublisherRequestsWith(const std::string& fragment,
                                                    size_t at_least = 1,
                                                    uint32_t timeout_ms = 10000);

// Like PublisherRequestsWith, for requests whose path holds `fragment` (the statistics
// servers carry their data in the path).
std::vector<PublisherRequest> PublisherRequestsWithPath(const std::string& fragment,
                                                        size_t at_least = 1,
                                                        uint32_t timeout_ms = 10000);

}  // namespace test_support

#endif  // TESTS_SUPPORT_PUBLISHER_LOG_H_
