// What one download attempt ended with, in one record: the downloader keeps it while it
// works, `DownloadWithProgress` hands it to its caller, and the install flow decides from it
// whether another attempt can help.
#ifndef NETWORK_DOWNLOAD_OUTCOME_H_
#define NETWORK_DOWNLOAD_OUTCOME_H_

#include <cstdint>
#include <string>

#include "platform/seh_guard.h"

namespace installer {

struct DownloadOutcome {
  // The failing step's tag with the Windows error code ("internet_open_url-12007"); empty
  // while all is well.
  std::wstring error;
  // Target of the last redirect while the request was opened; empty without redirects.
  std::wstring final_url;
  // Size of the whole file the answer belongs to (for a resumed 206, the total of its
  // Content-Range); 0 until known.
  uint32_t content_length = 0;
  // How the server answered a resume: "resume-" + status + "-" + offset; empty without one.
  std::wstring resume_report;
  // What was raised while WinINet was loaded or the URL opened; code 0 when nothing was.
  SehExceptionInfo exception;
  // Outcomes no further attempt can change:
  bool proxy_auth_required = false;  // the proxy asked for credentials and none were given
  bool answer_too_large = false;     // the answer is past the cap of what the sink may hold
};

}  // namespace installer

#endif  // NETWORK_DOWNLOAD_OUTCOME_H_
