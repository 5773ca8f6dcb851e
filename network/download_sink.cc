#include "network/download_sink.h"

#include "platform/logging.h"

namespace installer {

bool DownloadSink::Write(const void* data, uint32_t size) {
  if (size > limit_ - bytes_written_) {
    LOG(ERROR, "Write") << "The answer is larger than the " << limit_
                        << " bytes expected of it; the download is refused.";
    SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
  }
  return Append(data, size);
}

bool FileSink::Append(const void* data, uint32_t size) {
  DWORD written = 0;
  if (WriteFile(file_, data, size, &written, nullptr) && written == size) {
    bytes_written_ += size;
    return true;
  }
  // A short write (a full disk) leaves bytes in the file that the count does not know of; a
  // resumed attempt would append after them and corrupt the archive. Cut them off again so
  // that the file always holds exactly bytes_written bytes.
  DWORD error = GetLastError();
  if (written > 0) {
    LARGE_INTEGER offset;
    offset.QuadPart = bytes_written_;
    if (SetFilePointerEx(file_, offset, nullptr, FILE_BEGIN)) SetEndOfFile(file_);
  }
  SetLastError(error != 0 ? error : ERROR_WRITE_FAULT);
  return false;
}

bool FileSink::Reset() {
  bytes_written_ = 0;
  LARGE_INTEGER start = {};
  if (!SetFilePointerEx(file_, start, nullptr, FILE_BEGIN)) return false;
  return SetEndOfFile(file_) != FALSE;
}

bool StringSink::Append(const void* data, uint32_t size) {
  if (size > 0) data_.append(static_cast<const char*>(data), size);
  bytes_written_ += size;
  return true;
}

bool StringSink::Reset() {
  data_.clear();
  bytes_written_ = 0;
  return true;
}

}  // namespace installer
