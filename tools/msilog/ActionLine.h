// The installer's action lines, in any language. Windows Installer writes
// them from localised templates: "Action start 10:22:31: X." and "Action
// ended 10:22:31: X. Return value 1." in English, "Aktion gestartet um
// 10:22:31: X." in German, "アクション開始 5:30:37: X。" and "操作終了
// 5:30:37: X。 戻り値 3。" in Japanese, and the action's description line
// "Action 10:22:31: X. text" before each start. What stays is the shape:
// words, a time, ": ", the action's name (an identifier), a full stop, and
// for an end more words, a number and a full stop. Japanese text comes as
// UTF-8 (from UTF-16) or as code page 932 (Wine); both are read.
#pragma once

#include <string>
#include <string_view>

namespace msilog {

struct ActionLine {
  enum Kind { kStart, kEnd, kText };
  Kind kind = kText;
  std::string_view words;  // what comes before the time ("Action start ")
  std::string_view time;
  std::string_view name;
  std::string_view value;  // an end's number
};

// False when the line has not the shape of an action line at all.
bool ParseActionLine(std::string_view line, ActionLine& out);

}  // namespace msilog
