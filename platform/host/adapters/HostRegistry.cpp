#include "platform/host/adapters/HostRegistry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "platform/host/machine/Machine.h"
#include "platform/host/machine/SideFiles.h"
#include "platform/host/posix/FileLock.h"
#include "platform/host/posix/UniqueFd.h"

namespace fs = std::filesystem;

namespace platform::host {

namespace {
const wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// Splits "a\b\c"; a leading backslash or an empty inner component is
// ERROR_BAD_PATHNAME, a trailing backslash is accepted.
LSTATUS SplitPath(const wchar_t* subkey, std::vector<std::wstring>* parts) {
  parts->clear();
  if (!subkey || !*subkey) return ERROR_SUCCESS;
  if (*subkey == L'\\') return ERROR_BAD_PATHNAME;
  std::wstring part;
  for (const wchar_t* p = subkey;; ++p) {
    if (*p == L'\\' || *p == L'\0') {
      if (part.empty()) {
        if (*p == L'\0') break;
        return ERROR_BAD_PATHNAME;
      }
      if (Utf16Length(part) > kMaxKeyNameChars) return ERROR_INVALID_PARAMETER;
      parts->push_back(part);
      part.clear();
      if (*p == L'\0') break;
    } else {
      part += *p;
    }
  }
  return ERROR_SUCCESS;
}

// The changes of one action (ActionScope): each hive the action changes is
// written once, when the outermost scope ends, and its lock file is held
// from its first change until then, so that no other process writes the
// hive in between.
struct ChangeBatch {
  int depth = 0;
  std::map<std::string, UniqueFd> locks;  // lock file -> its held descriptor
  std::vector<Hive*> pending;             // hives with changes not yet written
};
ChangeBatch& Batch() {
  static ChangeBatch batch;
  return batch;
}

// An exclusive lock on <hive file>.lock for the span of one change, or of
// the action's batch. The lock file sits in a folder the user may own, so
// it is a side file: a link planted at its name fails the change instead of
// being followed.
class FileLock {
 public:
  explicit FileLock(const fs::path& file) {
    fs::path lock = file;
    lock += ".lock";
    ChangeBatch& batch = Batch();
    if (batch.depth > 0 && batch.locks.count(lock.string())) {
      held_ = true;
      return;
    }
    fd_.Reset(OpenSideFile(lock, O_RDWR | O_CREAT, 0644));
    if (!fd_.Valid()) {
      std::fprintf(stderr, "velk: registry: %s\n", SideFileError(lock, errno).c_str());
      return;
    }
    LockRetrying(fd_.Get(), LOCK_EX);
    if (batch.depth > 0) {
      batch.locks.emplace(lock.string(), std::move(fd_));
      held_ = true;
    }
  }
  // The status a change reports when its hive could not be locked.
  LSTATUS Status() const { return held_ || fd_.Valid() ? ERROR_SUCCESS : ERROR_CANTWRITE; }

 private:
  UniqueFd fd_;
  bool held_ = false;  // by the batch
};
}  // namespace

// One hive file and its tree.
class Hive {
 public:
  Hive(fs::path file, std::wstring rootName) : file_(std::move(file)), rootName_(std::move(rootName)) {}
  // A hive that goes while changes of the action's batch wait writes them.
  ~Hive() { WritePending(); }
  Hive(const Hive&) = delete;
  Hive& operator=(const Hive&) = delete;

  const fs::path& File() const { return file_; }
  RegNode* Root() { return &root_; }

  // Picks up the file as it is now; a hive whose file does not parse is
  // unusable (ERROR_BADDB) and is never written back.
  LSTATUS Refresh() {
    struct stat st {};
    bool exists = ::stat(file_.c_str(), &st) == 0;
    Stamp now{exists, exists ? st.st_ino : 0, exists ? st.st_size : 0,
              exists ? st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec : 0};
    if (loaded_ && now == stamp_) return broken_ ? ERROR_BADDB : ERROR_SUCCESS;
    stamp_ = now;
    loaded_ = true;
    broken_ = false;
    root_ = RegNode{};
    form_ = RegFileForm{};
    if (!exists) return ERROR_SUCCESS;
    std::string error;
    RegNode fresh;
    const Machine* m = Machine::Current();
    if (!ReadRegFile(file_, rootName_, m ? m->Config().acp : 1252, &fresh, &form_, &error)) {
      broken_ = true;
      std::fprintf(stderr, "velk: registry: %s\n", error.c_str());
      return ERROR_BADDB;
    }
    root_ = std::move(fresh);
    return ERROR_SUCCESS;
  }

  // A change made: written back at once, or with the action's batch.
  LSTATUS Commit() {
    if (Batch().depth == 0) return Write();
    if (!pending_) {
      pending_ = true;
      Batch().pending.push_back(this);
    }
    return ERROR_SUCCESS;
  }

  // The batch's changes of this hive, written now.
  LSTATUS WritePending() {
    if (!pending_) return ERROR_SUCCESS;
    pending_ = false;
    auto& pending = Batch().pending;
    pending.erase(std::remove(pending.begin(), pending.end(), this), pending.end());
    return Write();
  }

 private:
  LSTATUS Write() {
    std::string error;
    if (!WriteRegFileAtomic(file_, root_, rootName_, form_, &error)) {
      std::fprintf(stderr, "velk: registry: %s\n", error.c_str());
      loaded_ = false;  // reread what is really on disk next time
      return ERROR_CANTWRITE;
    }
    struct stat st {};
    if (::stat(file_.c_str(), &st) == 0)
      stamp_ = Stamp{true, st.st_ino, st.st_size, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
    return ERROR_SUCCESS;
  }

 private:
  struct Stamp {
    bool exists = false;
    ino_t inode = 0;
    off_t size = 0;
    long long mtime = 0;
    bool operator==(const Stamp&) const = default;
  };
  fs::path file_;
  std::wstring rootName_;
  RegNode root_;
  RegFileForm form_;  // written back as it was read
  bool loaded_ = false;
  bool broken_ = false;
  bool pending_ = false;  // changed within the batch, not yet written
  Stamp stamp_;
};

void HostRegistry::BeginChangeBatch() {
  std::lock_guard<std::recursive_mutex> g(lock_);
  ++Batch().depth;
}

void HostRegistry::EndChangeBatch() {
  std::lock_guard<std::recursive_mutex> g(lock_);
  ChangeBatch& batch = Batch();
  if (batch.depth == 0 || --batch.depth > 0) return;
  while (!batch.pending.empty()) batch.pending.front()->WritePending();
  batch.locks.clear();  // the hives' locks go only once they are written
}

struct HostRegistry::Location {
  std::shared_ptr<Hive> hive;  // null: the HKEY_USERS root itself
  std::vector<std::wstring> path;
};

struct HostRegistry::Handle {
  Location where;
  REGSAM access = 0;
};

HostRegistry::HostRegistry() = default;
HostRegistry::~HostRegistry() = default;

void HostRegistry::Forget() {
  std::lock_guard<std::recursive_mutex> g(lock_);
  machineHive_.reset();
  userHives_.clear();
  startMountsDone_ = false;
  handles_.clear();
}

HKEY HostRegistry::NewHandle(Handle handle) {
  uintptr_t id = nextHandle_;
  nextHandle_ += 4;
  handles_[id] = std::make_unique<Handle>(std::move(handle));
  return reinterpret_cast<HKEY>(id);
}

HostRegistry::Handle* HostRegistry::Find(HKEY key) {
  auto it = handles_.find(reinterpret_cast<uintptr_t>(key));
  return it == handles_.end() ? nullptr : it->second.get();
}

LSTATUS HostRegistry::UserProfileHive(const std::wstring& sid, fs::path* file) {
  const Machine* m = Machine::Current();
  if (!m) return ERROR_BADDB;
  Location loc;
  LSTATUS s = Resolve(HKEY_LOCAL_MACHINE, (std::wstring(kProfileList) + L"\\" + sid).c_str(), &loc);
  if (s != ERROR_SUCCESS || (s = loc.hive->Refresh()) != ERROR_SUCCESS) return s;
  RegNode* node = loc.hive->Root();
  for (const auto& p : loc.path) {
    node = node->Child(p);
    if (!node) return ERROR_FILE_NOT_FOUND;
  }
  RegValue* v = node->FindValue(L"ProfileImagePath");
  if (!v || !IsStringType(v->type)) return ERROR_FILE_NOT_FOUND;
  std::wstring path(reinterpret_cast<const wchar_t*>(v->data.data()), v->data.size() / sizeof(wchar_t));
  path = path.c_str();
  // The profile list keeps %SystemDrive% unexpanded on real systems.
  const std::wstring drive = L"%SystemDrive%";
  if (path.size() >= drive.size() && EqualsNoCase(path.substr(0, drive.size()), drive))
    path = L"C:" + path.substr(drive.size());
  fs::path profile;
  if (!m->MapPath(path, &profile)) return ERROR_FILE_NOT_FOUND;
  *file = profile / "NTUSER.DAT";
  return ERROR_SUCCESS;
}

LSTATUS HostRegistry::HiveForUser(const std::wstring& sid, std::shared_ptr<Hive>* hive) {
  if (!startMountsDone_) {
    startMountsDone_ = true;
    if (const Machine* m = Machine::Current()) {
      std::vector<std::wstring> sids = m->Config().loggedOn;
      if (!m->Config().user.empty()) sids.insert(sids.begin(), m->Config().user);
      for (const auto& s : sids) {
        fs::path file;
        if (userHives_.count(s) || UserProfileHive(s, &file) != ERROR_SUCCESS) continue;
        userHives_[s] = std::make_shared<Hive>(file, L"HKEY_CURRENT_USER");
      }
    }
  }
  auto it = userHives_.find(sid);
  if (it == userHives_.end()) return ERROR_FILE_NOT_FOUND;
  *hive = it->second;
  return ERROR_SUCCESS;
}

std::shared_ptr<Hive> HostRegistry::MachineHive() {
  if (!machineHive_) {
    const Machine* m = Machine::Current();
    if (!m) return nullptr;
    machineHive_ = std::make_shared<Hive>(m->RegistryFolder() / "HKLM.reg", L"HKEY_LOCAL_MACHINE");
  }
  return machineHive_;
}

LSTATUS HostRegistry::Resolve(HKEY parent, const wchar_t* subkey, Location* out, bool openLink) {
  std::vector<std::wstring> parts;
  LSTATUS s = SplitPath(subkey, &parts);
  if (s != ERROR_SUCCESS) return s;
  Location base;
  if (parent == HKEY_LOCAL_MACHINE) {
    base.hive = MachineHive();
    if (!base.hive) return ERROR_BADDB;
  } else if (parent == HKEY_CURRENT_USER) {
    const Machine* m = Machine::Current();
    if (!m) return ERROR_BADDB;
    s = HiveForUser(m->Config().user, &base.hive);
    if (s != ERROR_SUCCESS) return s;
  } else if (parent == HKEY_USERS) {
    HiveForUser(L"", &base.hive);  // makes the start mounts
    base.hive.reset();
  } else if (Handle* h = Find(parent)) {
    base = h->where;
  } else {
    return ERROR_INVALID_HANDLE;
  }
  if (!base.hive && !parts.empty()) {
    s = HiveForUser(parts.front(), &base.hive);
    if (s != ERROR_SUCCESS) return s;
    parts.erase(parts.begin());
  }
  const size_t resolved = base.path.size();  // a handle's location is followed already
  base.path.insert(base.path.end(), parts.begin(), parts.end());
  s = FollowLinks(&base, resolved, openLink);
  if (s != ERROR_SUCCESS) return s;
  *out = std::move(base);
  return ERROR_SUCCESS;
}

namespace {
constexpr int kMaxLinkHops = 16;
const wchar_t kLinkValue[] = L"SymbolicLinkValue";
}  // namespace

// A link's target: \REGISTRY\MACHINE\... or \REGISTRY\USER\<SID>\...
LSTATUS HostRegistry::LinkTarget(const std::wstring& target, Location* out) {
  std::vector<std::wstring> parts;
  size_t start = target.empty() || target[0] != L'\\' ? 0 : 1;
  if (SplitPath(target.c_str() + start, &parts) != ERROR_SUCCESS || parts.size() < 2 ||
      !EqualsNoCase(parts[0], L"REGISTRY"))
    return ERROR_FILE_NOT_FOUND;
  if (EqualsNoCase(parts[1], L"MACHINE")) {
    out->hive = MachineHive();
    if (!out->hive) return ERROR_BADDB;
    out->path.assign(parts.begin() + 2, parts.end());
    return ERROR_SUCCESS;
  }
  if (!EqualsNoCase(parts[1], L"USER") || parts.size() < 3) return ERROR_FILE_NOT_FOUND;
  LSTATUS s = HiveForUser(parts[2], &out->hive);
  if (s != ERROR_SUCCESS) return s;
  out->path.assign(parts.begin() + 3, parts.end());
  return ERROR_SUCCESS;
}

// Registry links as Windows keeps them: a key with a REG_LINK value
// "SymbolicLinkValue" (its data the target's path in WCHARs of the build,
// without terminator) sends every lookup through it to the target, except a
// link at the last component opened with REG_OPTION_OPEN_LINK.
LSTATUS HostRegistry::FollowLinks(Location* loc, size_t from, bool openLink) {
  for (int hops = 0; loc->hive;) {
    if (loc->hive->Refresh() != ERROR_SUCCESS) return ERROR_SUCCESS;  // the caller reports it
    RegNode* node = loc->hive->Root();
    for (size_t i = 0; i < from && node; ++i) node = node->Child(loc->path[i]);
    const RegValue* link = nullptr;
    size_t at = from;
    for (; node && at < loc->path.size(); ++at) {
      node = node->Child(loc->path[at]);
      if (!node || (openLink && at + 1 == loc->path.size())) break;
      const RegValue* v = node->FindValue(kLinkValue);
      if (v && v->type == REG_LINK) {
        link = v;
        break;
      }
    }
    if (!link) return ERROR_SUCCESS;
    if (++hops > kMaxLinkHops) return ERROR_CANT_RESOLVE_FILENAME;
    Location next;
    std::wstring target(reinterpret_cast<const wchar_t*>(link->data.data()), link->data.size() / sizeof(wchar_t));
    LSTATUS s = LinkTarget(target.c_str(), &next);
    if (s != ERROR_SUCCESS) return s;
    next.path.insert(next.path.end(), loc->path.begin() + static_cast<std::ptrdiff_t>(at) + 1, loc->path.end());
    *loc = std::move(next);
    from = 0;
  }
  return ERROR_SUCCESS;
}

namespace {
// Walks to the node of a location; null when a component is missing.
RegNode* Walk(RegNode* root, const std::vector<std::wstring>& path, size_t count) {
  RegNode* node = root;
  for (size_t i = 0; i < count && node; ++i) node = node->Child(path[i]);
  return node;
}
}  // namespace

LSTATUS HostRegistry::OpenKey(HKEY parent, const wchar_t* subkey, REGSAM access, HKEY* result) {
  return Open(parent, subkey, access, result, false);
}

LSTATUS HostRegistry::OpenLinkKey(HKEY parent, const wchar_t* subkey, REGSAM access, HKEY* result) {
  return Open(parent, subkey, access, result, true);
}

LSTATUS HostRegistry::Open(HKEY parent, const wchar_t* subkey, REGSAM access, HKEY* result, bool openLink) {
  std::lock_guard<std::recursive_mutex> g(lock_);
  if (!result) return ERROR_INVALID_PARAMETER;
  Location loc;
  LSTATUS s = Resolve(parent, subkey, &loc, openLink);
  if (s != ERROR_SUCCESS) return s;
  if (loc.hive) {
    if ((s = loc.hive->Refresh()) != ERROR_SUCCESS) return s;
    if (!Walk(loc.hive->Root(), loc.path, loc.path.size())) {
      // A handle to a key deleted meanwhile stays invalid.
      return parent != HKEY_LOCAL_MACHINE && parent != HKEY_USERS && parent != HKEY_CURRENT_USER &&
                     !Walk(loc.hive->Root(), Find(parent)->where.path, Find(parent)->where.path.size())
                 ? ERROR_KEY_DELETED
                 : ERROR_FILE_NOT_FOUND;
    }
  }
  *result = NewHandle(Handle{std::move(loc), access});
  return ERROR_SUCCESS;
}

LSTATUS HostRegistry::CreateKey(HKEY parent, const wchar_t* subkey, REGSAM access, HKEY* result, DWORD* disposition) {
  std::lock_guard<std::recursive_mutex> g(lock_);
  if (!result) return ERROR_INVALID_PARAMETER;
  Location loc;
  LSTATUS s = Resolve(parent, subkey, &loc);
  if (s != ERROR_SUCCESS) return s;
  if (!loc.hive) return ERROR_ACCESS_DENIED;  // no keys of its own under HKEY_USERS
  if (loc.path.size() > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
  FileLock fileLock(loc.hive->File());
  if ((s = fileLock.Status()) != ERROR_SUCCESS) return s;
  if ((s = loc.hive->Refresh()) != ERROR_SUCCESS) return s;
  if (Handle* h = Find(parent)) {
    if (!Walk(loc.hive->Root(), h->where.path, h->where.path.size())) return ERROR_KEY_DELETED;
  }
  RegNode* node = loc.hive->Root();
  bool created = false;
  for (const auto& p : loc.path) {
    RegNode* child = node->Child(p);
    if (!child) {
      child = node->CreateChild(p);
      created = true;
    }
    node = child;
  }
  if (created && (s = loc.hive->Commit()) != ERROR_SUCCESS) return s;
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = NewHandle(Handle{std::move(loc), access});
  return ERROR_SUCCESS;
}

LSTATUS HostRegistry::CloseKey(HKEY key) {
  std::lock_guard<std::recursive_mutex> g(lock_);
  if (key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER || key == HKEY_USERS) return ERROR_SUCCESS;
  return handles_.erase(reinterpret_cast<uintptr_t>(key)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

namespace {
LSTATUS CopyName(const std::wstring& name, wchar_t* out, DWORD* chars) {
  if (!out || !chars) return ERROR_INVALID_PARAMETER;
  if (*chars <= name.size()) return ERROR_MORE_DATA;
  std::memcpy(out, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
  *chars = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}
}  // namespace

LSTATUS HostRegistry::EnumKey(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars) {
  std::lock_guard<std::recursive_mutex> g(lock_);
  Location loc;
  LSTATUS s = Resolve(key, nullptr, &loc);
  if (s != ERROR_SUCCESS) return s;
  if (Handle* h = Find(key); h && !(h->access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  if (!loc.hive) {
    if (index >= userHives_.size()) return ERROR_NO_MORE_ITEMS;
    auto it = userHives_.begin();
    std::advance(it, index);
    return CopyName(it->first, name, nameChars);
  }
  if ((s = loc.hive->Refresh()) != ERROR_SUCCESS) return s;
  RegNode* node = Walk(loc.hive->Root(), loc.path, loc.path.size());
  if (!node) return ERROR_KEY_DELETED;
  if (index >= node->subkeys.size()) return ERROR_NO_MORE_ITEMS;
  auto it = node->subkeys.begin();
  std::advance(it, index);
  return CopyName(it->first, name, nameChars);
}

LSTATUS HostRegistry::EnumValue(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars, DWORD* type) {
  std::lock_guard<std::recursive_mutex> g(lock_);
  Location loc;
  LSTATUS s = Resolve(key, nullptr, &loc);
  if (s != ERROR_SUCCESS) return s;
  if (Handle* h = Find(key); h && !(h->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (!loc.hive) return ERROR_NO_MORE_ITEMS;
  if ((s = loc.hive->Refresh()) != ERROR_SUCCESS) return s;
  RegNode* node = Walk(loc.hive->Root(), loc.path, loc.path.size());
  if (!node) return ERROR_KEY_DELETED;
  if (index >= node->values.size()) return ERROR_NO_MORE_ITEMS;
  const auto& [n, v] = node->values[index];
  s = CopyName(n, name, nameChars);
  if (s == ERROR_SUCCESS && type) *type = v.type;
  return s;
}

LSTATUS HostRegistry::QueryValue(HKEY key, const wchar_t* name, DWORD* type, BYTE* data, DWORD* dataBytes) {
  std::lock_guard<std::recursive_mutex> g(lock_);
  if (data && !dataBytes) return ERROR_INVALID_PARAMETER;
  Location loc;
  LSTATUS s = Resolve(key, nullptr, &loc);
  if (s != ERROR_SUCCESS) return s;
  if (Handle* h = Find(key); h && !(h->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (!loc.hive) return ERROR_FILE_NOT_FOUND;
  if ((s = loc.hive->Refresh()) != ERROR_SUCCESS) return s;
  RegNode* node = Walk(loc.hive->Root(), loc.path, loc.path.size());
  if (!node) return ERROR_KEY_DELETED;
  RegValue* v = node->FindValue(name ? name : L"");
  if (!v) return ERROR_FILE_NOT_FOUND;
  if (type) *type = v->type;
  DWORD size = static_cast<DWORD>(v->data.size());
  if (data) {
    if (*dataBytes < size) {
      *dataBytes = size;
      return ERROR_MORE_DATA;
    }
    if (size) std::memcpy(data, v->data.data(), size);
  }
  if (dataBytes) *dataBytes = size;
  return ERROR_SUCCESS;
}

LSTATUS HostRegistry::SetValue(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD dataBytes) {
  std::lock_guard<std::recursive_mutex> g(lock_);
  if (!data && dataBytes) return ERROR_INVALID_PARAMETER;
  if (name && Utf16Length(name) > kMaxValueNameChars) return ERROR_INVALID_PARAMETER;
  Location loc;
  LSTATUS s = Resolve(key, nullptr, &loc);
  if (s != ERROR_SUCCESS) return s;
  if (Handle* h = Find(key); h && !(h->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  if (!loc.hive) return ERROR_ACCESS_DENIED;
  FileLock fileLock(loc.hive->File());
  if ((s = fileLock.Status()) != ERROR_SUCCESS) return s;
  if ((s = loc.hive->Refresh()) != ERROR_SUCCESS) return s;
  RegNode* node = Walk(loc.hive->Root(), loc.path, loc.path.size());
  if (!node) return ERROR_KEY_DELETED;
  RegValue v;
  v.type = type;
  if (dataBytes) v.data.assign(data, data + dataBytes);
  node->SetValue(name ? name : L"", std::move(v));
  return loc.hive->Commit();
}

LSTATUS HostRegistry::DeleteValue(HKEY key, const wchar_t* name) {
  std::lock_guard<std::recursive_mutex> g(lock_);
  Location loc;
  LSTATUS s = Resolve(key, nullptr, &loc);
  if (s != ERROR_SUCCESS) return s;
  if (Handle* h = Find(key); h && !(h->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  if (!loc.hive) return ERROR_FILE_NOT_FOUND;
  FileLock fileLock(loc.hive->File());
  if ((s = fileLock.Status()) != ERROR_SUCCESS) return s;
  if ((s = loc.hive->Refresh()) != ERROR_SUCCESS) return s;
  RegNode* node = Walk(loc.hive->Root(), loc.path, loc.path.size());
  if (!node) return ERROR_KEY_DELETED;
  if (!node->DeleteValue(name ? name : L"")) return ERROR_FILE_NOT_FOUND;
  return loc.hive->Commit();
}

LSTATUS HostRegistry::DeleteKey(HKEY parent, const wchar_t* subkey, REGSAM view) {
  std::lock_guard<std::recursive_mutex> g(lock_);
  Location loc;
  // RegDeleteKeyExW opens the key it deletes: a link at its name is followed.
  LSTATUS s = Resolve(parent, subkey, &loc);
  if (s != ERROR_SUCCESS) return s;
  return DeleteAt(loc);
}

LSTATUS HostRegistry::DeleteOpenKey(HKEY key) {
  std::lock_guard<std::recursive_mutex> g(lock_);
  Handle* h = Find(key);
  if (!h) return ERROR_INVALID_HANDLE;
  if (!(h->access & DELETE)) return ERROR_ACCESS_DENIED;
  return DeleteAt(h->where);
}

LSTATUS HostRegistry::DeleteAt(const Location& loc) {
  LSTATUS s;
  if (!loc.hive || loc.path.empty()) return ERROR_ACCESS_DENIED;  // a hive's root stays
  FileLock fileLock(loc.hive->File());
  if ((s = fileLock.Status()) != ERROR_SUCCESS) return s;
  if ((s = loc.hive->Refresh()) != ERROR_SUCCESS) return s;
  RegNode* owner = Walk(loc.hive->Root(), loc.path, loc.path.size() - 1);
  RegNode* node = owner ? owner->Child(loc.path.back()) : nullptr;
  if (!node) return ERROR_FILE_NOT_FOUND;
  if (!node->subkeys.empty()) return ERROR_ACCESS_DENIED;
  owner->subkeys.erase(loc.path.back());
  return loc.hive->Commit();
}

LSTATUS HostRegistry::QueryInfoKey(HKEY key, DWORD* subkeys, DWORD* maxSubkeyChars, DWORD* values) {
  std::lock_guard<std::recursive_mutex> g(lock_);
  Location loc;
  LSTATUS s = Resolve(key, nullptr, &loc);
  if (s != ERROR_SUCCESS) return s;
  if (!loc.hive) {
    if (subkeys) *subkeys = static_cast<DWORD>(userHives_.size());
    if (maxSubkeyChars) {
      size_t m = 0;
      for (const auto& [n, h] : userHives_) m = std::max(m, n.size());
      *maxSubkeyChars = static_cast<DWORD>(m);
    }
    if (values) *values = 0;
    return ERROR_SUCCESS;
  }
  if ((s = loc.hive->Refresh()) != ERROR_SUCCESS) return s;
  RegNode* node = Walk(loc.hive->Root(), loc.path, loc.path.size());
  if (!node) return ERROR_KEY_DELETED;
  if (subkeys) *subkeys = static_cast<DWORD>(node->subkeys.size());
  if (maxSubkeyChars) {
    size_t m = 0;
    for (const auto& [n, c] : node->subkeys) m = std::max(m, n.size());
    *maxSubkeyChars = static_cast<DWORD>(m);
  }
  if (values) *values = static_cast<DWORD>(node->values.size());
  return ERROR_SUCCESS;
}

LSTATUS HostRegistry::MountUserHive(const std::wstring& name, const fs::path& file) {
  std::lock_guard<std::recursive_mutex> g(lock_);
  std::shared_ptr<Hive> existing;
  if (HiveForUser(name, &existing) == ERROR_SUCCESS) return ERROR_ALREADY_EXISTS;
  auto hive = std::make_shared<Hive>(file, L"HKEY_CURRENT_USER");
  LSTATUS s = hive->Refresh();
  if (s != ERROR_SUCCESS) return s;
  userHives_[name] = hive;
  return ERROR_SUCCESS;
}

LSTATUS HostRegistry::UnmountUserHive(const std::wstring& name) {
  std::lock_guard<std::recursive_mutex> g(lock_);
  std::shared_ptr<Hive> hive;
  if (HiveForUser(name, &hive) != ERROR_SUCCESS) return ERROR_FILE_NOT_FOUND;
  for (const auto& [id, h] : handles_)
    if (h->where.hive == hive) return ERROR_ACCESS_DENIED;
  userHives_.erase(name);
  return ERROR_SUCCESS;
}

LSTATUS HostRegistry::LoadHive(HKEY root, const wchar_t* name, const wchar_t* file) {
  std::lock_guard<std::recursive_mutex> g(lock_);
  if (root != HKEY_USERS || !name || !*name || std::wcschr(name, L'\\') || !file) return ERROR_INVALID_PARAMETER;
  const Machine* m = Machine::Current();
  fs::path hostFile;
  if (!m || !m->MapPath(file, &hostFile)) return ERROR_PATH_NOT_FOUND;
  struct stat st {};
  if (::lstat(hostFile.c_str(), &st) != 0) return ERROR_FILE_NOT_FOUND;
  if (!S_ISREG(st.st_mode)) return ERROR_ACCESS_DENIED;
  std::shared_ptr<Hive> none;
  HiveForUser(L"", &none);  // the start mounts count as users of their files
  for (const auto& [n, h] : userHives_) {
    struct stat other {};
    if (EqualsNoCase(n, name)) return ERROR_ALREADY_EXISTS;
    if (::stat(h->File().c_str(), &other) == 0 && other.st_dev == st.st_dev && other.st_ino == st.st_ino)
      return ERROR_SHARING_VIOLATION;
  }
  return MountUserHive(name, hostFile);
}

LSTATUS HostRegistry::UnloadHive(HKEY root, const wchar_t* name) {
  if (root != HKEY_USERS || !name || !*name) return ERROR_INVALID_PARAMETER;
  return UnmountUserHive(name);
}

bool HostRegistry::IsUserHiveMounted(const std::wstring& name) {
  std::lock_guard<std::recursive_mutex> g(lock_);
  std::shared_ptr<Hive> hive;
  return HiveForUser(name, &hive) == ERROR_SUCCESS;
}

}  // namespace platform::host

namespace platform {
Registry& Registry::Default() {
  static host::HostRegistry registry;
  return registry;
}
}  // namespace platform
