// What the kit's own lines in an MSI log mean: the custom-action log's
// prefix, the Info lines that decide an outcome, and the Error and Warning
// lines of situations the actions expect.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace msilog {

// "2024-05-17 09:03:07.042 00001A2C I ": 35 characters.
constexpr std::size_t kKitPrefixLength = 35;
bool KitPrefix(std::string_view text, char& level);
bool IsBanner(std::string_view text);

// An Info line (without its prefix) that decides an outcome, with what it
// means ("driver bound, no reboot needed"; empty where the line says it).
bool DecidingInfo(const std::string& message, std::string& gloss);

// An Error or Warning line of a situation the action expects, with the
// reason. data: the action's parameter text (CustomActionData);
// lePath: the last " LE" folder found missing, kept between lines.
bool ExpectedLine(const std::string& action, char level, const std::string& message, const std::string& data,
                  std::string& lePath, std::string& reason);

// Whether text holds number as a word of its own ("Fehler 25000.").
bool HasNumber(std::string_view text, const std::string& number);

// Text cut to what a summary keeps of one line (at a character's start).
std::string Shorten(std::string text);

}  // namespace msilog
