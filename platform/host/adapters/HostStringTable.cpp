// String tables on the host: the entries generated from the module's
// resource script, chosen by the machine's ui_language the way Windows
// falls back: the language itself, then its primary language, then
// English (United States), then whatever the module has.
#include "platform/LastError.h"
#include "platform/StringTable.h"
#include "platform/host/machine/Machine.h"

namespace platform {

namespace {

constexpr LANGID kEnglishUs = 0x0409;

class HostStringTable : public StringTable {
 public:
  int LoadText(const StringTableRef& table, UINT id, std::wstring* text) override {
    const host::Machine* machine = host::Machine::Current();
    LANGID wanted = static_cast<LANGID>(machine ? machine->Config().uiLanguage : kEnglishUs);
    const StringTableEntry* best = nullptr;
    int bestRank = 0;
    for (size_t i = 0; i < table.count; ++i) {
      const StringTableEntry& e = table.entries[i];
      if (e.id != id) continue;
      int rank = e.language == wanted                       ? 4
                 : (e.language & 0x3FF) == (wanted & 0x3FF) ? 3
                 : e.language == kEnglishUs                 ? 2
                                                            : 1;
      if (rank > bestRank) {
        best = &e;
        bestRank = rank;
      }
    }
    if (!best) {
      SetLastErrorCode(ERROR_RESOURCE_NAME_NOT_FOUND);
      return 0;
    }
    text->assign(best->text);
    return static_cast<int>(text->size());
  }
};

}  // namespace

StringTable& StringTable::Default() {
  static HostStringTable table;
  return table;
}

}  // namespace platform
