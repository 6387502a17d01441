#include "MsiLogSummary.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <sstream>

namespace msilog {
namespace {

void AppendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string Utf16LeToUtf8(const std::string& bytes, std::size_t from) {
  std::string out;
  out.reserve(bytes.size() / 2);
  auto unit = [&](std::size_t i) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8);
  };
  for (std::size_t i = from; i + 1 < bytes.size(); i += 2) {
    std::uint32_t c = unit(i);
    if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size()) {
      const std::uint32_t low = unit(i + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    AppendUtf8(out, c);
  }
  return out;
}

// A log without its byte order mark is UTF-16 when most of its first odd
// bytes are zero (ASCII text in UTF-16LE).
bool LooksUtf16Le(const std::string& bytes) {
  std::size_t zeros = 0, pairs = 0;
  for (std::size_t i = 1; i < bytes.size() && pairs < 256; i += 2, ++pairs) {
    if (bytes[i] == 0) ++zeros;
  }
  return pairs >= 8 && zeros * 4 >= pairs * 3;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// "MSI (s) (7C:48) [10:22:33:456]: text" -> "text"; other lines unchanged.
std::string EngineText(const std::string& line, bool& engine) {
  engine = false;
  if (!StartsWith(line, "MSI (")) return line;
  const auto colon = line.find("]: ");
  if (colon == std::string::npos) return line;
  engine = true;
  return line.substr(colon + 3);
}

// The custom-action log's prefix: "2024-05-17 09:03:07.042 00001A2C I ".
bool KitPrefix(const std::string& text, char& level) {
  static const char shape[] = "dddd-dd-dd dd:dd:dd.ddd hhhhhhhh L ";
  if (text.size() < sizeof(shape) - 1) return false;
  for (std::size_t i = 0; i + 1 < sizeof(shape); ++i) {
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

bool IsBanner(const std::string& text) {
  return StartsWith(text, "####### ") && text.find(" log PID=") != std::string::npos;
}

// The value between "Key=" and the next "," (or the closing parenthesis).
std::string OpField(const std::string& op, const std::string& key, bool last) {
  const auto at = op.find(key + "=");
  if (at == std::string::npos) return {};
  const auto from = at + key.size() + 1;
  const auto to = last ? op.rfind(')') : op.find(',', from);
  return op.substr(from, to == std::string::npos || to < from ? std::string::npos : to - from);
}

class Reader {
 public:
  Summary Read(const std::vector<std::string>& lines) {
    for (const auto& line : lines) Line(line);
    Finish();
    return std::move(summary_);
  }

 private:
  struct Open {
    std::string name;
    std::size_t run;      // index into the action's runs, or npos for other actions
    std::size_t started;  // number of the line that started it
  };

  KitAction& Action(const std::string& name) {
    auto found = index_.find(name);
    if (found != index_.end()) return summary_.actions[found->second];
    index_[name] = summary_.actions.size();
    summary_.actions.push_back(KitAction{name, {}, {}, {}});
    return summary_.actions.back();
  }
  static bool KitName(const std::string& name) { return StartsWith(name, "Tovrin_"); }

  // Where a line of the custom-action log belongs: the action run from the
  // script, else the innermost action that is open.
  KitAction* Context(bool adopt) {
    if (!script_.empty()) return &Action(script_);
    if (open_.empty()) return nullptr;
    const std::string& name = open_.back().name;
    if (!KitName(name) && index_.find(name) == index_.end()) {
      if (!adopt) return nullptr;
      KitAction& action = Action(name);
      action.runs.push_back(ActionRun{openStart_[name], {}, {}, {}, {}, false});
      open_.back().run = action.runs.size() - 1;
    }
    return &Action(name);
  }

  void Line(const std::string& raw) {
    std::string line = raw;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' ')) line.pop_back();
    if (line.empty()) return;
    ++lineNumber_;
    bool engine = false;
    const std::string text = EngineText(line, engine);
    if (engine) sawEngine_ = true;

    if (StartsWith(line, "Action start ")) return Start(line.substr(13));
    if (StartsWith(line, "Action ended ")) return Ended(line.substr(13));
    if (StartsWith(text, "Executing op: CustomActionSchedule(")) return Scheduled(text);
    if (StartsWith(text, "Executing op: ")) {
      script_.clear();
      return;
    }
    if (StartsWith(line, "1: ")) return KitLine(line.substr(3));
    if (StartsWith(line, "Property(S): ") || StartsWith(line, "Property(C): ")) return Dump(line);
    if (StartsWith(text, "PROPERTY CHANGE: ")) return Change(text.substr(17));
    if (StartsWith(text, "CustomAction ") && text.find(" returned actual error code ") != std::string::npos) {
      return Returned(text.substr(13));
    }
    if (StartsWith(text, "MainEngineThread is returning ")) {
      engineResult_ = text.substr(30);
      return;
    }
    Other(line, text, engine);
  }

  // "10:22:33: Tovrin_CheckRasExec."
  void Start(const std::string& rest) {
    const auto sep = rest.find(": ");
    if (sep == std::string::npos) return;
    std::string name = rest.substr(sep + 2);
    if (!name.empty() && name.back() == '.') name.pop_back();
    const std::string time = rest.substr(0, sep);
    sawActions_ = true;
    openStart_[name] = time;
    Open open{name, std::string::npos, lineNumber_};
    if (KitName(name)) {
      KitAction& action = Action(name);
      // Wine runs the script's actions inside InstallFinalize.
      bool script = false;
      for (const auto& outer : open_) script = script || outer.name == "InstallFinalize";
      action.runs.push_back(ActionRun{time, {}, {}, {}, {}, script});
      open.run = action.runs.size() - 1;
    }
    open_.push_back(open);
  }

  // "10:22:34: Tovrin_CheckRasExec. Return value 1."
  void Ended(const std::string& rest) {
    const auto sep = rest.find(": ");
    const auto value = rest.rfind(". Return value ");
    if (sep == std::string::npos || value == std::string::npos || value < sep) return;
    sawActions_ = true;
    const std::string time = rest.substr(0, sep);
    const std::string name = rest.substr(sep + 2, value - sep - 2);
    std::string result = rest.substr(value + 15);
    if (!result.empty() && result.back() == '.') result.pop_back();
    if (script_ == name || name == "InstallFinalize") script_.clear();
    // Close up to the action named; an end without a start closes nothing.
    std::size_t started = lineNumber_;
    for (std::size_t i = open_.size(); i-- > 0;) {
      if (open_[i].name != name) continue;
      if (open_[i].run != std::string::npos) {
        ActionRun& run = Action(name).runs[open_[i].run];
        run.end = time;
        run.returnValue = result;
      }
      started = open_[i].started;
      open_.resize(i);
      break;
    }
    if (name == "INSTALL") {
      installResult_ = result;
      if (Failure(result) && firstFailure_.empty()) firstFailure_ = lastFailure_;
    } else if (name != "ExecuteAction" && Failure(result)) {
      // Windows: the first "Return value 3" stopped the setup. Wine also
      // logs 0 for actions that had nothing to do: there the last failure
      // before the end of INSTALL counts.
      if (Wine()) {
        // An action failing inside this one (InstallFinalize running the
        // script) is the one that stopped it.
        if (lastFailure_.empty() || lastFailureLine_ < started) lastFailure_ = name;
        lastFailureLine_ = lineNumber_;
      } else if (firstFailure_.empty()) {
        firstFailure_ = name;
      }
    }
  }

  // Windows runs a deferred action from the script:
  // "Executing op: CustomActionSchedule(Action=X,ActionType=3073,Source=BinaryData,Target=Y,CustomActionData=Z)".
  void Scheduled(const std::string& op) {
    const std::string name = OpField(op, "Action", false);
    if (name.empty()) return;
    KitAction& action = Action(name);
    ActionRun run{};
    run.deferred = true;
    run.customData = OpField(op, "CustomActionData", true);
    action.runs.push_back(run);
    script_ = name;
  }

  // "Tovrin_InstallDevice returned actual error code 1603 (note ...)".
  void Returned(const std::string& rest) {
    const auto at = rest.find(" returned actual error code ");
    const std::string name = rest.substr(0, at);
    std::string code = rest.substr(at + 28);
    code = code.substr(0, code.find_first_not_of("0123456789"));
    auto found = index_.find(name);
    if (found == index_.end() || summary_.actions[found->second].runs.empty()) return;
    summary_.actions[found->second].runs.back().returnedCode = code;
    if (code != "0" && summary_.actions[found->second].runs.back().deferred) lastScriptFailure_ = name;
  }

  void KitLine(const std::string& text) {
    char level = 0;
    const bool prefixed = KitPrefix(text, level);
    // The installer's own one-field messages outside the kit's actions are
    // not the kit's; inside them every line is (banners of its own too).
    KitAction* action = Context(prefixed || IsBanner(text));
    if (!action || !prefixed || (level != 'E' && level != 'W')) return;
    action->problems.push_back(std::string(1, level) + " " + text.substr(35));
  }

  void Dump(const std::string& line) {
    const bool server = line[9] == 'S';
    const auto eq = line.find(" = ", 13);
    if (eq == std::string::npos) return;
    const std::string name = line.substr(13, eq - 13);
    if (server || dump_.find(name) == dump_.end() || !dumpServer_[name]) {
      dump_[name] = line.substr(eq + 3);
      dumpServer_[name] = server;
    }
  }

  // "Adding NAME property. Its value is 'V'." / "Modifying NAME property.
  // Its current value is 'A'. Its new value: 'B'." / "Deleting NAME property. ..."
  void Change(const std::string& change) {
    sawChanges_ = true;
    KitAction* action = Context(false);
    if (!action) return;
    const auto space = change.find(' ');
    const auto end = change.find(" property.");
    if (space == std::string::npos || end == std::string::npos || end < space) return;
    const std::string verb = change.substr(0, space);
    const std::string name = change.substr(space + 1, end - space - 1);
    std::string value;
    const char* marker = verb == "Modifying" ? "Its new value: '" : "Its value is '";
    const auto at = change.find(marker);
    if (verb == "Deleting") {
      action->properties.push_back(name + " deleted");
      return;
    }
    if (at != std::string::npos) {
      value = change.substr(at + std::string(marker).size());
      const auto close = value.rfind("'.");
      if (close != std::string::npos) value.resize(close);
    }
    action->properties.push_back(name + " = " + value);
  }

  // Error messages inside a kit action ("Error 25001. ..." on Windows, the
  // bare text on Wine) and the texts of the launch conditions.
  void Other(const std::string& line, const std::string& text, bool engine) {
    if (StartsWith(line, "Action ")) return;  // the action's description
    if (!open_.empty() && open_.back().name == "LaunchConditions") {
      const auto product = text.find(" -- ");
      if (engine && StartsWith(text, "Product: ") && product != std::string::npos) {
        launchTexts_.push_back(text.substr(product + 4));
      } else if (!engine) {
        launchTexts_.push_back(line);
      }
      return;
    }
    if (engine) return;
    KitAction* action = Context(false);
    if (!action) return;
    if (StartsWith(line, "Error ") || !sawEngine_) action->problems.push_back("message: " + line);
  }

  bool Failure(const std::string& value) const {
    // Windows: 1 success, 2 cancelled, 3 failed, 0 not run. Wine logs 1 for
    // success and 0 for a failure.
    if (Wine()) return value == "0";
    return value == "2" || value == "3";
  }
  bool Wine() const { return !sawEngine_; }

  static std::string Meaning(const std::string& value, bool wine) {
    if (value == "1") return "success";
    if (wine && value == "0") return "failed";
    if (value == "0") return "not run";
    if (value == "2") return "cancelled";
    if (value == "3") return "failed";
    return "unknown";
  }

  void Finish() {
    summary_.recognised = sawActions_;
    summary_.wine = Wine();
    const bool engineFailed =
        !engineResult_.empty() && engineResult_ != "0" && engineResult_ != "3010" && engineResult_ != "1641";
    if (!installResult_.empty()) {
      summary_.failed = Failure(installResult_) || engineFailed;
      summary_.outcome = summary_.failed ? "failed" : "succeeded";
    } else if (!engineResult_.empty()) {
      summary_.failed = engineFailed;
      summary_.outcome = summary_.failed ? "failed" : "succeeded";
    } else {
      summary_.failed = !firstFailure_.empty();
      summary_.outcome = summary_.failed ? "failed" : "unknown (the log ends before the installation does)";
    }
    if (summary_.failed) {
      summary_.stoppedBy = firstFailure_;
      // A deferred action's failure ends the script: InstallFinalize fails.
      if (!lastScriptFailure_.empty() && (firstFailure_.empty() || !KitName(firstFailure_))) {
        summary_.stoppedBy =
            lastScriptFailure_ + (firstFailure_.empty() ? "" : " (in the script run by " + firstFailure_ + ")");
      }
      if (firstFailure_ == "LaunchConditions") {
        summary_.stopDetails = launchTexts_;
        for (const char* name : {"RASXX_NOT_SUPPORTOS", "RASXX_RUNNING"}) {
          auto found = dump_.find(name);
          if (found != dump_.end() && !found->second.empty())
            summary_.stopDetails.push_back(std::string(name) + " = " + found->second);
        }
      }
    }
    for (auto& action : summary_.actions) {
      for (auto& run : action.runs) {
        if (!run.returnValue.empty()) run.returnValue += " (" + Meaning(run.returnValue, summary_.wine) + ")";
      }
      // Wine logs no property changes: the kit's result properties and the
      // data of a deferred action are read from the property dump.
      auto found = dump_.find(action.name);
      if (found != dump_.end() && !action.runs.empty() && action.runs.back().customData.empty()) {
        action.runs.back().customData = found->second;
      }
      if (sawChanges_) continue;
      const char* result = action.name == "Tovrin_IsSupportOS"    ? "RASXX_NOT_SUPPORTOS"
                           : action.name == "Tovrin_CheckRasExec" ? "RASXX_RUNNING"
                                                                  : nullptr;
      if (!result) continue;
      auto value = dump_.find(result);
      if (value != dump_.end() && !value->second.empty()) {
        action.properties.push_back(std::string(result) + " = " + value->second + " (property list at the end)");
      }
    }
  }

  Summary summary_;
  std::map<std::string, std::size_t> index_;
  std::map<std::string, std::string> openStart_;
  std::vector<Open> open_;
  std::string script_;
  std::map<std::string, std::string> dump_;
  std::map<std::string, bool> dumpServer_;
  std::vector<std::string> launchTexts_;
  std::string installResult_, engineResult_, firstFailure_, lastFailure_, lastScriptFailure_;
  bool sawActions_ = false, sawEngine_ = false, sawChanges_ = false;
  std::size_t lineNumber_ = 0, lastFailureLine_ = 0;
};

}  // namespace

std::vector<std::string> DecodeLog(const std::string& bytes) {
  std::string text;
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    text = Utf16LeToUtf8(bytes, 2);
  } else if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    text = bytes.substr(3);
  } else if (LooksUtf16Le(bytes)) {
    text = Utf16LeToUtf8(bytes, 0);
  } else {
    text = bytes;
  }
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

Summary Summarise(const std::vector<std::string>& lines) { return Reader().Read(lines); }

std::string Format(const Summary& summary) {
  std::ostringstream out;
  out << "log: " << (summary.wine ? "Wine" : "Windows") << "\n";
  out << "setup: " << summary.outcome;
  if (summary.failed) out << ", stopped by " << (summary.stoppedBy.empty() ? "an unknown step" : summary.stoppedBy);
  out << "\n";
  for (const auto& detail : summary.stopDetails) out << "  " << detail << "\n";
  if (summary.actions.empty()) out << "no kit action ran\n";
  for (const auto& action : summary.actions) {
    out << action.name << "\n";
    // Where Windows runs an action from the script, its place in the
    // sequence only schedules it.
    bool fromScript = false;
    for (const auto& run : action.runs) fromScript = fromScript || run.deferred;
    for (const auto& run : action.runs) {
      const std::string start = run.start.empty() ? "?" : run.start;
      if (run.deferred) {
        out << "  run from the script";
        if (!run.start.empty()) out << ", started " << run.start;
        if (!run.end.empty()) out << ", ended " << run.end;
      } else if (fromScript) {
        out << "  scheduled " << start;
      } else {
        out << "  started " << start;
        if (!run.end.empty()) out << ", ended " << run.end;
      }
      if (!run.returnValue.empty()) out << ", return value " << run.returnValue;
      if (!run.returnedCode.empty()) out << ", returned " << run.returnedCode;
      if (run.end.empty() && run.returnValue.empty() && !run.deferred) out << ", no end logged";
      out << "\n";
      if (!run.customData.empty()) out << "  data: " << run.customData << "\n";
    }
    for (const auto& problem : action.problems) out << "  " << problem << "\n";
    for (const auto& property : action.properties) out << "  set " << property << "\n";
  }
  return out.str();
}

}  // namespace msilog
