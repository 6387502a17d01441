// A machine with one user (alice) for the migration program, the fakes its
// tests replace ports with, and independent peers for the key file format.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/Command.h"
#include "platform/FileSystem.h"
#include "platform/FirmwareTables.h"
#include "platform/Port.h"
#include "platform/ProcessStart.h"
#include "platform/UserDialog.h"
#include "support/FakeClock.h"
#include "support/TempMachine.h"

namespace velk_test {

constexpr char kProductId[] = "00330-80000-00000-AA947";
constexpr char kSmbiosUuidText[] = "33221100-5544-7766-8899-AABBCCDDEEFF";
constexpr char kDataDir[] = "drive_c/Users/alice/AppData/Local/TESSMAR/velk/velk-access";
constexpr wchar_t kDataDirW[] = L"C:\\Users\\alice\\AppData\\Local\\TESSMAR\\velk\\velk-access";

// Raw SMBIOS 3.0 data with one System Information structure whose UUID
// bytes are 00 11 .. FF (identity text kSmbiosUuidText).
std::string SmbiosWithUuid();

// SHA-256 of identity followed by the key salt; written here with OpenSSL
// directly, as a peer of the library.
std::string MachineKey(const std::string& identity);
std::string OldKey();  // product ID with its terminator
std::string NewKey();  // the SMBIOS UUID text
// AES-256-CBC, zero IV, PKCS#7.
std::string Encrypt(const std::string& key, const std::string& plaintext);
std::string Decrypt(const std::string& key, const std::string& ciphertext, bool* padded = nullptr);
// The plaintext the program writes for a key value under a key.
std::string ConvertedPlaintext(const std::string& key, const std::string& value);

class MessageBoxes : public platform::UserDialog {
 public:
  struct Shown {
    std::wstring text, caption;
    UINT type;
    bool nullCaption;
  };
  int ShowMessage(HWND, const wchar_t* text, const wchar_t* caption, UINT type) override {
    shown.push_back({text ? text : L"", caption ? caption : L"", type, caption == nullptr});
    return IDOK;
  }
  bool HasVisibleWindowStation() override { return true; }
  std::vector<Shown> shown;
};

// Records the processes it is asked to start; starts none.
class RecordedStarts : public platform::ProcessStart {
 public:
  struct Request {
    std::wstring application, commandLine;
    BOOL inherit;
    DWORD flags;
    platform::StartupRequest startup;
  };
  BOOL Start(const wchar_t* application, wchar_t* commandLine, BOOL inherit, DWORD flags,
             const platform::StartupRequest& startup, platform::StartedProcess* started) override;
  BOOL CloseProcessHandle(HANDLE handle) override;
  UINT SystemFolder(wchar_t* buffer, UINT size) override;

  std::vector<Request> starts;
  std::vector<std::string> closed;  // "thread <n>" / "process <n>"
  BOOL result = TRUE;
};

// Firmware without tables; counts the calls.
class NoFirmware : public platform::FirmwareTables {
 public:
  UINT GetTable(DWORD, DWORD, void*, DWORD) override;
  int calls = 0;
};

// The file system of the machine, with failures to order and a record of
// what happens to the completion state file ("C" create, "O" open for
// writing, then the byte written).
class WatchedFileSystem : public platform::FileSystem {
 public:
  HANDLE FindFirst(const wchar_t* p, platform::FindData* d) override { return real().FindFirst(p, d); }
  BOOL FindNext(HANDLE h, platform::FindData* d) override { return real().FindNext(h, d); }
  BOOL CloseFind(HANDLE h) override { return real().CloseFind(h); }
  DWORD GetAttributes(const wchar_t* p) override { return real().GetAttributes(p); }
  BOOL SetAttributes(const wchar_t* p, DWORD a) override { return real().SetAttributes(p, a); }
  BOOL RemoveFile(const wchar_t* p) override;
  BOOL RemoveFolder(const wchar_t* p) override { return real().RemoveFolder(p); }
  BOOL MakeFolder(const wchar_t* p) override { return real().MakeFolder(p); }
  BOOL MoveEntry(const wchar_t* f, const wchar_t* t) override { return real().MoveEntry(f, t); }
  BOOL CopyEntry(const wchar_t* f, const wchar_t* t, BOOL x) override;
  BOOL ReplaceEntry(const wchar_t* f, const wchar_t* t) override;
  BOOL PathExists(const wchar_t* p) override { return real().PathExists(p); }
  BOOL IsDirectory(const wchar_t* p) override { return real().IsDirectory(p); }
  BOOL IsSystemFolder(const wchar_t* p, DWORD a) override { return real().IsSystemFolder(p, a); }
  DWORD ExpandEnvironment(const wchar_t* s, wchar_t* o, DWORD n) override { return real().ExpandEnvironment(s, o, n); }
  HANDLE OpenFile(const wchar_t* path, DWORD access, DWORD disposition) override;
  HANDLE OpenOwnFile(const wchar_t* path, DWORD access, DWORD share, DWORD disposition) override;
  BOOL ReadBytes(HANDLE f, void* b, DWORD n, DWORD* d) override { return real().ReadBytes(f, b, n, d); }
  BOOL WriteBytes(HANDLE f, const void* b, DWORD n, DWORD* d) override;
  BOOL Seek(HANDLE f, LONGLONG d, DWORD m, ULONGLONG* p) override { return real().Seek(f, d, m, p); }
  BOOL FileSize(HANDLE f, ULONGLONG* s) override { return real().FileSize(f, s); }
  BOOL CloseFile(HANDLE f) override { return real().CloseFile(f); }

  std::vector<std::string> stateWrites;
  std::vector<std::wstring> copies, removals;  // copies and replacements: "from -> to (keep|replace)"
  DWORD failCopy = 0;                          // the error CopyEntry and ReplaceEntry fail with, 0 for none
  DWORD failRemove = 0;                        // the error RemoveFile fails with, 0 for none
  DWORD failStateOpen = 0;

 private:
  static platform::FileSystem& real() { return platform::FileSystem::Default(); }
  HANDLE Watch(const wchar_t* path, DWORD access, DWORD disposition, bool own);
  HANDLE stateFile_ = INVALID_HANDLE_VALUE;
};

// The machine: alice's profile and hive, the product ID, SMBIOS data, and
// the fakes (clock, message box, process start) in place.
class MigrationMachine {
 public:
  explicit MigrationMachine(const std::string& uiLanguage = "1033", const std::string& acp = "1252");

  TempMachine machine;
  FakeClock clock;
  MessageBoxes boxes;
  RecordedStarts starts;
  WatchedFileSystem files;

  // Moves the user's profile to C:\Users\<name> (UTF-8); returns the
  // data directory's folder below the machine root.
  std::string MoveProfile(const std::string& name) const;
  void MakeDataDirectory() const;
  void WriteData(const std::string& name, const std::string& content) const;
  std::string ReadData(const std::string& name) const;
  bool DataExists(const std::string& name) const;
  // Writes req.dat holding value, bound to the product ID.
  void WriteOldBoundKeyFile(const std::string& value) const;
  // The log's lines without their time prefix.
  std::vector<std::string> LogLines() const;
  // Constructs the application and runs it as the entry point does; the
  // exit code.
  int Run() const;

 private:
  platform::ScopedPort<platform::Clock> useClock_;
  platform::ScopedPort<platform::UserDialog> useBoxes_;
  platform::ScopedPort<platform::ProcessStart> useStarts_;
  platform::ScopedPort<platform::FileSystem> useFiles_;
};

}  // namespace velk_test
