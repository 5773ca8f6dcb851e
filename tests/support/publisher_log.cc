#include "tests/support/publisher_log.h"

#include <windows.h>

#include <atomic>
#include <cctype>

#include <jansson.h>

#include "build_config/endpoints.h"
#include "network/http_downloader.h"
#include "platform/strings.h"
#include "tests/support/test_paths.h"

namespace test_support {
namespace {

std::string StringMember(json_t* object, const char* key) {
  const char* value = json_string_value(json_object_get(object, key));
  return value ? value : "";
}

std::vector<PublisherRequest> ReadLog(const std::string& fragment, bool in_path) {
  std::vector<PublisherRequest> found;
  std::string log = ReadFileBytes(BuildFile(L"fake_publisher\\requests.jsonl"));
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find('\n', start);
    if (end == std::string::npos) break;  // a line still being written
    std::string line = log.substr(start, end - start);
    start = end + 1;
    if (line.find(fragment) == std::string::npos) continue;
    json_t* entry = json_loads(line.c_str(), 0, nullptr);
    if (entry == nullptr) continue;
    PublisherRequest request;
    request.method = StringMember(entry, "method");
    request.port = StringMember(entry, "port");
    request.path = StringMember(entry, "path");
    request.query = StringMember(entry, "query");
    request.status = static_cast<int>(json_integer_value(json_object_get(entry, "status")));
    request.bytes_sent = json_integer_value(json_object_get(entry, "bytes_sent"));
    const char* name;
    json_t* value;
    json_object_foreach(json_object_get(entry, "headers"), name, value) {
      request.headers[name] = json_string_value(value) ? json_string_value(value) : "";
    }
    json_decref(entry);
    const std::string& where = in_path ? request.path : request.query;
    if (where.find(fragment) != std::string::npos) found.push_back(request);
  }
  return found;
}

}  // namespace

std::string PublisherUrl(const std::string& path_and_query) {
  return std::string("https://") + endpoints::kBrowserApiHost + path_and_query;
}

std::string EscapeSegment(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (isalnum(c) || c == '-' || c == '_' || c == '.') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string SilentPublisherUrl(const std::string& path_and_query) {
  const std::string host = endpoints::kBrowserApiHost;
  const size_t colon = host.rfind(':');
  return "https://" + host.substr(0, colon) + ":" +
         std::to_string(std::stoi(host.substr(colon + 1)) + 3) + path_and_query;
}

bool AddPublisherScript(const std::string& script_json) {
  const std::string url = PublisherUrl("/__control/script?json=" + EscapeSegment(script_json));
  std::string answer;
  return installer::DownloadToString(url, nullptr, &answer) &&
         answer.find("\"id\"") != std::string::npos;
}

std::string UniqueMarker() {
  static std::atomic<int> counter{0};
  return "m" + platform::ToString(GetCurrentProcessId()) + "x" + platform::ToString(++counter) +
         "x" + platform::ToString(GetTickCount());
}

namespace {

std::vector<PublisherRequest> WaitForRequests(const std::string& fragment, bool in_path,
                                              size_t at_least, uint32_t timeout_ms) {
  DWORD start = GetTickCount();
  for (;;) {
    std::vector<PublisherRequest> found = ReadLog(fragment, in_path);
    if (found.size() >= at_least || GetTickCount() - start >= timeout_ms) return found;
    Sleep(20);
  }
}

}  // namespace

std::vector<PublisherRequest> PublisherRequestsWith(const std::string& fragment,
                                                    size_t at_least, uint32_t timeout_ms) {
  return WaitForRequests(fragment, false, at_least, timeout_ms);
}

std::vector<PublisherRequest> PublisherRequestsWithPath(const std::string& fragment,
                                                        size_t at_least, uint32_t timeout_ms) {
  return WaitForRequests(fragment, true, at_least, timeout_ms);
}

}  // namespace test_support
