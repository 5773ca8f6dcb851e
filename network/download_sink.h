// Where the bytes of a download go.
//
// A sink counts the bytes it holds (`bytes_written`). The download client asks for the rest
// from that offset when a sink that already holds bytes is handed to it, and calls `Reset`
// when the server sends the whole file again or cannot resume.
//
// Every sink has a size cap: a server cannot make the installer hold more than the caller
// expects of the answer. A write past the cap is refused (ERROR_FILE_TOO_LARGE), logged once,
// and the download fails.
#ifndef NETWORK_DOWNLOAD_SINK_H_
#define NETWORK_DOWNLOAD_SINK_H_

#include <windows.h>

#include <cstdint>
#include <string>

namespace installer {

// The largest setup archive (a file): well above any real one, and far from the 4 GB at
// which a byte count of 32 bits would wrap.
inline constexpr uint32_t kMaxArchiveBytes = 1024u << 20;

class DownloadSink {
 public:
  explicit DownloadSink(uint32_t limit) : limit_(limit) {}
  DownloadSink(const DownloadSink&) = delete;
  DownloadSink& operator=(const DownloadSink&) = delete;

  // Appends `size` bytes. On failure (also past the cap) nothing is counted.
  bool Write(const void* data, uint32_t size);
  // Discards everything held; bytes_written becomes 0.
  virtual bool Reset() = 0;
  virtual ~DownloadSink() = default;

  uint32_t bytes_written() const { return bytes_written_; }
  uint32_t limit() const { return limit_; }
  // A sink that wants only the first `limit` bytes of an answer (one whose body nobody
  // needs whole): the download ends at the cap instead of failing.
  void set_stops_at_limit(bool stops) { stops_at_limit_ = stops; }
  bool stops_at_limit() const { return stops_at_limit_; }

 protected:
  // Stores `size` bytes after the ones held; the cap has been checked.
  virtual bool Append(const void* data, uint32_t size) = 0;

  uint32_t bytes_written_ = 0;

 private:
  uint32_t limit_;
  bool stops_at_limit_ = false;
};

// Writes to a file handle that the caller opened for writing and keeps owning (the sink
// never closes it). The file holds exactly bytes_written bytes, with its pointer at their
// end: none at first, or `held` bytes kept from an earlier run (at most `limit`).
class FileSink : public DownloadSink {
 public:
  explicit FileSink(HANDLE file, uint32_t limit = kMaxArchiveBytes, uint32_t held = 0)
      : DownloadSink(limit), file_(file) {
    bytes_written_ = held <= limit ? held : 0;
  }

  // Moves the file pointer to 0 and truncates the file there; returns the truncation's result.
  // bytes_written becomes 0 in every case.
  bool Reset() override;

  HANDLE file() const { return file_; }

 protected:
  // True only when WriteFile succeeds and takes every byte.
  bool Append(const void* data, uint32_t size) override;

 private:
  HANDLE file_;
};

// Collects at most `limit` bytes in memory.
class StringSink : public DownloadSink {
 public:
  explicit StringSink(uint32_t limit) : DownloadSink(limit) {}

  bool Reset() override;

  const std::string& data() const { return data_; }
  // Hands the collected bytes over (the sink keeps counting what it received).
  std::string* mutable_data() { return &data_; }

 protected:
  bool Append(const void* data, uint32_t size) override;

 private:
  std::string data_;
};

}  // namespace installer

#endif  // NETWORK_DOWNLOAD_SINK_H_
