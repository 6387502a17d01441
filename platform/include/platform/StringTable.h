// String tables: a module's texts in several languages, loaded in the
// user-interface language.
//
// A module writes its texts once, in its resource script: a UTF-8 .rc file
// with "#pragma code_page(65001)" and one STRINGTABLE block per LANGUAGE
// statement, every id in every language. In CMake,
//
//   velk_string_table(TARGET <code> [MODULE <dll or exe>] RC <file.rc> SYMBOL <name>)
//
// (cmake/VelkStringTable.cmake) compiles the script into the Windows module
// with windres, turns the same script into an in-memory table for the host
// build (tools/rc-strings), and in both builds defines
// `extern const platform::StringTableRef <name>;` for the code of <code>.
// The code then calls Use<StringTable>().LoadText(<name>, id, &text). The
// migration program does the same with its own script and symbol.
#pragma once

#include <cstddef>
#include <string>

#include "platform/Port.h"
#include "platform/WinTypes.h"

namespace platform {

struct StringTableEntry {
  UINT id;
  LANGID language;
  const wchar_t* text;
};

struct StringTableRef {
  // An address inside the module whose resources hold the table (Windows).
  const void* anchor;
  // The same texts as data (host build); null on Windows.
  const StringTableEntry* entries;
  size_t count;
};

class StringTable {
 public:
  virtual ~StringTable() = default;
  // LoadStringW of the table's module with a language-neutral request: the
  // text of string `id` in the user-interface language (or the nearest one
  // the module has), and its length; 0 with the last error when the module
  // has no such string.
  virtual int LoadText(const StringTableRef& table, UINT id, std::wstring* text) = 0;

  VELK_PORT(StringTable);
};

}  // namespace platform
