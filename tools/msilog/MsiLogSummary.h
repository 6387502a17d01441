// What velk-msilog reads from a verbose Windows Installer log: per action of
// the kit its runs (sequence, start, end, result), a verdict, the lines of
// its custom actions that decide an outcome (Info) or report a problem
// (Error, Warning: those of a known harmless situation marked expected,
// with the reason), the properties it set, and, for a failed setup, what
// stopped it. The log is read as a stream; what is kept is bounded by the
// summary's own limits, not by the log.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace msilog {

// A list of at most kMax texts; what does not fit is counted.
struct Lines {
  static constexpr std::size_t kMax = 32;
  std::vector<std::string> texts;
  std::size_t dropped = 0;
  void Add(std::string text);
  bool empty() const { return texts.empty() && dropped == 0; }
};

struct ActionRun {
  std::string sequence;      // "UI sequence", "execute sequence", or empty where the log does not say
  std::string start;         // time of the action's start, or empty
  std::string end;           // time of its end, or empty (still open, or run from the script)
  std::string returnValue;   // "Return value" of its end, or empty
  std::string customData;    // CustomActionData of a deferred run, as Windows logs it
  std::string returnedCode;  // "returned actual error code" (Windows)
  bool deferred = false;     // run from the installation script
  bool rollback = false;     // run while the installer rolled the setup back
};

struct KitAction {
  std::string name;
  std::string kind;  // "deferred", "rollback", "commit", or empty (immediate or unknown)
  std::vector<ActionRun> runs;
  std::size_t droppedRuns = 0;
  Lines problems;    // E and W lines of the custom-action log, and error messages
  Lines expected;    // E and W lines of a known harmless situation: "line (reason)"
  Lines info;        // Info lines that decide the outcome
  Lines properties;  // "NAME = value" set while it ran
  bool ran = false;  // its code ran: it logged, or the script ran it
  std::string verdict;
};

struct Summary {
  bool recognised = false;  // the text is an installer log (it has action lines)
  bool wine = false;        // written by Wine (no "MSI (" engine lines)
  bool failed = false;
  bool known = false;                    // the log tells how the setup ended
  std::string outcome;                   // "succeeded", "failed", or "unknown (...)"
  std::string stoppedBy;                 // the action that stopped a failed setup
  std::vector<std::string> stopDetails;  // why: the launch condition's text or the deciding property
  std::vector<KitAction> actions;        // in the order of their first start
  bool moreActions = false;              // more kit actions than a summary holds
  std::size_t cutLines = 0;              // lines longer than the reader takes
};

// Reads a log's bytes in pieces of any size (see LogDecoder for the
// encodings) and summarises it at the end.
class LogReader {
 public:
  LogReader();
  ~LogReader();
  LogReader(const LogReader&) = delete;
  LogReader& operator=(const LogReader&) = delete;
  void Feed(const char* data, std::size_t size);
  Summary Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The whole log at once: its lines (UTF-8, or ANSI bytes unchanged).
std::vector<std::string> DecodeLog(const std::string& bytes);
Summary Summarise(const std::vector<std::string>& lines);

// The summary as velk-msilog prints it.
std::string Format(const Summary& summary);

}  // namespace msilog
