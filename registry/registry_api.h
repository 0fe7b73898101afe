#pragma once
// The eight registry operations, with Win32 names and shapes. Behind them is the process's
// registry store (registry_store.h); every call fails with ERROR_BADDB while none is open.
//
// Contract beyond the classic one:
// - Names compare case-insensitively and keep their case.
// - RegEnumKeyExW lists subkeys in name order, RegEnumValueW values in creation order; each call
//   is O(1) once a handle has begun enumerating.
// - A name or data buffer too small gives ERROR_MORE_DATA, and *lpcchName / *lpcbData then hold
//   the size needed (characters without the terminator / bytes), so callers can grow and retry.
// - RegCreateKeyExW creates every missing key of a multi-level path; the empty path gives the
//   parent itself. Keys deeper than kMaxKeyDepth, key names over kMaxKeyNameLength characters and
//   value names over kMaxValueNameLength characters are refused with ERROR_INVALID_PARAMETER.
// - RegDeleteKeyW refuses a key that has subkeys (ERROR_ACCESS_DENIED) and the roots.
// - Every write that returned ERROR_SUCCESS is durable.
#include <string>

#include "registry/win_types.h"

constexpr int kMaxKeyDepth = 512;
constexpr int kMaxKeyNameLength = 255;
constexpr int kMaxValueNameLength = 16383;

LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
LONG RegCloseKey(HKEY hKey);
LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved, LPWSTR lpClass,
                   LPDWORD lpcchClass, PFILETIME lpftLastWriteTime);
LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                   LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
LONG RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions, REGSAM samDesired,
                     void* lpSecurityAttributes, PHKEY phkResult, LPDWORD lpdwDisposition);
LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData, DWORD cbData);
LONG RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName);
LONG RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey);
// What the registry knows of a key: its class (always empty), the number of subkeys and values,
// the longest subkey and value names (characters, without the terminator), the largest data
// (bytes), and *lpftLastWriteTime, when it was last written (zero when the registry keeps no
// time). Every out-parameter may be null; counts and lengths are worked out only when asked for.
LONG RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved, LPDWORD lpcSubKeys,
                      LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                      LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime);

// Renames hKey\lpSubKeyName (hKey itself for a null or empty lpSubKeyName) to lpNewKeyName, with
// its whole subtree in one step. ERROR_ALREADY_EXISTS when a sibling has that name (any case; a
// change of case alone is a rename), ERROR_ACCESS_DENIED for a root or a read-only registry,
// ERROR_INVALID_PARAMETER for an empty or too long new name or one with a backslash.
LONG RegRenameKey(HKEY hKey, LPCWSTR lpSubKeyName, LPCWSTR lpNewKeyName);
// Renames a value of hKey (null or empty: the unnamed value); it keeps its type, data and place
// in the creation order. ERROR_ALREADY_EXISTS when another value has the new name,
// ERROR_FILE_NOT_FOUND when there is no value of the old name, ERROR_INVALID_PARAMETER for an
// empty or too long new name.
LONG RegRenameValueW(HKEY hKey, LPCWSTR lpOldValueName, LPCWSTR lpNewValueName);

// Asks, before a subtree delete begins, whether every key it would remove can go: the subkeys of
// hKey\lpSubKey, and the key itself when withKey. ERROR_SUCCESS when they can; ERROR_ACCESS_DENIED
// when one of them is a key the registry keeps (a root, the key where a hive begins), with the
// reason as a sentence in *why when why is given; the errors of RegOpenKeyExW otherwise.
LONG RegCheckTreeDeletable(HKEY hKey, LPCWSTR lpSubKey, bool withKey, std::string* why);

// The path of the key hKey\\lpSubKey with each name as the registry keeps it ("software\\wine" gives
// "Software\\Wine"), found without listing the keys beside it. The errors of RegOpenKeyExW; on
// failure *lpStoredPath is empty.
LONG RegQueryStoredPath(HKEY hKey, LPCWSTR lpSubKey, std::u16string* lpStoredPath);

// The name of a predefined root ("HKEY_CLASSES_ROOT", ...); empty for any other handle.
const char16_t* rootKeyName(HKEY root);
