// What velk-msilog reads from a verbose Windows Installer log: per action of
// the kit its runs (start, end, result), the lines its custom actions logged
// at Error and Warning level, the properties it set, and, for a failed setup,
// what stopped it.
#pragma once

#include <string>
#include <vector>

namespace msilog {

// The log's bytes as UTF-8 lines without line ends: UTF-16LE (with or
// without its byte order mark, as Windows writes it), UTF-8 or ANSI text (as
// Wine writes it; ANSI bytes are passed through unchanged).
std::vector<std::string> DecodeLog(const std::string& bytes);

struct ActionRun {
  std::string start;         // time of "Action start", or empty
  std::string end;           // time of "Action ended", or empty (still open, or run from the script)
  std::string returnValue;   // "Return value" of "Action ended", or empty
  std::string customData;    // CustomActionData of a deferred run, as Windows logs it
  std::string returnedCode;  // "returned actual error code" (Windows)
  bool deferred = false;     // run from the installation script
};

struct KitAction {
  std::string name;
  std::vector<ActionRun> runs;
  std::vector<std::string> problems;    // E and W lines of the custom action log, and error messages
  std::vector<std::string> properties;  // "NAME = value" set while it ran
};

struct Summary {
  bool recognised = false;  // the text is an installer log (it has action lines)
  bool wine = false;        // written by Wine (no "MSI (" engine lines)
  bool failed = false;
  std::string outcome;                   // "succeeded", "failed", or "unknown (the log ends early)"
  std::string stoppedBy;                 // the action that stopped a failed setup
  std::vector<std::string> stopDetails;  // why: the launch condition's text or the deciding property
  std::vector<KitAction> actions;        // in the order of their first start
};

Summary Summarise(const std::vector<std::string>& lines);

// The summary as velk-msilog prints it.
std::string Format(const Summary& summary);

}  // namespace msilog
