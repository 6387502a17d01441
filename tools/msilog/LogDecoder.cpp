#include "LogDecoder.h"

#include <algorithm>
#include <cstring>

namespace msilog {
namespace {

constexpr std::uint32_t kReplacement = 0xFFFD;
// How many bytes tell UTF-16 without a byte order mark from other text.
constexpr std::size_t kHead = 512;

// A log without its byte order mark is UTF-16 when most of its first odd
// bytes are zero (ASCII text in UTF-16LE).
bool LooksUtf16Le(const std::string& bytes) {
  std::size_t zeros = 0, pairs = 0;
  for (std::size_t i = 1; i < bytes.size() && pairs < kHead / 2; i += 2, ++pairs) {
    if (bytes[i] == 0) ++zeros;
  }
  return pairs >= 8 && zeros * 4 >= pairs * 3;
}

}  // namespace

void LogDecoder::Feed(const char* data, std::size_t size) {
  if (encoding_ == Encoding::Unknown) {
    const std::size_t take = std::min(size, kHead - head_.size());
    head_.append(data, take);
    data += take;
    size -= take;
    if (head_.size() < kHead) return;
    Decide();
  }
  if (encoding_ == Encoding::Utf16Le) {
    Units(data, size);
  } else {
    Bytes(data, size);
  }
}

void LogDecoder::Decide() {
  std::string head;
  head.swap(head_);
  std::size_t from = 0;
  if (head.size() >= 2 && head[0] == '\xFF' && head[1] == '\xFE') {
    encoding_ = Encoding::Utf16Le;
    from = 2;
  } else if (head.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    encoding_ = Encoding::Bytes;
    from = 3;
  } else {
    encoding_ = LooksUtf16Le(head) ? Encoding::Utf16Le : Encoding::Bytes;
  }
  if (encoding_ == Encoding::Utf16Le) {
    Units(head.data() + from, head.size() - from);
  } else {
    Bytes(head.data() + from, head.size() - from);
  }
}

void LogDecoder::Finish() {
  if (encoding_ == Encoding::Unknown) Decide();
  if (odd_ >= 0) {
    odd_ = -1;
    Unit(kReplacement);
  }
  if (high_ != 0) {
    high_ = 0;
    Put(kReplacement);
  }
  if (!line_.empty()) EndLine();
}

void LogDecoder::Bytes(const char* data, std::size_t size) {
  const char* end = data + size;
  while (data < end) {
    // Whole runs up to the next line end or zero byte at a time.
    const void* newline = std::memchr(data, '\n', static_cast<std::size_t>(end - data));
    const char* stop = newline ? static_cast<const char*>(newline) : end;
    if (const void* zero = std::memchr(data, '\0', static_cast<std::size_t>(stop - data))) {
      stop = static_cast<const char*>(zero);
    }
    if (line_.size() < kMaxLine) line_.append(data, std::min<std::size_t>(stop - data, kMaxLine - line_.size()));
    if (stop == end) break;
    if (*stop == '\n') {
      EndLine();
    } else {
      // A zero byte would end the text wherever it is printed.
      Put(kReplacement);
    }
    data = stop + 1;
  }
}

void LogDecoder::Units(const char* data, std::size_t size) {
  std::size_t i = 0;
  if (odd_ >= 0 && size > 0) {
    Unit(static_cast<std::uint32_t>(odd_) | (static_cast<std::uint32_t>(static_cast<unsigned char>(data[0])) << 8));
    odd_ = -1;
    i = 1;
  }
  for (; i + 1 < size; i += 2) {
    Unit(static_cast<std::uint32_t>(static_cast<unsigned char>(data[i])) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(data[i + 1])) << 8));
  }
  if (i < size) odd_ = static_cast<unsigned char>(data[i]);
}

void LogDecoder::Unit(std::uint32_t unit) {
  if (high_ != 0) {
    const std::uint32_t high = high_;
    high_ = 0;
    if (unit >= 0xDC00 && unit < 0xE000) return Put(0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00));
    Put(kReplacement);
  }
  if (unit >= 0xD800 && unit < 0xDC00) {
    high_ = unit;
  } else if (unit >= 0xDC00 && unit < 0xE000) {
    Put(kReplacement);
  } else if (unit == '\n') {
    EndLine();
  } else {
    Put(unit == 0 ? kReplacement : unit);
  }
}

void LogDecoder::Put(std::uint32_t c) {
  // A character that does not fit whole is not begun.
  if (line_.size() + 4 > kMaxLine) return;
  if (c < 0x80) {
    line_ += static_cast<char>(c);
  } else if (c < 0x800) {
    line_ += static_cast<char>(0xC0 | (c >> 6));
    line_ += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    line_ += static_cast<char>(0xE0 | (c >> 12));
    line_ += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    line_ += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    line_ += static_cast<char>(0xF0 | (c >> 18));
    line_ += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    line_ += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    line_ += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void LogDecoder::EndLine() {
  if (!line_.empty() && line_.back() == '\r') line_.pop_back();
  sink_(line_);
  line_.clear();
}

}  // namespace msilog
