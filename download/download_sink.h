// Where the bytes of a download go.
//
// A sink counts the bytes it holds (`bytes_written`). The download client resumes a request
// at that offset when a sink that already holds bytes is handed to it, and calls `Reset`
// when the server cannot resume, so the next attempt starts again from byte 0.
#ifndef DOWNLOAD_DOWNLOAD_SINK_H_
#define DOWNLOAD_DOWNLOAD_SINK_H_

#include <windows.h>

#include <cstdint>
#include <string>

namespace installer {

class DownloadSink {
 public:
  DownloadSink() = default;
  DownloadSink(const DownloadSink&) = delete;
  DownloadSink& operator=(const DownloadSink&) = delete;

  // Appends `size` bytes. On failure nothing is counted.
  virtual bool Write(const void* data, uint32_t size) = 0;
  // Discards everything held; bytes_written becomes 0.
  virtual bool Reset() = 0;
  virtual ~DownloadSink() = default;

  uint32_t bytes_written() const { return bytes_written_; }

 protected:
  uint32_t bytes_written_ = 0;
};

// Writes to a file handle that the caller opened for writing and keeps owning (the sink
// never closes it). The file is expected to be empty, or to hold exactly bytes_written bytes
// from an earlier attempt with the same sink.
class FileSink : public DownloadSink {
 public:
  explicit FileSink(HANDLE file) : file_(file) {}

  // True only when WriteFile succeeds and takes every byte.
  bool Write(const void* data, uint32_t size) override;
  // Moves the file pointer to 0 and truncates the file there; returns the truncation's result.
  // bytes_written becomes 0 in every case.
  bool Reset() override;

  HANDLE file() const { return file_; }

 private:
  HANDLE file_;
};

// Collects the bytes in memory. Write always succeeds.
class StringSink : public DownloadSink {
 public:
  StringSink() = default;

  bool Write(const void* data, uint32_t size) override;
  bool Reset() override;

  const std::string& data() const { return data_; }
  // Hands the collected bytes over (the sink keeps counting what it received).
  std::string* mutable_data() { return &data_; }

 private:
  std::string data_;
};

}  // namespace installer

#endif  // DOWNLOAD_DOWNLOAD_SINK_H_
