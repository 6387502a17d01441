// migration-adapters: runs the migration program's Windows adapters for
// real (known folder, files and the completion state over them, CopyFileW,
// MoveFileExW and disk-file reads for the key file, the run's mutex,
// hidden interpreters, registry deletion, message box, string table). It
// needs no OpenSSL, so it runs where the program itself cannot be linked.
//
//   migration-adapters.exe WORK_FOLDER [en|ja]
//
// Prints one "ok - ..." or "FAIL - ..." line per check, "info - ..." for
// facts worth knowing; the exit code is the number of failures. Started
// under the name cmd.exe it only leaves a marker file beside itself: that
// is how a planted interpreter in the program's folder would show.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "CompletionStateFile.h"
#include "LegacyData.h"
#include "MigrationStrings.h"
#include "Paths.h"
#include "framework/Exceptions.h"
#include "framework/File.h"
#include "platform/ByteStreams.h"
#include "platform/CodePages.h"
#include "platform/FileSystem.h"
#include "platform/NamedMutex.h"
#include "platform/Port.h"
#include "platform/ProcessStart.h"
#include "platform/Registry.h"
#include "platform/StringTable.h"
#include "platform/Token.h"
#include "platform/UserDialog.h"

namespace {

int g_failures = 0;

std::string Narrow(const std::wstring& w) {
  int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string s(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, s.data(), n, nullptr, nullptr);
  return s;
}

void Check(bool ok, const char* what) {
  std::printf("%s - %s\n", ok ? "ok" : "FAIL", what);
  if (!ok) ++g_failures;
}

std::wstring FolderOf(const wchar_t* path) {
  std::wstring p = path;
  return p.substr(0, p.find_last_of(L'\\'));
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadAll(const std::wstring& path) {
  std::string s;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<missing>";
  char buf[256];
  DWORD n = 0;
  while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) s.append(buf, n);
  CloseHandle(h);
  return s;
}

void WriteAll(const std::wstring& path, const std::string& content) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD n = 0;
  WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &n, nullptr);
  CloseHandle(h);
}

// The interpreters are not waited for by the program; here we give them
// ten seconds to finish.
bool GoneWithin(const std::wstring& path) {
  for (int i = 0; i < 100 && Exists(path); ++i) Sleep(100);
  return !Exists(path);
}

void CheckKnownFolder() {
  wchar_t folder[MAX_PATH] = {};
  wchar_t expected[MAX_PATH] = {};
  GetEnvironmentVariableW(L"LOCALAPPDATA", expected, MAX_PATH);
  Check(GetLocalAppDataFolder(folder) && folder[0] != L'\0', "the local application data folder resolves");
  Check(lstrcmpiW(folder, expected) == 0, "it is the user's LOCALAPPDATA");
  std::printf("info - local application data: %s\n", Narrow(folder).c_str());
}

void CheckCompletionState(const std::wstring& work) {
  std::wstring data = work + L"\\state";
  CreateDirectoryW(data.c_str(), nullptr);
  std::wstring file = data + L"\\_completed_mig";
  DeleteFileW(file.c_str());
  Check(ReadCompletionStateAt(data.c_str()) == 1, "an absent state file reads as 1");
  WriteCompletionStateAt(data.c_str(), 4);
  Check(Exists(file) && ReadAll(file).empty(), "writing 4 creates an empty file");
  Check(ReadCompletionStateAt(data.c_str()) == 0, "an empty state file reads as 0");
  WriteCompletionStateAt(data.c_str(), 2);
  Check(ReadAll(file) == "2" && ReadCompletionStateAt(data.c_str()) == 2, "writing 2 stores the byte 2");
  WriteAll(file, std::string("3\0", 2));
  Check(ReadCompletionStateAt(data.c_str()) == 3, "3 followed by a zero byte reads as 3");
  WriteAll(file, "abc");
  WriteCompletionStateAt(data.c_str(), 2);
  Check(ReadAll(file) == "2bc" && ReadCompletionStateAt(data.c_str()) == 1,
        "an existing file is not truncated: 2bc reads as 1");
  {
    CFile held;
    held.Open(file.c_str(), CFile::modeRead);
    HANDLE other =
        CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD error = GetLastError();
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    Check(other == INVALID_HANDLE_VALUE && error == ERROR_SHARING_VIOLATION,
          "the state file is opened without sharing");
  }
  DeleteFileW(file.c_str());
  CreateDirectoryW(file.c_str(), nullptr);
  bool thrown = false;
  try {
    ReadCompletionStateAt(data.c_str());
  } catch (CFileException* e) {
    thrown = e->m_lOsError == ERROR_ACCESS_DENIED && e->m_cause == CFileException::accessDenied;
    wchar_t text[512] = {};
    e->GetErrorMessage(text, 511);
    std::printf("info - %s\n", Narrow(text).c_str());
    e->Delete();
  }
  Check(thrown, "a directory named _completed_mig fails with access denied");
  RemoveDirectoryW(file.c_str());

  // A second name of another file is never written through: not by the
  // state file (FILE_FLAG_OPEN_REPARSE_POINT, GetFileInformationByHandle),
  // nor by the log's append (the byte streams' OpenOwn).
  std::wstring key = data + L"\\req.dat";
  WriteAll(key, "key bytes");
  Check(CreateHardLinkW(file.c_str(), key.c_str(), nullptr) != FALSE, "a hard link to req.dat is planted as the state");
  thrown = false;
  try {
    WriteCompletionStateAt(data.c_str(), 2);
  } catch (CFileException* e) {
    thrown = e->m_lOsError == ERROR_ACCESS_DENIED;
    e->Delete();
  }
  Check(thrown && ReadAll(key) == "key bytes", "the state is not written through it (5), req.dat keeps its bytes");
  FILE* log = platform::Use<platform::ByteStreams>().OpenOwn(Narrow(file).c_str(), "ab");
  DWORD error = GetLastError();
  if (log) platform::Use<platform::ByteStreams>().Close(log);
  Check(!log && error == ERROR_ACCESS_DENIED && ReadAll(key) == "key bytes", "nor is a log line appended to it (5)");
  DeleteFileW(file.c_str());
  WriteCompletionStateAt(data.c_str(), 2);
  Check(ReadAll(file) == "2" && ReadAll(key) == "key bytes", "a file of its own is written as before");
  DeleteFileW(file.c_str());
  DeleteFileW(key.c_str());
}

void CheckCopyAndDelete(const std::wstring& work) {
  platform::FileSystem& fs = platform::Use<platform::FileSystem>();
  std::wstring key = work + L"\\req.dat", converted = key + L".new";
  WriteAll(key, "old bytes");
  WriteAll(converted, "new bytes");
  Check(fs.CopyEntry(converted.c_str(), key.c_str(), FALSE) && ReadAll(key) == "new bytes",
        "CopyFileW replaces the key file");
  Check(fs.RemoveFile(converted.c_str()) && !Exists(converted), "DeleteFileW removes the converted file");
  WriteAll(converted, "newer bytes");
  SetFileAttributesW(key.c_str(), FILE_ATTRIBUTE_READONLY);
  bool refused = !fs.CopyEntry(converted.c_str(), key.c_str(), FALSE);
  DWORD error = GetLastError();
  // Windows refuses a read-only target with 5; Wine 8 replaces it.
  if (refused) {
    Check(error == ERROR_ACCESS_DENIED, "a read-only key file refuses the copy (5)");
    Check(ReadAll(key) == "new bytes", "and keeps its bytes");
  } else {
    std::printf("info - this system copies over a read-only target (Windows refuses it with 5)\n");
  }
  SetFileAttributesW(key.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(key.c_str());
  DeleteFileW(converted.c_str());
}

// The key file's replacement in one step, its reads of disk files only and
// the run's mutex.
void CheckReplaceAndStreams(const std::wstring& work) {
  platform::FileSystem& fs = platform::Use<platform::FileSystem>();
  platform::ByteStreams& streams = platform::Use<platform::ByteStreams>();
  std::wstring key = work + L"\\req.dat", converted = key + L".new";
  std::string keyA = Narrow(key), convertedA = Narrow(converted);
  WriteAll(key, "old bytes");
  FILE* out = streams.Open(convertedA.c_str(), "wb");
  bool written = out && streams.Write("new bytes", 9, out) == 9 && streams.Commit(out) == 0;
  if (out) written = streams.Close(out) == 0 && written;
  Check(written, "the converted file is written and committed (FlushFileBuffers)");
  Check(fs.ReplaceEntry(converted.c_str(), key.c_str()) && ReadAll(key) == "new bytes" && !Exists(converted),
        "MoveFileExW write-through replaces the key file and the converted file is gone");
  FILE* in = streams.OpenRegular(keyA.c_str());
  char buffer[16] = {};
  Check(in && streams.Read(buffer, sizeof buffer, in) == 9 && !streams.Error(in), "a disk file is read");
  if (in) streams.Close(in);
  FILE* device = streams.OpenRegular("NUL");
  DWORD error = GetLastError();
  Check(!device && error == ERROR_BAD_FILE_TYPE, "a device is refused (222)");
  if (device) streams.Close(device);
  WriteAll(converted, "newer bytes");
  SetFileAttributesW(key.c_str(), FILE_ATTRIBUTE_READONLY);
  bool refused = !fs.ReplaceEntry(converted.c_str(), key.c_str());
  error = GetLastError();
  if (refused)
    Check(error == ERROR_ACCESS_DENIED && ReadAll(key) == "new bytes", "a read-only key file refuses the move (5)");
  else
    std::printf("info - this system moves over a read-only target (Windows refuses it with 5)\n");
  SetFileAttributesW(key.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(key.c_str());
  DeleteFileW(converted.c_str());

  // req.dat.new is a new file even where a hard link to req.dat stands.
  WriteAll(key, "old bytes");
  DeleteFileW(converted.c_str());
  Check(CreateHardLinkW(converted.c_str(), key.c_str(), nullptr) != FALSE, "a hard link to the key file is planted");
  FILE* fresh = streams.CreateNew(convertedA.c_str());
  bool freshWritten = fresh && streams.Write("fresh", 5, fresh) == 5;
  if (fresh) freshWritten = streams.Close(fresh) == 0 && freshWritten;
  Check(freshWritten && ReadAll(converted) == "fresh" && ReadAll(key) == "old bytes",
        "the converted file replaces the link, the key file keeps its bytes (DeleteFileA, CREATE_NEW)");
  std::string folderA = Narrow(work + L"\\folder.new");
  CreateDirectoryW((work + L"\\folder.new").c_str(), nullptr);
  FILE* folderStream = streams.CreateNew(folderA.c_str());
  error = GetLastError();
  Check(!folderStream && error == ERROR_ACCESS_DENIED, "a folder at the converted file's name is refused (5)");
  if (folderStream) streams.Close(folderStream);
  RemoveDirectoryW((work + L"\\folder.new").c_str());
  Check(streams.Replace(convertedA.c_str(), keyA.c_str()) == 0 && ReadAll(key) == "fresh" && !Exists(converted),
        "a file is moved over another in one step (MoveFileExA)");
  DeleteFileW(key.c_str());

  std::wstring sid;
  Check(platform::Use<platform::Token>().CurrentUserSid(&sid) && sid.rfind(L"S-1-", 0) == 0,
        "the user's SID is read from the process token");
  std::printf("info - the run's mutex is Local\\TESSMAR.Velk.Migration.%s\n", Narrow(sid).c_str());
  const std::wstring runLock = L"Local\\TESSMAR.Velk.Migration." + sid;
  platform::NamedMutex& mutexes = platform::Use<platform::NamedMutex>();
  HANDLE first = mutexes.Create(runLock.c_str(), TRUE);
  Check(first && GetLastError() == ERROR_SUCCESS, "the run's mutex is made in the session namespace");
  HANDLE second = mutexes.Create(runLock.c_str(), TRUE);
  Check(second && GetLastError() == ERROR_ALREADY_EXISTS, "a second run finds it taken");
  if (second) mutexes.Close(second);
  if (first) mutexes.Close(first);
}

void CheckHiddenInterpreter(const std::wstring& work, const std::wstring& programFolder) {
  std::wstring marker = programFolder + L"\\planted-cmd-ran";
  DeleteFileW(marker.c_str());
  std::wstring target = work + L"\\velk-access\\keydata";
  CreateDirectoryW((work + L"\\velk-access").c_str(), nullptr);
  CreateDirectoryW(target.c_str(), nullptr);
  CreateDirectoryW((target + L"\\inner").c_str(), nullptr);
  WriteAll(target + L"\\inner\\file.txt", "x");
  WriteAll(work + L"\\velk-access\\req.dat", "keep");
  std::wstring command = RemoveFolderCommand(target);
  std::printf("info - command: %s\n", Narrow(command).c_str());
  RunHiddenCommand(command.c_str());
  Check(GoneWithin(target), "the hidden interpreter removes the folder tree");
  Check(ReadAll(work + L"\\velk-access\\req.dat") == "keep", "and nothing beside it");
  Check(!Exists(marker), "the interpreter comes from the system folder, not the program's folder");

  // Without an application name Windows looks in the program's folder first.
  if (Exists(programFolder + L"\\cmd.exe")) {
    CreateDirectoryW(target.c_str(), nullptr);
    std::wstring line = command;
    platform::StartupRequest startup;
    startup.flags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    platform::StartedProcess started;
    platform::ProcessStart& start = platform::Use<platform::ProcessStart>();
    if (start.Start(nullptr, line.data(), TRUE, CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS, startup, &started)) {
      WaitForSingleObject(started.process, 10000);
      start.CloseProcessHandle(started.thread);
      start.CloseProcessHandle(started.process);
    }
    std::printf("info - without an application name the planted cmd.exe %s\n", Exists(marker) ? "ran" : "did not run");
    RemoveDirectoryW(target.c_str());
  }

  std::wstring tooLong = work + L"\\" + std::wstring(250, L'x');
  std::wstring longCommand = RemoveFolderCommand(tooLong + L"\\keydata_EX");
  Check(longCommand.size() > kMaxCommandLine, "a command over 291 characters is built");
  RunHiddenCommand(longCommand.c_str());
  std::printf("info - it is not started (no process to observe)\n");
}

bool KeyExists(const wchar_t* path) {
  platform::RegKey key;
  return platform::Use<platform::Registry>().OpenKey(HKEY_CURRENT_USER, path, KEY_READ | KEY_WOW64_64KEY, key.Put()) ==
         ERROR_SUCCESS;
}

void CheckRegistry() {
  platform::Registry& r = platform::Use<platform::Registry>();
  for (const wchar_t* k : {L"Software\\Pellacor\\velk\\access", L"Software\\Pellacor\\velk\\accessEX",
                           L"Software\\Pellacor\\velk\\other"}) {
    platform::RegKey key;
    r.CreateKey(HKEY_CURRENT_USER, k, KEY_ALL_ACCESS | KEY_WOW64_64KEY, key.Put(), nullptr);
  }
  DeleteLegacyRegistryKeys();
  Check(!KeyExists(L"Software\\Pellacor\\velk\\access"), "subkey access is deleted");
  Check(!KeyExists(L"Software\\Pellacor\\velk\\accessEX"), "subkey accessEX is deleted");
  Check(KeyExists(L"Software\\Pellacor\\velk") && KeyExists(L"Software\\Pellacor\\velk\\other"),
        "the key itself and its other subkeys stay");
  DeleteLegacyRegistryKeys();
  Check(true, "deleting absent subkeys passes silently");
  r.DeleteKey(HKEY_CURRENT_USER, L"Software\\Pellacor\\velk\\other", KEY_WOW64_64KEY);
  r.DeleteKey(HKEY_CURRENT_USER, L"Software\\Pellacor\\velk", KEY_WOW64_64KEY);
  r.DeleteKey(HKEY_CURRENT_USER, L"Software\\Pellacor", KEY_WOW64_64KEY);
}

// Sizes the kit computes from sizeof(wchar_t) must be the registry's own
// byte counts: the host cannot show this, its wchar_t has 4 bytes.
void CheckWidths() {
  Check(sizeof(wchar_t) == sizeof(WCHAR) && sizeof(wchar_t) == 2, "a wide character has the 2 bytes of WCHAR");
  platform::Registry& r = platform::Use<platform::Registry>();
  platform::RegKey key;
  r.CreateKey(HKEY_CURRENT_USER, L"Software\\Pellacor\\widths", KEY_ALL_ACCESS | KEY_WOW64_64KEY, key.Put(), nullptr);
  const wchar_t text[] = L"abc";
  r.SetValue(key.Get(), L"terminated", REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text);
  // Stored without its terminator: the read must leave room for one.
  r.SetValue(key.Get(), L"bare", REG_SZ, reinterpret_cast<const BYTE*>(text), 3 * sizeof(wchar_t));
  DWORD type = 0, bytes = 0;
  r.QueryValue(key.Get(), L"terminated", &type, nullptr, &bytes);
  Check(type == REG_SZ && bytes == 4 * sizeof(wchar_t), "a REG_SZ reports its bytes, terminator included");
  bytes = 0;
  r.QueryValue(key.Get(), L"bare", &type, nullptr, &bytes);
  wchar_t room[8];
  std::fill(room, room + 8, L'x');
  room[bytes / sizeof(wchar_t)] = L'\0';
  DWORD read = bytes;
  LSTATUS status = r.QueryValue(key.Get(), L"bare", &type, reinterpret_cast<BYTE*>(room), &read);
  // Windows gives the 6 bytes stored; Wine stores a terminator with them.
  std::printf("info - a REG_SZ stored without terminator reads as %lu bytes\n", static_cast<unsigned long>(read));
  Check(status == ERROR_SUCCESS && (bytes == 6 || bytes == 8) && read == bytes && std::wstring(room) == L"abc",
        "a REG_SZ without terminator reads whole into its size and one character more");
  key.Reset();
  r.DeleteKey(HKEY_CURRENT_USER, L"Software\\Pellacor\\widths", KEY_WOW64_64KEY);
  r.DeleteKey(HKEY_CURRENT_USER, L"Software\\Pellacor", KEY_WOW64_64KEY);

  // Names and paths convert without best fit: a look-alike never stands in.
  std::string narrow;
  Check(!platform::ToMultiByte(CP_ACP, L"\u0100x", &narrow) && platform::WideToAnsi(L"\u0100x") == "?x",
        "ANSI conversion gives '?' for a character without its own place, not a look-alike");
  Check(platform::ToMultiByte(CP_UTF8, L"\u00e9", &narrow) && narrow == "\xc3\xa9", "UTF-8 conversion takes no flags");
}

void CheckStringsAndBox(bool japanese) {
  std::wstring text;
  int n = platform::Use<platform::StringTable>().LoadText(kMigrationStrings, IDS_MIGRATION_FAILED, &text);
  const wchar_t* english =
      L"An error occurred so the Connection Definition File Update Tool will now exit.\r\n\r\n\r\n"
      L"If the same message is displayed again, contact the velk-box admin.";
  const wchar_t* japaneseText =
      L"\u30a8\u30e9\u30fc\u304c\u767a\u751f\u3057\u305f\u305f\u3081\u3001\u63a5\u7d9a\u5b9a\u7fa9\u30d5\u30a1"
      L"\u30a4\u30eb\u30d0\u30fc\u30b8\u30e7\u30f3\u30a2\u30c3\u30d7\u30c4\u30fc\u30eb\u3092\u7d42\u4e86\u3057"
      L"\u307e\u3059\u3002\r\n\r\n\r\n\u518d\u5ea6\u5b9f\u884c\u3057\u3066\u3082\u540c\u3058\u30e1\u30c3\u30bb"
      L"\u30fc\u30b8\u304c\u8868\u793a\u3055\u308c\u308b\u5834\u5408\u3001velk-box\u8cac\u4efb\u8005\u3078\u304a"
      L"\u554f\u3044\u5408\u308f\u305b\u304f\u3060\u3055\u3044\u3002";
  Check(n > 0 && text == (japanese ? japaneseText : english),
        japanese ? "string 515 loads in Japanese" : "string 515 loads in English");
  int answer = platform::Use<platform::UserDialog>().ShowMessage(nullptr, text.c_str(), L"", MB_ICONERROR);
  std::printf("info - MessageBoxW returned %d\n", answer);
  Check(true, "the error box returns");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring name = self;
  name = name.substr(name.find_last_of(L'\\') + 1);
  if (lstrcmpiW(name.c_str(), L"cmd.exe") == 0) {
    WriteAll(FolderOf(self) + L"\\planted-cmd-ran", "planted");
    return 0;
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: migration-adapters WORK_FOLDER [en|ja]\n");
    return 100;
  }
  std::wstring work = argv[1];
  bool japanese = argc > 2 && lstrcmpiW(argv[2], L"ja") == 0;
  CreateDirectoryW(work.c_str(), nullptr);
  try {
    CheckKnownFolder();
    CheckCompletionState(work);
    CheckCopyAndDelete(work);
    CheckReplaceAndStreams(work);
    CheckHiddenInterpreter(work, FolderOf(self));
    CheckRegistry();
    CheckWidths();
    CheckStringsAndBox(japanese);
  } catch (CException* e) {
    wchar_t text[512] = {};
    e->GetErrorMessage(text, 511);
    std::printf("FAIL - unexpected exception: %s\n", Narrow(text).c_str());
    e->Delete();
    ++g_failures;
  }
  std::printf("%d failures\n", g_failures);
  return g_failures;
}
