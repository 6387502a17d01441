// A reader of driver INF files, as far as the host's Plug and Play needs
// one: sections, their lines, %strings% from [Strings].
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace platform::host {

struct InfLine {
  std::wstring key;                  // empty for a line without '='
  std::vector<std::wstring> fields;  // the comma-separated values (or the whole line)
};

class InfFile {
 public:
  // UTF-16LE with its byte order mark, else UTF-8 (a BOM is skipped).
  static InfFile Parse(std::string_view bytes);
  // False when the file cannot be read.
  static bool Load(const std::filesystem::path& file, InfFile* inf);

  bool HasSection(std::wstring_view name) const;
  // Lines of every section of that name (names compare without case).
  std::vector<const InfLine*> Lines(std::wstring_view section) const;
  // First field of the first line with that key, strings substituted;
  // false when absent.
  bool Value(std::wstring_view section, std::wstring_view key, std::wstring* value) const;
  // Replaces %name% by its [Strings] value; %% is a percent sign.
  std::wstring Expand(std::wstring_view text) const;

 private:
  struct Section {
    std::wstring name;
    std::vector<InfLine> lines;
  };
  std::vector<Section> sections_;
};

}  // namespace platform::host
