// The test logs and the way Windows writes a log's text.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

const std::filesystem::path kData = std::filesystem::path(VELK_SOURCE_DIR) / "tests/msilog/data";

inline std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  EXPECT_TRUE(file) << path;
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// UTF-8 text as Windows writes its logs: UTF-16LE after a byte order mark,
// lines ending in CR LF.
inline std::string AsWindowsFile(const std::string& utf8) {
  std::string out = "\xFF\xFE";
  auto unit = [&](unsigned c) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  };
  for (std::size_t i = 0; i < utf8.size();) {
    const unsigned char b = utf8[i];
    unsigned c = b;
    int more = 0;
    if (b >= 0xF0) {
      c = b & 0x07;
      more = 3;
    } else if (b >= 0xE0) {
      c = b & 0x0F;
      more = 2;
    } else if (b >= 0xC0) {
      c = b & 0x1F;
      more = 1;
    }
    ++i;
    for (; more > 0; --more, ++i) c = (c << 6) | (static_cast<unsigned char>(utf8[i]) & 0x3F);
    if (c == '\n') unit('\r');
    if (c >= 0x10000) {
      unit(0xD800 + ((c - 0x10000) >> 10));
      unit(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      unit(c);
    }
  }
  return out;
}

}  // namespace
