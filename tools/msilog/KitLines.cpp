#include "KitLines.h"

#include <cctype>

namespace msilog {
namespace {

constexpr std::size_t kMaxText = 1024;

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }
bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}
bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The value of /name= in a parameter text, quoted or not.
std::string Parameter(const std::string& data, const std::string& name) {
  const auto at = data.find("/" + name + "=");
  if (at == std::string::npos) return {};
  std::size_t from = at + name.size() + 2;
  if (from < data.size() && data[from] == '"') {
    const auto close = data.find('"', from + 1);
    return data.substr(from + 1, close == std::string::npos ? std::string::npos : close - from - 1);
  }
  return data.substr(from, data.find(' ', from) == std::string::npos ? std::string::npos : data.find(' ', from) - from);
}

std::string WithoutTrailingBackslashes(std::string path) {
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

// "remove failed - FOLDER\ text(0x8007xxxx)": the folder, or empty.
std::string RemovedFolder(const std::string& message) {
  static const std::string lead = "remove failed - ";
  if (!StartsWith(message, lead)) return {};
  const auto cut = message.find("\\ ", lead.size());
  if (cut == std::string::npos) return {};
  return message.substr(lead.size(), cut - lead.size());
}

}  // namespace

bool KitPrefix(std::string_view text, char& level) {
  static const char shape[] = "dddd-dd-dd dd:dd:dd.ddd hhhhhhhh L ";
  static_assert(sizeof(shape) - 1 == kKitPrefixLength, "the prefix's shape");
  if (text.size() < kKitPrefixLength) return false;
  for (std::size_t i = 0; i < kKitPrefixLength; ++i) {
    const char c = text[i];
    switch (shape[i]) {
      case 'd':
        if (c < '0' || c > '9') return false;
        break;
      case 'h':
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
        break;
      case 'L': level = c; break;
      default:
        if (c != shape[i]) return false;
    }
  }
  return true;
}

bool IsBanner(std::string_view text) { return StartsWith(text, "####### ") && Contains(text, " log PID="); }

bool DecidingInfo(const std::string& message, std::string& gloss) {
  gloss.clear();
  if (StartsWith(message, "UpdateDriverForPlugAndPlayDevices succeeded. bRebootRequired = ")) {
    gloss = EndsWith(message, "= 0") ? "driver bound, no reboot needed" : "driver bound, a reboot is needed";
    return true;
  }
  const auto removed = message.find(" : RemoveDevice result = ");
  if (removed != std::string::npos) {
    gloss = EndsWith(message, "= 00000000") ? "device removed" : "device not removed";
    return true;
  }
  if (StartsWith(message, "module = ")) {
    gloss = "a running client found there";
    return true;
  }
  return StartsWith(message, "SetConnectionName(") || StartsWith(message, "Change connection name: ") ||
         StartsWith(message, "Success to migrate ");
}

bool ExpectedLine(const std::string& action, char level, const std::string& message, const std::string& data,
                  std::string& lePath, std::string& reason) {
  if (EndsWith(action, "RemoveSparkleReg") && level == 'E' && message == "RegOpenKeyEx Error(2)") {
    reason = "a user who never had the updater's settings";
    return true;
  }
  if (EndsWith(action, "IsSupportOS") && level == 'E' && message == "RegQueryValueEx Error2)") {
    reason = "Windows before 10 has no CurrentMajorVersionNumber";
    return true;
  }
  if (!EndsWith(action, "RemoveRakAll") || level != 'W') return false;
  const std::string folder = RemovedFolder(message);
  if (folder.empty()) return false;
  if (EndsWith(message, "(0x80070091)")) {
    const std::string bin = WithoutTrailingBackslashes(Parameter(data, "bin"));
    const bool isBin = bin.empty() ? EndsWith(Lower(folder), "\\bin") : Lower(bin) == Lower(folder);
    if (isBin) {
      reason = "the bin folder still holds other files";
      return true;
    }
    return false;
  }
  if (EndsWith(message, "(0x80070003)")) {
    if (EndsWith(folder, " LE")) {
      lePath = folder;
      reason = "the user has no \" LE\" folder";
      return true;
    }
    if (!lePath.empty() && StartsWith(lePath, folder + "\\")) {
      reason = "it went with the user's data folder";
      return true;
    }
  }
  return false;
}

bool HasNumber(std::string_view text, const std::string& number) {
  if (number.empty()) return false;
  for (auto at = text.find(number); at != std::string_view::npos; at = text.find(number, at + 1)) {
    const bool before = at == 0 || !std::isdigit(static_cast<unsigned char>(text[at - 1]));
    const std::size_t end = at + number.size();
    const bool after = end == text.size() || !std::isdigit(static_cast<unsigned char>(text[end]));
    if (before && after) return true;
  }
  return false;
}

std::string Shorten(std::string text) {
  if (text.size() <= kMaxText) return text;
  std::size_t cut = kMaxText;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
  text += "...";
  return text;
}

}  // namespace msilog
