// Re-binds the PC environment key file from the old machine key to the new
// one: req.dat is decrypted with the old key, its [Key] Value is signed and
// encrypted with the new key into req.dat.new beside it. req.dat itself is
// never changed here.
#pragma once

#include <string>

class ReqDatConverter {
 public:
  // path: the full path of req.dat. True only when req.dat.new has been
  // written completely and is on the disk; false with the cause in the
  // thread's RasError.
  static bool Convert(const std::wstring& path);

  // True when req.dat at path is present but empty or not a whole number of
  // cipher blocks while req.dat.new beside it is a whole file of the new
  // binding whose signature matches: the state a run that ended while
  // copying over req.dat can leave. Reads no machine identity before both
  // files are found. Records nothing of its own.
  static bool ConvertedFileShouldReplace(const std::wstring& path);
};
