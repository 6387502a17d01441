#include "velkras2/IniReader.h"

#include <cstring>

#include "platform/LastError.h"
#include "velkras2/RasError.h"
#include "velkras2/RasUtil.h"
#include "velkras2/Secret.h"

namespace {

const char kFile[] = "IniReader.cpp";
constexpr unsigned kLineEmptyKey = 80;
constexpr unsigned kLineNew = 113;
constexpr unsigned kLineReadCopy = 164;
constexpr unsigned kLineNotFound = 197;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Trims spaces and tabs at both ends of [*begin, *end).
void Trim(const char** begin, const char** end) {
  while (*begin < *end && IsBlank(**begin)) ++*begin;
  while (*end > *begin && IsBlank((*end)[-1])) --*end;
}

// ASCII-only, so that the result never depends on the thread's locale.
bool EqualNoCase(const char* a, size_t aLength, const char* b) {
  size_t bLength = std::strlen(b);
  if (aLength != bLength) return false;
  for (size_t i = 0; i < aLength; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// End of the line starting at p: the next CR LF before end, stopping early
// at a 0 byte as a search in a 0-terminated string would. Never reads at or
// beyond end.
const char* LineEnd(const char* p, const char* end, bool* crlf) {
  *crlf = false;
  for (; p < end && *p != '\0'; ++p) {
    if (*p == '\r' && p + 1 < end && p[1] == '\n') {
      *crlf = true;
      return p;
    }
  }
  return end;
}

// The working copy of a line may hold a key value.
void ReleaseLine(char* line, size_t room) {
  Secret_Clear(line, room);
  RasUtil_Free(line);
}

}  // namespace

// One trimmed line of the wanted section; *value is set when it holds the key.
// NOLINTNEXTLINE(bugprone-reserved-identifier): the library's private functions start with an underscore.
bool _IniReader_Key(char* line, const char* key, char** value);

bool _IniReader_Key(char* line, const char* key, char** value) {
  *value = nullptr;
  const char* equals = std::strchr(line, '=');
  if (!equals) return true;
  const char* nameBegin = line;
  const char* nameEnd = equals;
  Trim(&nameBegin, &nameEnd);
  if (nameBegin == nameEnd) {
    RasSetLastError("_IniReader_Key", kFile, kLineEmptyKey, 255, 0, "empty line");
    return true;
  }
  if (*nameBegin == ';') return true;
  if (!EqualNoCase(nameBegin, static_cast<size_t>(nameEnd - nameBegin), key)) return true;

  const char* valueBegin = equals + 1;
  const char* valueEnd = valueBegin + std::strlen(valueBegin);
  Trim(&valueBegin, &valueEnd);
  if (valueEnd > valueBegin && (*valueBegin == '"' || *valueBegin == '\'') && valueEnd[-1] == *valueBegin) {
    // One pair only; a lone quote character is its own pair and leaves nothing.
    ++valueBegin;
    if (valueEnd > valueBegin) --valueEnd;
  }
  *const_cast<char*>(valueEnd) = '\0';  // the line is the reader's own working copy
  *value = strcpy_alloc(valueBegin);
  return *value != nullptr;
}

IniReader* IniReader_New(const char* data, uint32_t size) {
  IniReader* reader = static_cast<IniReader*>(RasUtil_Calloc(1, sizeof(IniReader)));
  if (!reader) {
    RasSetLastError("IniReader_New", kFile, kLineNew, 255, platform::GetLastErrorCode(), "malloc failed");
    return nullptr;
  }
  reader->data = data;
  reader->size = size;
  return reader;
}

bool IniReader_Read(IniReader* reader, const char* section, const char* key, char** value) {
  *value = nullptr;
  bool inSection = false;
  const char* pos = reader->data;
  // The last byte is the text's terminator; a text handed over without one
  // is read to its last byte instead of past it.
  const char* end = reader->data;
  if (reader->size > 0) end += reader->data[reader->size - 1] == '\0' ? reader->size - 1 : reader->size;

  char* line = nullptr;
  size_t lineRoom = 0;
  while (pos < end) {
    bool crlf = false;
    const char* lineEnd = LineEnd(pos, end, &crlf);
    size_t length = static_cast<size_t>(lineEnd - pos);
    if (length + 1 > lineRoom) {
      char* larger = static_cast<char*>(RasUtil_Malloc(length + 2));
      if (!larger) {
        RasSetLastError("IniReader_Read", kFile, kLineReadCopy, 255, platform::GetLastErrorCode(), "malloc failed");
        ReleaseLine(line, lineRoom);
        return false;
      }
      ReleaseLine(line, lineRoom);
      line = larger;
      lineRoom = length + 2;
    }
    std::memcpy(line, pos, length);
    line[length] = '\0';
    pos = crlf ? lineEnd + 2 : end;

    // A 0 byte inside the line ends it.
    const char* begin = line;
    const char* stop = line + std::strlen(line);
    Trim(&begin, &stop);
    if (begin == stop) continue;
    size_t trimmed = static_cast<size_t>(stop - begin);
    if (*begin == '[' && trimmed >= 2 && stop[-1] == ']') {
      inSection = EqualNoCase(begin + 1, trimmed - 2, section);
      continue;
    }
    if (!inSection) continue;
    line[static_cast<size_t>(stop - line)] = '\0';
    if (!_IniReader_Key(line + (begin - line), key, value)) {
      ReleaseLine(line, lineRoom);
      return false;
    }
    if (*value) {
      ReleaseLine(line, lineRoom);
      return true;
    }
  }
  RasSetLastError("IniReader_Read", kFile, kLineNotFound, 255, 0, "secion:%s key:%s is not found", section, key);
  ReleaseLine(line, lineRoom);
  return true;
}

void IniReader_Free(IniReader* reader) { RasUtil_Free(reader); }
