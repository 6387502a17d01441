// Windows types and constants for code shared by both builds.
// The Windows build takes them from the SDK; the host build defines the
// subset the kit uses, with the SDK's names and values.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <shellapi.h>
#else

typedef int32_t HRESULT;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int32_t LSTATUS;
typedef uint32_t UINT;
typedef int32_t INT;
typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint64_t ULONGLONG;
typedef int64_t LONGLONG;
typedef DWORD REGSAM;
typedef wchar_t WCHAR;
typedef char CHAR;
typedef const wchar_t* LPCWSTR;
typedef wchar_t* LPWSTR;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef void* LPVOID;
typedef void* HANDLE;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef unsigned long MSIHANDLE;
typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HKEY__* HKEY;

typedef struct _GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID;
typedef GUID CLSID;
typedef GUID IID;

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

#define WINAPI
#define CALLBACK
#define TRUE 1
#define FALSE 0
#define MAX_PATH 260

#define HKEY_CLASSES_ROOT ((HKEY)(uintptr_t)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)
#define HKEY_USERS ((HKEY)(uintptr_t)0x80000003u)

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#define DELETE 0x00010000L
#define READ_CONTROL 0x00020000L
#define SYNCHRONIZE 0x00100000L
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F
#define REG_OPTION_NON_VOLATILE 0
#define REG_CREATED_NEW_KEY 1
#define REG_OPENED_EXISTING_KEY 2

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_LINK 6
#define REG_MULTI_SZ 7
#define REG_QWORD 11

#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_TOO_MANY_OPEN_FILES 4L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_DATA 13L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_NO_MORE_FILES 18L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_DIR_NOT_EMPTY 145L
#define ERROR_BADDB 1009L
#define ERROR_BADKEY 1010L
#define ERROR_CANTOPEN 1011L
#define ERROR_CANTREAD 1012L
#define ERROR_CANTWRITE 1013L
#define ERROR_KEY_DELETED 1018L
#define ERROR_NO_ASSOCIATION 1155L
#define ERROR_NOT_FOUND 1168L
#define ERROR_CANCELLED 1223L
#define ERROR_PRIVILEGE_NOT_HELD 1314L
#define ERROR_NO_SUCH_PRIVILEGE 1313L
#define ERROR_INVALID_FLAGS 1004L
#define ERROR_INSTALL_FAILURE 1603L
#define ERROR_DATATYPE_MISMATCH 1629L
#define ERROR_INVALID_USER_BUFFER 1784L
#define ERROR_INVALID_HANDLE_STATE 1609L
#define ERROR_UNKNOWN_PROPERTY 1608L
#define ERROR_SUCCESS_REBOOT_REQUIRED 3010L

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_ABORT ((HRESULT)0x80004004u)
#define E_FAIL ((HRESULT)0x80004005u)
#define E_UNEXPECTED ((HRESULT)0x8000FFFFu)
#define E_INVALIDARG ((HRESULT)0x80070057u)
#define E_OUTOFMEMORY ((HRESULT)0x8007000Eu)
#define E_ACCESSDENIED ((HRESULT)0x80070005u)
#define E_NOTIMPL ((HRESULT)0x80004001u)
#define E_POINTER ((HRESULT)0x80004003u)
#define CO_E_CLASSSTRING ((HRESULT)0x800401F3u)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

// Windows Installer
typedef enum tagINSTALLMESSAGE {
  INSTALLMESSAGE_FATALEXIT = 0x00000000,
  INSTALLMESSAGE_ERROR = 0x01000000,
  INSTALLMESSAGE_WARNING = 0x02000000,
  INSTALLMESSAGE_USER = 0x03000000,
  INSTALLMESSAGE_INFO = 0x04000000,
} INSTALLMESSAGE;

// Shell execution
#define SEE_MASK_NOASYNC 0x00000100
#define SW_HIDE 0
#define SW_SHOWNORMAL 1

typedef struct _SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
} SYSTEMTIME;

typedef struct _LUID {
  DWORD LowPart;
  LONG HighPart;
} LUID;

#define SE_PRIVILEGE_ENABLED 0x00000002L
#define TOKEN_ADJUST_PRIVILEGES 0x0020
#define TOKEN_QUERY 0x0008

// Processes, kernel objects, message boxes, string resources
typedef WORD LANGID;
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define PROCESS_VM_READ 0x0010
#define PROCESS_QUERY_INFORMATION 0x0400
#define ERROR_PARTIAL_COPY 299L
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L
#define MB_OK 0x00000000L
#define IDOK 1

#define CP_ACP 0
#define CP_UTF8 65001

#define LOWORD(l) ((WORD)(((DWORD_PTR)(l)) & 0xffff))

#endif  // _WIN32
