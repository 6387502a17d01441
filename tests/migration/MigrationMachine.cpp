#include "MigrationMachine.h"

#include <openssl/evp.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "MigratorApp.h"
#include "platform/LastError.h"

namespace fs = std::filesystem;

namespace velk_test {

namespace {

constexpr char kSalt[] = "Qm7rTx2LwPz9HkV4nYc0aJ+eSd6UgR3o";

std::string Cipher(const std::string& key, const std::string& in, bool encrypt, bool* padded) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  unsigned char iv[16] = {};
  EVP_CipherInit_ex(ctx, EVP_aes_256_cbc(), nullptr, reinterpret_cast<const unsigned char*>(key.data()), iv,
                    encrypt ? 1 : 0);
  std::string out(in.size() + 32, '\0');
  int n = 0, m = 0;
  EVP_CipherUpdate(ctx, reinterpret_cast<unsigned char*>(out.data()), &n,
                   reinterpret_cast<const unsigned char*>(in.data()), static_cast<int>(in.size()));
  int ok = EVP_CipherFinal_ex(ctx, reinterpret_cast<unsigned char*>(out.data()) + n, &m);
  if (padded) *padded = ok == 1;
  EVP_CIPHER_CTX_free(ctx);
  out.resize(static_cast<size_t>(n + (ok == 1 ? m : 0)));
  return out;
}

std::string Sha256(const std::string& bytes) {
  unsigned char digest[32];
  unsigned int n = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &n, EVP_sha256(), nullptr);
  return std::string(reinterpret_cast<char*>(digest), n);
}

}  // namespace

std::string SmbiosWithUuid() {
  std::string table;
  // Type 1, 27 bytes: manufacturer 1, product 2, version 0, serial 3, UUID.
  const unsigned char system[] = {1,    27,   1,    0,    1,    2,    0,    3,    0x00, 0x11, 0x22, 0x33, 0x44, 0x55,
                                  0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 6,    0,    0};
  table.append(reinterpret_cast<const char*>(system), sizeof system);
  table.append("ACME\0Box 9\0SN-42\0\0", 18);
  const unsigned char end[] = {127, 4, 2, 0, 0, 0};
  table.append(reinterpret_cast<const char*>(end), sizeof end);
  std::string raw = {0, 3, 0, 0};
  uint32_t n = static_cast<uint32_t>(table.size());
  for (int i = 0; i < 4; ++i) raw += static_cast<char>((n >> (8 * i)) & 0xFF);
  return raw + table;
}

std::string MachineKey(const std::string& identity) { return Sha256(identity + kSalt); }
std::string OldKey() { return MachineKey(std::string(kProductId, sizeof kProductId)); }
std::string NewKey() { return MachineKey(kSmbiosUuidText); }

std::string Encrypt(const std::string& key, const std::string& plaintext) {
  return Cipher(key, plaintext, true, nullptr);
}
std::string Decrypt(const std::string& key, const std::string& ciphertext, bool* padded) {
  return Cipher(key, ciphertext, false, padded);
}

std::string ConvertedPlaintext(const std::string& key, const std::string& value) {
  return "[Key]\r\nValue=" + value + "\r\nSign=" + Hex(Sha256(key + value)) + "\r\n";
}

BOOL RecordedStarts::Start(const wchar_t* application, wchar_t* commandLine, BOOL inherit, DWORD flags,
                           const platform::StartupRequest& startup, platform::StartedProcess* started) {
  starts.push_back({application ? application : L"<null>", commandLine, inherit, flags, startup});
  if (!result) {
    platform::SetLastErrorCode(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  uintptr_t n = starts.size();
  started->process = reinterpret_cast<HANDLE>(n * 2);
  started->thread = reinterpret_cast<HANDLE>(n * 2 + 1);
  return TRUE;
}

BOOL RecordedStarts::CloseProcessHandle(HANDLE handle) {
  uintptr_t h = reinterpret_cast<uintptr_t>(handle);
  closed.push_back((h % 2 ? "thread " : "process ") + std::to_string(h / 2));
  return TRUE;
}

UINT RecordedStarts::SystemFolder(wchar_t* buffer, UINT size) {
  return platform::ProcessStart::Default().SystemFolder(buffer, size);
}

UINT NoFirmware::GetTable(DWORD, DWORD, void*, DWORD) {
  ++calls;
  platform::SetLastErrorCode(ERROR_NOT_FOUND);
  return 0;
}

namespace {
bool IsStateFile(const wchar_t* path) {
  std::wstring p = path;
  return p.size() >= 14 && p.compare(p.size() - 14, 14, L"_completed_mig") == 0;
}
}  // namespace

BOOL WatchedFileSystem::RemoveFile(const wchar_t* p) {
  removals.push_back(p);
  if (failRemove) {
    platform::SetLastErrorCode(failRemove);
    return FALSE;
  }
  return real().RemoveFile(p);
}

BOOL WatchedFileSystem::CopyEntry(const wchar_t* f, const wchar_t* t, BOOL x) {
  copies.push_back(std::wstring(f) + L" -> " + t + (x ? L" (keep)" : L" (replace)"));
  if (failCopy) {
    platform::SetLastErrorCode(failCopy);
    return FALSE;
  }
  return real().CopyEntry(f, t, x);
}

BOOL WatchedFileSystem::ReplaceEntry(const wchar_t* f, const wchar_t* t) {
  copies.push_back(std::wstring(f) + L" -> " + t + L" (replace)");
  if (failCopy) {
    platform::SetLastErrorCode(failCopy);
    return FALSE;
  }
  return real().ReplaceEntry(f, t);
}

HANDLE WatchedFileSystem::OpenFile(const wchar_t* path, DWORD access, DWORD disposition) {
  return Watch(path, access, disposition, false);
}

HANDLE WatchedFileSystem::OpenOwnFile(const wchar_t* path, DWORD access, DWORD, DWORD disposition) {
  return Watch(path, access, disposition, true);
}

HANDLE WatchedFileSystem::Watch(const wchar_t* path, DWORD access, DWORD disposition, bool own) {
  if (IsStateFile(path) && failStateOpen) {
    platform::SetLastErrorCode(failStateOpen);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h = own ? real().OpenOwnFile(path, access, 0, disposition) : real().OpenFile(path, access, disposition);
  if (IsStateFile(path) && (access & GENERIC_WRITE) && h != INVALID_HANDLE_VALUE) {
    stateWrites.push_back(disposition == OPEN_EXISTING ? "O" : "C");
    stateFile_ = h;
  }
  return h;
}

BOOL WatchedFileSystem::WriteBytes(HANDLE f, const void* b, DWORD n, DWORD* d) {
  if (f == stateFile_ && !stateWrites.empty()) stateWrites.back().append(static_cast<const char*>(b), n);
  return real().WriteBytes(f, b, n, d);
}

// HKLM with the product ID and the user's profile at C:\Users\<profile>.
static std::string HklmText(const std::string& profile) {
  return "Windows Registry Editor Version 5.00\n\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\n"
         "\"ProductId\"=\"" +
         std::string(kProductId) +
         "\"\n\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-100-1001]\n"
         "\"ProfileImagePath\"=\"C:\\\\Users\\\\" +
         profile + "\"\n";
}

MigrationMachine::MigrationMachine(const std::string& uiLanguage, const std::string& acp)
    : machine("[machine]\nacp=" + acp + " ui_language=" + uiLanguage + "\nuser=S-1-5-21-100-1001\n"),
      useClock_(clock),
      useBoxes_(boxes),
      useStarts_(starts),
      useFiles_(files) {
  machine.Write("registry/HKLM.reg", HklmText("alice"));
  machine.Write("drive_c/Users/alice/NTUSER.DAT",
                "Windows Registry Editor Version 5.00\n\n"
                "[HKEY_CURRENT_USER\\Software\\Pellacor\\velk\\access]\n\"Server\"=\"old\"\n\n"
                "[HKEY_CURRENT_USER\\Software\\Pellacor\\velk\\accessEX]\n\n"
                "[HKEY_CURRENT_USER\\Software\\Pellacor\\velk\\other]\n");
  fs::create_directories(machine.Root() / "drive_c/Users/alice/AppData/Local");
  fs::create_directories(machine.Root() / "drive_c/Windows/System32");
  machine.Write("smbios.bin", SmbiosWithUuid());
  TempMachine::Reload();
  // The log rotates when the day of its file differs from today's.
  clock.unixTime = static_cast<int64_t>(std::time(nullptr));
}

std::string MigrationMachine::MoveProfile(const std::string& name) const {
  machine.Write("registry/HKLM.reg", HklmText(name));
  machine.Write("drive_c/Users/" + name + "/NTUSER.DAT",
                "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software]\n");
  std::string data = "drive_c/Users/" + name + "/AppData/Local/TESSMAR/velk/velk-access";
  fs::create_directories(machine.Root() / data);
  TempMachine::Reload();
  return data;
}

void MigrationMachine::MakeDataDirectory() const { fs::create_directories(machine.Root() / kDataDir); }

void MigrationMachine::WriteData(const std::string& name, const std::string& content) const {
  machine.Write(std::string(kDataDir) + "/" + name, content);
}

std::string MigrationMachine::ReadData(const std::string& name) const {
  return machine.Read(std::string(kDataDir) + "/" + name);
}

bool MigrationMachine::DataExists(const std::string& name) const {
  return fs::exists(machine.Root() / kDataDir / name);
}

void MigrationMachine::WriteOldBoundKeyFile(const std::string& value) const {
  WriteData("req.dat", Encrypt(OldKey(), "[Key]\r\nValue=" + value + "\r\nSign=0123\r\n"));
}

std::vector<std::string> MigrationMachine::LogLines() const {
  std::vector<std::string> lines;
  std::istringstream in(ReadData("velk-access-migration.log"));
  for (std::string line; std::getline(in, line);) lines.push_back(line.size() > 20 ? line.substr(20) : line);
  return lines;
}

int MigrationMachine::Run() const {
  CMigratorApp app;
  return AfxWinMain();
}

}  // namespace velk_test
