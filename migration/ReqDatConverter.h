// Re-binds the PC environment key file from the old machine key to the new
// one: req.dat is decrypted with the old key, its [Key] Value is signed and
// encrypted with the new key into req.dat.new beside it. req.dat itself is
// never changed here.
#pragma once

#include <string>

class ReqDatConverter {
 public:
  // path: the full path of req.dat. True only when req.dat.new has been
  // written completely; false with the cause in the thread's RasError.
  static bool Convert(const std::wstring& path);
};
