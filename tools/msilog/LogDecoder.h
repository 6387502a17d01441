// Turns the bytes of a verbose MSI log, handed over in pieces of any size,
// into lines of text: UTF-16LE (with or without its byte order mark, as
// Windows writes it) becomes UTF-8; UTF-8 and ANSI text (as Wine writes
// it) pass unchanged. Nothing but the line being built is kept, so memory
// stays the same however long the log is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace msilog {

class LogDecoder {
 public:
  // Longer lines are cut here (no line of the installer or the kit comes
  // near it); the rest of such a line is dropped.
  static constexpr std::size_t kMaxLine = 16 * 1024;

  // Receives each line without its line end (LF or CR LF).
  using LineSink = std::function<void(std::string_view line)>;

  explicit LogDecoder(LineSink sink) : sink_(std::move(sink)) {}

  void Feed(const char* data, std::size_t size);
  // The end of the log: a last line without line end, a UTF-16 unit cut in
  // half or a surrogate without its partner (written as U+FFFD).
  void Finish();

 private:
  enum class Encoding { Unknown, Utf16Le, Bytes };

  void Decide();
  void Bytes(const char* data, std::size_t size);
  void Units(const char* data, std::size_t size);
  void Unit(std::uint32_t unit);
  void Put(std::uint32_t c);
  void EndLine();

  LineSink sink_;
  Encoding encoding_ = Encoding::Unknown;
  std::string head_;  // the first bytes, until they tell the encoding
  std::string line_;
  int odd_ = -1;            // the first byte of a UTF-16 unit cut between pieces
  std::uint32_t high_ = 0;  // a high surrogate waiting for its low one
};

}  // namespace msilog
