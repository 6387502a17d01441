// Key material does not linger: every block the support library releases
// during a conversion is inspected as it goes, and the conversion's log
// lines, error records and messages are searched, on success and on every
// way the conversion can fail.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <unordered_set>

#include "MigrationMachine.h"
#include "ReqDatConverter.h"
#include "platform/FirmwareTables.h"
#include "velkras2/RasError.h"
#include "velkras2/RasUtil.h"

namespace velk_test {
namespace {

namespace fs = std::filesystem;

const std::wstring kKeyFile = std::wstring(kDataDirW) + L"\\req.dat";
const std::string kValue = "VALUE-7f3a91c2-do-not-keep-0d5e";

// The library's allocator for the test: each block carries its requested
// size in front, so that the bytes the library had are searched, exactly,
// just before they are released. It stays in place once installed (blocks
// may outlive a test, as the log object does); blocks from before it are
// told apart and freed as they were allocated.
struct Inspection {
  std::vector<std::string> secrets;  // what no released block may hold
  int released = 0;
  int holding = 0;    // released blocks that still held one of the secrets
  std::string first;  // which secret, for the message
};
Inspection* g_inspection = nullptr;

struct alignas(16) Header {
  size_t size;
};

std::unordered_set<void*>& Ours() {
  static auto* blocks = new std::unordered_set<void*>;
  return *blocks;
}

void Inspect(const void* block, size_t size) {
  if (!g_inspection) return;
  ++g_inspection->released;
  for (const std::string& secret : g_inspection->secrets) {
    if (size >= secret.size() && memmem(block, size, secret.data(), secret.size())) {
      if (g_inspection->holding++ == 0) g_inspection->first = Hex(secret);
      return;
    }
  }
}

void* Allocate(size_t size) {
  Header* h = static_cast<Header*>(std::malloc(sizeof(Header) + size));
  if (!h) return nullptr;
  h->size = size;
  Ours().insert(h + 1);
  return h + 1;
}

void Release(void* block) {
  if (!block) return;
  if (!Ours().erase(block)) return std::free(block);
  Header* h = static_cast<Header*>(block) - 1;
  Inspect(block, h->size);
  std::free(h);
}

// Moves, as realloc may: the old block is released (and inspected).
void* Reallocate(void* block, size_t size) {
  if (block && !Ours().count(block)) return std::realloc(block, size);
  void* moved = Allocate(size);
  if (moved && block) {
    std::memcpy(moved, block, std::min(size, (static_cast<Header*>(block) - 1)->size));
    Release(block);
  }
  return moved;
}

const RasUtil_Allocator kInspecting{Allocate, Reallocate, Release};

class ScopedInspection {
 public:
  explicit ScopedInspection(std::vector<std::string> secrets) {
    inspection_.secrets = std::move(secrets);
    static bool installed = (RasUtil_SetAllocator(&kInspecting), true);
    (void)installed;
    g_inspection = &inspection_;
  }
  ~ScopedInspection() { g_inspection = nullptr; }
  const Inspection& operator*() const { return inspection_; }
  const Inspection* operator->() const { return &inspection_; }

 private:
  Inspection inspection_;
};

class Secrets : public ::testing::Test {
 protected:
  Secrets() {
    m.MakeDataDirectory();
    RasGetLastError();  // the thread's record is made before inspection starts
  }
  std::vector<std::string> AllSecrets() const { return {kValue, OldKey(), NewKey()}; }
  std::string RecordText() const {
    const RasError* e = RasGetLastError();
    return std::string(e->message) + " @" + e->location;
  }
  MigrationMachine m;
};

TEST_F(Secrets, TheInspectionFindsAKeyValueReleasedUncleared) {
  ScopedInspection inspection({kValue});
  RasUtil_Free(strcpy_alloc(kValue.c_str()));
  EXPECT_EQ(inspection->holding, 1);
}

TEST_F(Secrets, NoReleasedBlockOfAConversionHoldsTheKeyValueOrAMachineKey) {
  // Each case prepares the machine, converts, and says whether the
  // conversion is to succeed.
  struct Case {
    const char* name;
    std::function<void(MigrationMachine&)> prepare;
    bool converts;
  };
  const Case cases[] = {
      {"converted", [](MigrationMachine&) {}, true},
      {"output cannot be created",
       [](MigrationMachine& m) { fs::create_directories(m.machine.Root() / kDataDir / "req.dat.new"); }, false},
      {"file bound to another key",
       [](MigrationMachine& m) { m.WriteData("req.dat", Encrypt(NewKey(), ConvertedPlaintext(NewKey(), kValue))); },
       false},
  };
  for (const Case& c : cases) {
    fs::remove_all(m.machine.Root() / kDataDir / "req.dat.new");
    m.WriteOldBoundKeyFile(kValue);
    c.prepare(m);
    ScopedInspection inspection(AllSecrets());
    EXPECT_EQ(ReqDatConverter::Convert(kKeyFile), c.converts) << c.name;
    EXPECT_GT(inspection->released, 5) << c.name;
    EXPECT_EQ(inspection->holding, 0) << c.name << ": " << inspection->first;
    if (!c.converts) {
      EXPECT_EQ(RecordText().find(kValue), std::string::npos) << c.name;
    }
  }
}

TEST_F(Secrets, NoReleasedBlockHoldsThemWhenAnyAllocationFails) {
  m.WriteOldBoundKeyFile(kValue);
  int succeeding = 0;
  for (; succeeding < 200; ++succeeding) {
    fs::remove(m.machine.Root() / kDataDir / "req.dat.new");
    ScopedInspection inspection(AllSecrets());
    RasUtil_FailAllocationsAfter(succeeding);
    bool converted = ReqDatConverter::Convert(kKeyFile);
    RasUtil_FailAllocationsAfter(-1);
    EXPECT_EQ(inspection->holding, 0) << succeeding << ": " << inspection->first;
    EXPECT_EQ(RecordText().find(kValue), std::string::npos) << succeeding;
    if (converted) break;
  }
  EXPECT_GT(succeeding, 5);
  EXPECT_LT(succeeding, 200) << "never succeeded";
}

TEST_F(Secrets, TheKeyValueIsInNoLogLineRecordOrMessage) {
  // The whole run, converting and failing to convert.
  const std::function<void(MigrationMachine&)> runs[] = {
      [](MigrationMachine&) {},
      [](MigrationMachine& m) { fs::create_directories(m.machine.Root() / kDataDir / "req.dat.new"); },
      [](MigrationMachine& m) { m.WriteData("req.dat", Encrypt(NewKey(), ConvertedPlaintext(NewKey(), kValue))); },
  };
  for (size_t i = 0; i < std::size(runs); ++i) {
    fs::remove_all(m.machine.Root() / kDataDir);
    m.MakeDataDirectory();
    m.WriteOldBoundKeyFile(kValue);
    runs[i](m);
    EXPECT_EQ(m.Run(), 0);
    std::vector<std::string> lines = m.LogLines();
    EXPECT_THAT(lines, ::testing::Contains("[info] Finish converting")) << i;
    if (i > 0) {
      EXPECT_THAT(lines, ::testing::Contains("[error] failed ReqDatConverter")) << i;
    }
    for (const std::string& line : lines) EXPECT_EQ(line.find(kValue), std::string::npos) << i << ": " << line;
    EXPECT_EQ(RecordText().find(kValue), std::string::npos) << i;
    for (const auto& box : m.boxes.shown)
      EXPECT_EQ(box.text.find(std::wstring(kValue.begin(), kValue.end())), std::wstring::npos) << i;
  }
}

}  // namespace
}  // namespace velk_test
