// velk-bench-pairs: times the migration program's whole run against an
// empty program, both started by CreateProcessW from here, in turns.
//
//   velk-bench-pairs.exe PAIRS PROGRAM EMPTY REQDAT
//
// Before each run of PROGRAM the user's data directory gets REQDAT (a key
// file still bound to the product ID) as req.dat and the previous
// generation's folders and keys; the run counts until the last process of
// its job ends, so the hidden cmd.exe children it starts are inside. The
// third arm, EMPTY started with "cmd 4", starts as many hidden cmd.exe
// children as the program does and nothing else: the floor of such a run.
// Prints each arm's median and the median ratios to the empty program.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

namespace {

struct HandleClose {
  void operator()(HANDLE h) const {
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};
using Handle = std::unique_ptr<void, HandleClose>;

struct KeyClose {
  void operator()(HKEY k) const { RegCloseKey(k); }
};

// The folders the migration program removes through cmd.exe, below
// %LOCALAPPDATA% (the last one is beside the data directory).
const wchar_t* const kLegacyFiles[] = {
    L"\\TESSMAR\\velk\\velk-access\\keydata\\certs\\client.pem",
    L"\\TESSMAR\\velk\\velk-access\\keydata_EX\\edition.ini",
    L"\\TESSMAR\\velk\\velk-access\\mig\\profile.ini",
    L"\\Pellacor\\velk\\velk-access LE\\settings.ini",
};
const wchar_t* const kLegacyKeys[] = {L"Software\\Pellacor\\velk\\access", L"Software\\Pellacor\\velk\\accessEX"};

std::wstring g_local;

std::wstring DataDirectory() { return g_local + L"\\TESSMAR\\velk\\velk-access"; }

void MakeFolders(const std::wstring& path) {
  for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1))
    CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
}

bool WriteText(const std::wstring& path, const char* text) {
  MakeFolders(path);
  Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file.get() != INVALID_HANDLE_VALUE &&
         WriteFile(file.get(), text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

std::string ReadText(const std::wstring& path) {
  Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return {};
  char buffer[64];
  DWORD read = 0;
  if (!ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr)) return {};
  return std::string(buffer, read);
}

// The user's state before a first run of the new program.
bool Prepare(const std::wstring& reqdat) {
  std::wstring data = DataDirectory();
  DeleteFileW((data + L"\\_completed_mig").c_str());
  DeleteFileW((data + L"\\velk-access-migration.log").c_str());
  if (!CopyFileW(reqdat.c_str(), (data + L"\\req.dat").c_str(), FALSE)) return false;
  for (const wchar_t* file : kLegacyFiles)
    if (!WriteText(g_local + file, "old data\r\n")) return false;
  for (const wchar_t* path : kLegacyKeys) {
    HKEY raw = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw, nullptr) != ERROR_SUCCESS)
      return false;
    std::unique_ptr<HKEY__, KeyClose> key(raw);
    const wchar_t value[] = L"old";
    RegSetValueExW(key.get(), L"Server", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof value);
  }
  return true;
}

// What a finished run leaves: state 3 and no legacy folder.
bool Converted() {
  if (ReadText(DataDirectory() + L"\\_completed_mig") != "3") return false;
  for (const wchar_t* file : kLegacyFiles)
    if (GetFileAttributesW((g_local + file).c_str()) != INVALID_FILE_ATTRIBUTES) return false;
  return true;
}

double g_tick;  // milliseconds per performance-counter tick

// Starts PROGRAM with ARGUMENTS in a job of its own and waits until every
// process of the job has ended; milliseconds, or -1 on a failure.
double Run(const std::wstring& program, const std::wstring& arguments) {
  Handle job(CreateJobObjectW(nullptr, nullptr));
  Handle port(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
  if (!job || !port) return -1;
  JOBOBJECT_ASSOCIATE_COMPLETION_PORT link = {job.get(), port.get()};
  if (!SetInformationJobObject(job.get(), JobObjectAssociateCompletionPortInformation, &link, sizeof link)) return -1;
  std::wstring folder = program.substr(0, program.rfind(L'\\'));
  std::wstring line = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started = {};
  LARGE_INTEGER t0, t1;
  QueryPerformanceCounter(&t0);
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, folder.c_str(),
                      &startup, &started))
    return -1;
  Handle process(started.hProcess), thread(started.hThread);
  if (!AssignProcessToJobObject(job.get(), process.get())) {
    TerminateProcess(process.get(), 1);
    return -1;
  }
  ResumeThread(thread.get());
  for (;;) {
    DWORD message = 0;
    ULONG_PTR key = 0;
    LPOVERLAPPED detail = nullptr;
    if (!GetQueuedCompletionStatus(port.get(), &message, &key, &detail, 60000)) return -1;
    if (message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) break;
  }
  QueryPerformanceCounter(&t1);
  DWORD code = 1;
  GetExitCodeProcess(process.get(), &code);
  return code == 0 ? static_cast<double>(t1.QuadPart - t0.QuadPart) * g_tick : -1;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: velk-bench-pairs.exe PAIRS PROGRAM EMPTY REQDAT\n");
    return 2;
  }
  int pairs = static_cast<int>(std::wcstol(argv[1], nullptr, 10));
  std::wstring program = argv[2], empty = argv[3], reqdat = argv[4];
  wchar_t local[MAX_PATH] = {};
  DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH);
  if (pairs < 1 || n == 0 || n >= MAX_PATH) {
    std::fprintf(stderr, "velk-bench-pairs: no pairs or no LOCALAPPDATA\n");
    return 2;
  }
  g_local = local;
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  g_tick = 1000.0 / static_cast<double>(frequency.QuadPart);

  std::vector<double> runs, empties, floors, ratios, floorRatios;
  // Round 0 warms the file cache and is not counted; the order turns each
  // round so that a drift in the machine's load weighs on all arms alike.
  for (int round = 0; round <= pairs; ++round) {
    double ms[3] = {};
    for (int i = 0; i < 3; ++i) {
      int arm = (round + i) % 3;
      if (arm == 0) {
        if (!Prepare(reqdat)) {
          std::fprintf(stderr, "velk-bench-pairs: could not prepare the user's data\n");
          return 1;
        }
        ms[0] = Run(program, L"");
        if (ms[0] >= 0 && !Converted()) {
          std::fprintf(stderr, "velk-bench-pairs: the program's run left req.dat unconverted or a legacy folder\n");
          return 1;
        }
      } else {
        ms[arm] = Run(empty, arm == 1 ? L"" : L"cmd 4");
      }
      if (ms[arm] < 0) {
        std::fprintf(stderr, "velk-bench-pairs: a run failed (arm %d, error %lu)\n", arm, GetLastError());
        return 1;
      }
    }
    if (round == 0) continue;
    std::printf("round %d: program %.1f ms, empty %.1f ms, empty with 4 cmd.exe %.1f ms\n", round, ms[0], ms[1], ms[2]);
    runs.push_back(ms[0]);
    empties.push_back(ms[1]);
    floors.push_back(ms[2]);
    ratios.push_back(ms[0] / ms[1]);
    floorRatios.push_back(ms[2] / ms[1]);
  }
  std::printf("medians: program %.1f ms, empty %.1f ms, empty with 4 cmd.exe %.1f ms\n", Median(runs), Median(empties),
              Median(floors));
  std::printf("ratio program/empty %.2f; floor (empty with 4 cmd.exe)/empty %.2f\n", Median(ratios),
              Median(floorRatios));
  return 0;
}
