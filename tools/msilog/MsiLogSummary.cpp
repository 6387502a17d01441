#include "MsiLogSummary.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <sstream>
#include <string_view>
#include <unordered_map>

#include "ActionLine.h"
#include "KitLines.h"
#include "LogDecoder.h"

namespace msilog {
namespace {

// Limits of what a summary holds, whatever the log holds.
constexpr std::size_t kMaxActions = 64;
constexpr std::size_t kMaxRuns = 16;
constexpr std::size_t kMaxOpen = 64;  // actions open at once (real logs nest four deep)
constexpr std::size_t kMaxDump = 64;
constexpr std::size_t kMaxLaunchTexts = 8;

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// "MSI (s) (7C:48) [10:22:33:456]: text" -> "text"; side 'c' (the client,
// which runs the UI sequence) or 's' (the server: execute sequence, script).
std::string_view EngineText(std::string_view line, bool& engine, char& side) {
  engine = false;
  if (!StartsWith(line, "MSI (")) return line;
  const auto colon = line.find("]: ");
  if (colon == std::string_view::npos) return line;
  engine = true;
  side = line.size() > 5 ? line[5] : '?';
  return line.substr(colon + 3);
}

// The value between "Key=" and the next "," (or the closing parenthesis).
std::string OpField(std::string_view op, const std::string& key, bool last) {
  const auto at = op.find(key + "=");
  if (at == std::string_view::npos) return {};
  const auto from = at + key.size() + 1;
  const auto to = last ? op.rfind(')') : op.find(',', from);
  return std::string(op.substr(from, to == std::string_view::npos || to < from ? std::string_view::npos : to - from));
}

// The kit's actions that run from the script, by the reference package's
// names; a package of its own is read from the script's ops (Windows).
std::string KindByName(const std::string& name) {
  auto ends = [&](std::string_view tail) {
    return name.size() >= tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
  };
  if (ends("Rollback")) return "rollback";
  if (ends("Commit")) return "commit";
  for (const char* deferred : {"Tovrin_InstallDevice", "Tovrin_UninstallDevice", "Tovrin_RemoveRakAll",
                               "Tovrin_RemoveSparkleReg", "Tovrin_ConnectDefMigration"}) {
    if (name == deferred) return "deferred";
  }
  return {};
}

std::string KindByType(const std::string& type) {
  const long value = std::strtol(type.c_str(), nullptr, 10);
  if (value & 0x100) return "rollback";
  if (value & 0x200) return "commit";
  return "deferred";
}

}  // namespace

void Lines::Add(std::string text) {
  if (texts.size() < kMax) {
    texts.push_back(Shorten(std::move(text)));
  } else {
    ++dropped;
  }
}

struct LogReader::State {
  // Actions stay where they are: the open ones are pointed at.
  State() : decoder([this](std::string_view line) { Line(line); }) { summary_.actions.reserve(kMaxActions); }

  struct Open {
    std::string name;
    KitAction* action;    // the kit's action, or null for other actions
    std::size_t run;      // index into the action's runs, or npos
    std::string time;     // when it started
    std::size_t started;  // number of the line that started it
  };

  KitAction& Action(const std::string& name) {
    auto found = index_.find(name);
    if (found != index_.end()) return summary_.actions[found->second];
    if (summary_.actions.size() >= kMaxActions) {
      // What the summary has no room for goes here (bounded like any action).
      summary_.moreActions = true;
      return overflow_;
    }
    index_[name] = summary_.actions.size();
    summary_.actions.push_back(KitAction{});
    summary_.actions.back().name = name;
    summary_.actions.back().kind = KindByName(name);
    return summary_.actions.back();
  }
  KitAction* Known(const std::string& name) {
    auto found = index_.find(name);
    return found == index_.end() ? nullptr : &summary_.actions[found->second];
  }
  // Index of the new run, or npos when the action holds as many as it keeps.
  static std::size_t AddRun(KitAction& action, ActionRun run) {
    if (action.runs.size() >= kMaxRuns) {
      ++action.droppedRuns;
      return std::string::npos;
    }
    action.runs.push_back(std::move(run));
    return action.runs.size() - 1;
  }
  static bool KitName(const std::string& name) { return StartsWith(name, "Tovrin_"); }

  // Where a line of the custom-action log belongs: the action run from the
  // script, else the innermost action that is open.
  KitAction* Context(bool adopt) {
    if (!script_.empty()) return &Action(script_);
    if (open_.empty()) return nullptr;
    Open& open = open_.back();
    if (!open.action) open.action = Known(open.name);
    if (!open.action) {
      if (!adopt) return nullptr;
      KitAction& action = Action(open.name);
      ActionRun run;
      run.start = open.time;
      open.action = &action;
      open.run = AddRun(action, run);
    }
    return open.action;
  }

  void Line(std::string_view raw) {
    if (raw.size() >= LogDecoder::kMaxLine - 4) ++summary_.cutLines;
    std::string_view line = raw;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' ')) line.remove_suffix(1);
    if (line.empty()) return;
    ++lineNumber_;
    bool engine = false;
    char side = '?';
    const std::string_view text = EngineText(line, engine, side);
    if (engine) {
      sawEngine_ = true;
      return EngineLine(text, side);
    }
    // The kit's lines first: most lines of a log are, and none has an
    // action line's shape.
    if (StartsWith(line, "1: ")) return KitLine(line.substr(3));
    // The shape is read before trailing spaces go: a start ends at its
    // full stop, a description line with an empty text keeps a space.
    std::string_view shaped = raw;
    while (!shaped.empty() && shaped.back() == '\r') shaped.remove_suffix(1);
    ActionLine action;
    if (ParseActionLine(shaped, action)) {
      if (action.kind == ActionLine::kStart && AcceptStart(action)) return Start(action);
      if (action.kind == ActionLine::kEnd && AcceptEnd(action)) return Ended(action);
      return;  // the description line
    }
    if (const std::size_t name = DumpName(line)) return Dump(line, name);
    if (StartsWith(line, "CustomAction ") && line.find(" returned actual error code ") != std::string_view::npos) {
      return Returned(line.substr(13));
    }
    Other(line);
  }

  void EngineLine(std::string_view text, char side) {
    if (StartsWith(text, "Doing action: ")) {
      doing_ = std::string(text.substr(14));
      doingSide_ = side;
    } else if (StartsWith(text, "Executing op: CustomActionSchedule(")) {
      Scheduled(text);
    } else if (StartsWith(text, "Executing op: CustomActionRollback(") ||
               StartsWith(text, "Executing op: CustomActionCommit(")) {
      // Written into the script: it runs only if the setup fails (rollback)
      // or succeeds (commit).
      script_.clear();
      const std::string name = OpField(text, "Action", false);
      if (!name.empty())
        Action(name).kind = StartsWith(text.substr(14), "CustomActionRollback") ? "rollback" : "commit";
    } else if (StartsWith(text, "Executing op: ")) {
      script_.clear();
      if (StartsWith(text, "Executing op: ActionStart(Name=Rollback,")) rollingBack_ = true;
    } else if (StartsWith(text, "PROPERTY CHANGE: ")) {
      Change(text.substr(17));
    } else if (StartsWith(text, "Note: 1: ")) {
      const std::string_view rest = text.substr(9);
      note_ = std::string(rest.substr(0, rest.find(' ')));
    } else if (StartsWith(text, "Back from server. Return value: ")) {
      serverResult_ = std::string(text.substr(32));
    } else if (StartsWith(text, "MainEngineThread is returning ")) {
      engineResult_ = std::string(text.substr(30));
    } else if (StartsWith(text, "CustomAction ") &&
               text.find(" returned actual error code ") != std::string_view::npos) {
      Returned(text.substr(13));
    } else if (InOpen("LaunchConditions") && StartsWith(text, "Product: ")) {
      const auto product = text.find(" -- ");
      if (product != std::string_view::npos && launchTexts_.size() < kMaxLaunchTexts)
        launchTexts_.push_back(Shorten(std::string(text.substr(product + 4))));
    }
  }

  bool InOpen(const char* name) const { return !open_.empty() && open_.back().name == name; }

  // The words of a start are learnt from the first start line: the one the
  // engine announced with "Doing action" where it writes that.
  bool AcceptStart(const ActionLine& line) {
    if (!startWords_.empty()) return line.words == startWords_;
    if (line.words == "Action ") return false;
    if (!doing_.empty() && line.name != doing_) return false;
    startWords_ = std::string(line.words);
    return true;
  }
  // Those of an end from the first end line of an action that is open.
  bool AcceptEnd(const ActionLine& line) {
    if (!endWords_.empty()) return line.words == endWords_;
    const bool open = std::any_of(open_.begin(), open_.end(), [&](const Open& o) { return o.name == line.name; });
    if (!open) return false;
    endWords_ = std::string(line.words);
    return true;
  }

  void Count(const std::string& name, int step) {
    if (name == "INSTALL") installDepth_ += step;
    if (name == "InstallFinalize") finalizeDepth_ += step;
    if (name == "ExecuteAction") executeDepth_ += step;
  }

  std::string Sequence(const std::string& name) {
    if (!doing_.empty()) {
      const bool announced = doing_ == name;
      doing_.clear();
      if (announced) return doingSide_ == 'c' ? "UI sequence" : "execute sequence";
      return {};
    }
    if (sawEngine_) return {};
    // Wine runs the execute sequence inside a second INSTALL.
    if (installDepth_ >= 2 || executeDepth_ > 0) return "execute sequence";
    if (installDepth_ == 1) return "UI sequence";
    return {};
  }

  void Start(const ActionLine& line) {
    const std::string name(line.name);
    const std::string time(line.time);
    sawActions_ = true;
    const std::string sequence = Sequence(name);
    Open open{name, nullptr, std::string::npos, time, lineNumber_};
    if (KitName(name)) {
      KitAction& action = Action(name);
      open.action = &action;
      ActionRun run;
      run.start = time;
      // Wine runs the script's actions inside InstallFinalize.
      run.deferred = finalizeDepth_ > 0;
      run.rollback = rollingBack_;
      if (!run.deferred) run.sequence = sequence;
      open.run = AddRun(action, run);
    }
    if (open_.size() >= kMaxOpen) return;  // a start that never ends, over and over
    Count(name, 1);
    open_.push_back(std::move(open));
  }

  void Ended(const ActionLine& line) {
    sawActions_ = true;
    const std::string name(line.name);
    const std::string time(line.time);
    const std::string result(line.value);
    if (script_ == name || name == "InstallFinalize") script_.clear();
    // Close up to the action named; an end without a start closes nothing.
    std::size_t started = lineNumber_;
    for (std::size_t i = open_.size(); i-- > 0;) {
      if (open_[i].name != name) continue;
      if (open_[i].action && open_[i].run != std::string::npos) {
        ActionRun& run = open_[i].action->runs[open_[i].run];
        run.end = time;
        run.returnValue = result;
      }
      started = open_[i].started;
      for (std::size_t j = i; j < open_.size(); ++j) Count(open_[j].name, -1);
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
  void Scheduled(std::string_view op) {
    const std::string name = OpField(op, "Action", false);
    if (name.empty()) return;
    KitAction& action = Action(name);
    const std::string type = OpField(op, "ActionType", false);
    if (!type.empty() && action.kind.empty()) action.kind = KindByType(type);
    ActionRun run;
    run.deferred = true;
    run.rollback = rollingBack_;
    run.customData = Shorten(OpField(op, "CustomActionData", true));
    AddRun(action, run);
    action.ran = true;
    script_ = name;
  }

  // "Tovrin_InstallDevice returned actual error code 1603 (note ...)".
  void Returned(std::string_view rest) {
    const auto at = rest.find(" returned actual error code ");
    const std::string name(rest.substr(0, at));
    std::string_view code = rest.substr(at + 28);
    code = code.substr(0, std::min(code.find_first_not_of("0123456789"), code.size()));
    KitAction* action = Known(name);
    if (!action || action->runs.empty()) return;
    action->runs.back().returnedCode = std::string(code);
    if (code != "0" && action->runs.back().deferred) lastScriptFailure_ = name;
  }

  void KitLine(std::string_view text) {
    char level = 0;
    const bool prefixed = KitPrefix(text, level);
    // The installer's own one-field messages outside the kit's actions are
    // not the kit's; inside them every line is (banners of its own too).
    KitAction* action = Context(prefixed || IsBanner(text));
    if (!action) return;
    action->ran = true;
    if (!prefixed) return;
    const std::string message(text.substr(kKitPrefixLength));
    if (level == 'I') {
      std::string gloss;
      if (DecidingInfo(message, gloss)) action->info.Add("I " + message + (gloss.empty() ? "" : " (" + gloss + ")"));
      return;
    }
    if (level != 'E' && level != 'W') return;
    const std::string line = std::string(1, level) + " " + message;
    std::string reason;
    const std::string data = action->runs.empty() ? std::string() : action->runs.back().customData;
    if (ExpectedLine(action->name, level, message, dump_.count(action->name) ? dump_[action->name] : data, lePath_,
                     reason)) {
      action->expected.Add(line + " (" + reason + ")");
    } else {
      action->problems.Add(line);
    }
  }

  // The property list at the end: "Property(S): NAME = value" in English,
  // "Eigenschaft(S): " in German: one word, the side, a colon. Where the
  // name begins, or 0.
  static std::size_t DumpName(std::string_view line) {
    const auto side = line.find("): ");
    if (side == std::string_view::npos || side < 3 || side > 40 || line[side - 2] != '(') return 0;
    if (line[side - 1] != 'S' && line[side - 1] != 'C') return 0;
    if (line.substr(0, side).find(' ') != std::string_view::npos) return 0;
    return side + 3;
  }

  void Dump(std::string_view line, std::size_t at) {
    const bool server = line[at - 4] == 'S';
    const auto eq = line.find(" = ", at);
    if (eq == std::string_view::npos) return;
    const std::string name(line.substr(at, eq - at));
    // Only what the summary reads: the kit's results and its actions' data.
    if (!StartsWith(name, "RASXX_") && !KitName(name)) return;
    auto found = dump_.find(name);
    if (found == dump_.end() && dump_.size() >= kMaxDump) return;
    if (server || found == dump_.end() || !dumpServer_[name]) {
      dump_[name] = Shorten(std::string(line.substr(eq + 3)));
      dumpServer_[name] = server;
    }
  }

  // "Adding NAME property. Its value is 'V'." / "Modifying NAME property.
  // Its current value is 'A'. Its new value: 'B'." / "Deleting NAME property. ..."
  void Change(std::string_view change) {
    sawChanges_ = true;
    KitAction* action = Context(false);
    if (!action) return;
    const auto space = change.find(' ');
    const auto end = change.find(" property.");
    if (space == std::string_view::npos || end == std::string_view::npos || end < space) return;
    const std::string_view verb = change.substr(0, space);
    const std::string name(change.substr(space + 1, end - space - 1));
    if (verb == "Deleting") return action->properties.Add(name + " deleted");
    const std::string_view marker = verb == "Modifying" ? "Its new value: '" : "Its value is '";
    std::string_view value;
    const auto at = change.find(marker);
    if (at != std::string_view::npos) {
      value = change.substr(at + marker.size());
      const auto close = value.rfind("'.");
      if (close != std::string_view::npos) value = value.substr(0, close);
    }
    action->properties.Add(name + " = " + std::string(value));
  }

  // Error messages inside a kit action (Windows: the line after the
  // engine's "Note: 1: N", "Error N. ..." in English; Wine: the bare text)
  // and the texts of the launch conditions (Wine).
  void Other(std::string_view line) {
    const std::string note = std::move(note_);
    note_.clear();
    if (InOpen("LaunchConditions")) {
      if (!sawEngine_ && launchTexts_.size() < kMaxLaunchTexts) launchTexts_.push_back(Shorten(std::string(line)));
      return;
    }
    KitAction* action = Context(false);
    if (!action) return;
    if (!sawEngine_ || StartsWith(line, "Error ") || (!note.empty() && HasNumber(line, note))) {
      action->problems.Add("message: " + std::string(line));
    }
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

  Summary Finish();

  void Verdict(KitAction& action) const;

  LogDecoder decoder;
  Summary summary_;
  KitAction overflow_;
  std::unordered_map<std::string, std::size_t> index_;
  std::vector<Open> open_;
  int installDepth_ = 0, finalizeDepth_ = 0, executeDepth_ = 0;
  std::string script_;
  std::string startWords_, endWords_;
  std::string doing_;
  char doingSide_ = '?';
  std::string note_;
  std::string lePath_;
  std::map<std::string, std::string> dump_;
  std::map<std::string, bool> dumpServer_;
  std::vector<std::string> launchTexts_;
  std::string installResult_, engineResult_, serverResult_, firstFailure_, lastFailure_, lastScriptFailure_;
  bool sawActions_ = false, sawEngine_ = false, sawChanges_ = false, rollingBack_ = false;
  std::size_t lineNumber_ = 0, lastFailureLine_ = 0;
};

void LogReader::State::Verdict(KitAction& action) const {
  bool fromScript = false, failed = false, open = false, inRollback = false;
  for (const auto& run : action.runs) {
    fromScript = fromScript || run.deferred;
    inRollback = inRollback || run.rollback;
    const std::string value = run.returnValue.substr(0, run.returnValue.find(' '));
    failed = failed || Failure(value) || (!run.returnedCode.empty() && run.returnedCode != "0");
    open = open || (run.end.empty() && run.returnValue.empty() && !run.deferred);
  }
  const bool stopped =
      summary_.failed && StartsWith(summary_.stoppedBy, action.name) &&
      (summary_.stoppedBy.size() == action.name.size() || summary_.stoppedBy[action.name.size()] == ' ');
  const std::size_t problems = action.problems.texts.size() + action.problems.dropped;
  if (!action.kind.empty() && !action.ran) {
    if (action.kind == "rollback") {
      action.verdict = "rollback action: scheduled only, did not run (nothing was rolled back)";
    } else if (action.kind == "commit") {
      action.verdict = "commit action: scheduled only, did not run";
    } else {
      action.verdict = "deferred action: scheduled only, did not run (the setup stopped before its script)";
    }
    if (failed) action.verdict = "failed while being scheduled";
    return;
  }
  std::string what;
  if (action.kind == "rollback" || inRollback) what = "ran in the rollback: ";
  if (action.kind == "commit") what = "commit action ran: ";
  if (stopped) {
    action.verdict = what + "failed, and stopped the setup";
  } else if (failed) {
    action.verdict = what + "failed (the setup went on)";
  } else if (open) {
    action.verdict = what + "unknown (the log ends before it does)";
  } else if (problems > 0) {
    action.verdict = what + "succeeded, with " + std::to_string(problems) + " line" + (problems == 1 ? "" : "s") +
                     " below to look at";
  } else if (!action.expected.empty()) {
    action.verdict = what + "succeeded (the lines below are expected)";
  } else {
    action.verdict = what + "succeeded";
  }
}

Summary LogReader::State::Finish() {
  decoder.Finish();
  summary_.recognised = sawActions_;
  summary_.wine = Wine();
  const bool engineFailed =
      !engineResult_.empty() && engineResult_ != "0" && engineResult_ != "3010" && engineResult_ != "1641";
  summary_.known = true;
  if (!installResult_.empty()) {
    summary_.failed = Failure(installResult_) || engineFailed;
  } else if (!engineResult_.empty()) {
    summary_.failed = engineFailed;
  } else if (!serverResult_.empty()) {
    summary_.failed = serverResult_ != "1";
  } else {
    summary_.failed = !firstFailure_.empty();
    summary_.known = summary_.failed;
  }
  summary_.outcome = summary_.failed  ? "failed"
                     : summary_.known ? "succeeded"
                                      : "unknown (the log ends before the installation does)";
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
    // Wine logs no property changes: the kit's result properties and the
    // data of a deferred action are read from the property dump.
    auto found = dump_.find(action.name);
    if (found != dump_.end() && !action.runs.empty() && action.runs.back().customData.empty()) {
      action.runs.back().customData = found->second;
    }
    Verdict(action);
    for (auto& run : action.runs) {
      if (!run.returnValue.empty()) run.returnValue += " (" + Meaning(run.returnValue, summary_.wine) + ")";
    }
    if (sawChanges_) continue;
    const char* result = action.name == "Tovrin_IsSupportOS"    ? "RASXX_NOT_SUPPORTOS"
                         : action.name == "Tovrin_CheckRasExec" ? "RASXX_RUNNING"
                                                                : nullptr;
    if (!result) continue;
    auto value = dump_.find(result);
    if (value != dump_.end() && !value->second.empty()) {
      action.properties.Add(std::string(result) + " = " + value->second + " (property list at the end)");
    }
  }
  return std::move(summary_);
}

LogReader::LogReader() : state_(std::make_unique<State>()) {}
LogReader::~LogReader() = default;
void LogReader::Feed(const char* data, std::size_t size) { state_->decoder.Feed(data, size); }
Summary LogReader::Finish() { return state_->Finish(); }

std::vector<std::string> DecodeLog(const std::string& bytes) {
  std::vector<std::string> lines;
  LogDecoder decoder([&](std::string_view line) { lines.emplace_back(line); });
  decoder.Feed(bytes.data(), bytes.size());
  decoder.Finish();
  return lines;
}

Summary Summarise(const std::vector<std::string>& lines) {
  LogReader reader;
  for (const auto& line : lines) {
    reader.Feed(line.data(), line.size());
    reader.Feed("\n", 1);
  }
  return reader.Finish();
}

namespace {

void Put(std::ostringstream& out, const Lines& lines, const char* lead) {
  for (const auto& text : lines.texts) out << "  " << lead << text << "\n";
  if (lines.dropped > 0) out << "  " << lead << "(" << lines.dropped << " more not shown)\n";
}

}  // namespace

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
    out << "  verdict: " << action.verdict << "\n";
    // Where Windows runs an action from the script, its place in the
    // sequence only schedules it.
    bool fromScript = false;
    for (const auto& run : action.runs) fromScript = fromScript || run.deferred;
    for (const auto& run : action.runs) {
      const std::string start = run.start.empty() ? "?" : run.start;
      const std::string sequence = run.sequence.empty() ? "" : " (" + run.sequence + ")";
      if (run.deferred) {
        out << (run.rollback ? "  run in the rollback" : "  run from the script");
        if (!run.start.empty()) out << ", started " << run.start;
        if (!run.end.empty()) out << ", ended " << run.end;
      } else if (fromScript || (!action.kind.empty() && !action.ran)) {
        out << "  scheduled " << start << sequence;
      } else {
        out << "  started " << start << sequence;
        if (!run.end.empty()) out << ", ended " << run.end;
      }
      if (!run.returnValue.empty()) out << ", return value " << run.returnValue;
      if (!run.returnedCode.empty()) out << ", returned " << run.returnedCode;
      if (run.end.empty() && run.returnValue.empty() && !run.deferred) out << ", no end logged";
      out << "\n";
      if (!run.customData.empty()) out << "  data: " << run.customData << "\n";
    }
    if (action.droppedRuns > 0) out << "  (" << action.droppedRuns << " more runs not shown)\n";
    Put(out, action.info, "");
    Put(out, action.problems, "");
    Put(out, action.expected, "expected: ");
    Put(out, action.properties, "set ");
  }
  if (summary.moreActions) out << "(more kit actions than shown)\n";
  if (summary.cutLines > 0) out << "(" << summary.cutLines << " overlong lines were cut)\n";
  return out.str();
}

}  // namespace msilog
