// Raw SMBIOS data in the firmware-table layout, from the kernel's files or
// from a dump taken on a PC.
#include "platform/host/machine/RawSmbios.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace platform {

namespace {

bool ReadWholeFile(const std::filesystem::path& file, std::vector<BYTE>* out) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// Header of the raw layout from an SMBIOS 3 ("_SM3_"), 2.x ("_SM_") or
// legacy ("_DMI_") entry point.
bool VersionFromEntryPoint(const std::vector<BYTE>& ep, BYTE* major, BYTE* minor, BYTE* revision) {
  if (ep.size() >= 0x18 && std::memcmp(ep.data(), "_SM3_", 5) == 0) {
    *major = ep[7];
    *minor = ep[8];
    *revision = ep[9];
    return true;
  }
  if (ep.size() >= 0x1F && std::memcmp(ep.data(), "_SM_", 4) == 0) {
    *major = ep[6];
    *minor = ep[7];
    *revision = 0;
    return true;
  }
  if (ep.size() >= 0x0F && std::memcmp(ep.data(), "_DMI_", 5) == 0) {
    *major = static_cast<BYTE>(ep[0x0E] >> 4);
    *minor = static_cast<BYTE>(ep[0x0E] & 0x0F);
    *revision = 0;
    return true;
  }
  return false;
}

}  // namespace

namespace host {

namespace {

bool Compose(const std::vector<BYTE>& ep, const BYTE* table, size_t size, std::vector<BYTE>* out) {
  BYTE major = 0, minor = 0, revision = 0;
  if (!VersionFromEntryPoint(ep, &major, &minor, &revision)) return false;
  if (size > 0xFFFFFFF0u) return false;
  DWORD length = static_cast<DWORD>(size);
  out->assign({0, major, minor, revision, static_cast<BYTE>(length), static_cast<BYTE>(length >> 8),
               static_cast<BYTE>(length >> 16), static_cast<BYTE>(length >> 24)});
  out->insert(out->end(), table, table + size);
  return true;
}

uint64_t Little(const std::vector<BYTE>& bytes, size_t at, size_t count) {
  uint64_t v = 0;
  for (size_t i = count; i-- > 0;) v = (v << 8) | bytes[at + i];
  return v;
}

}  // namespace

bool ComposeRawSmbios(const std::filesystem::path& folder, std::vector<BYTE>* out) {
  std::vector<BYTE> ep, dmi;
  if (!ReadWholeFile(folder / "smbios_entry_point", &ep) || !ReadWholeFile(folder / "DMI", &dmi)) return false;
  return Compose(ep, dmi.data(), dmi.size(), out);
}

bool RawSmbiosFromDump(const std::vector<BYTE>& dump, std::vector<BYTE>* out, std::string* error) {
  // A dmidecode dump: the entry point, its table address pointing into the
  // file, where the table follows.
  uint64_t address = 0, length = 0;
  bool entryPoint = true;
  if (dump.size() >= 0x18 && std::memcmp(dump.data(), "_SM3_", 5) == 0) {
    address = Little(dump, 0x10, 8);
    length = Little(dump, 0x0C, 4);
  } else if (dump.size() >= 0x1F && std::memcmp(dump.data(), "_SM_", 4) == 0) {
    address = Little(dump, 0x18, 4);
    length = Little(dump, 0x16, 2);
  } else if (dump.size() >= 0x0F && std::memcmp(dump.data(), "_DMI_", 5) == 0) {
    address = Little(dump, 0x08, 4);
    length = Little(dump, 0x06, 2);
  } else {
    entryPoint = false;
  }
  if (entryPoint) {
    // SMBIOS 3 gives a maximum size: the table may end before it.
    if (address < 0x0F || address > dump.size()) {
      *error = "the entry point's table address lies outside the file";
      return false;
    }
    size_t size = static_cast<size_t>(std::min<uint64_t>(length, dump.size() - address));
    if (std::memcmp(dump.data(), "_SM3_", 5) != 0 && size < length) {
      *error = "the table is shorter than the entry point says";
      return false;
    }
    std::vector<BYTE> ep(dump.begin(), dump.begin() + static_cast<std::ptrdiff_t>(std::min<uint64_t>(address, 0x20)));
    if (Compose(ep, dump.data() + address, size, out)) return true;
    *error = "the entry point is cut short by its table";
    return false;
  }
  // The raw firmware-table layout: 8 header bytes, then the table.
  if (dump.size() >= 8 && Little(dump, 4, 4) == dump.size() - 8) {
    *out = dump;
    return true;
  }
  *error =
      "neither a dmidecode dump (entry point \"_SM3_\", \"_SM_\" or \"_DMI_\" at its start) nor raw SMBIOS data "
      "(8 header bytes whose length field counts the rest)";
  return false;
}

bool ReadRawSmbios(const std::filesystem::path& file, std::vector<BYTE>* out) { return ReadWholeFile(file, out); }

}  // namespace host

}  // namespace platform
