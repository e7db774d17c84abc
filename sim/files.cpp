// The file system: the Windows and system directories, folders, files with attributes, and
// the kernel32 file functions with their Windows results.
#include "sim/state.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace sim {
namespace detail {

void files_reset() {
  m().files.clear();
  m().packages.clear();
  m().pending_deletions.clear();
  m().searches.clear();
}

void files_leaks(std::vector<std::string> &out) {
  for (auto &s : m().searches)
    out.push_back("open file search " + s.second.pattern);
}

// Paths are split at '\\' and '/' characters; a double-byte character is never split (its
// trail byte may be 0x5C, as in 表, or 0x7C, as in ポ).
bool normalize_path(const std::string &in, std::string &out) {
  std::string p = in;
  for (size_t i = 0; i < p.size(); i += char_length(p, i))
    if (p[i] == '/')
      p[i] = '\\';
  if (p.size() < 2 || p[1] != ':' || !std::isalpha(static_cast<unsigned char>(p[0])))
    return false; // the simulation has no current directory: full paths only
  std::vector<std::string> parts;
  std::string cur;
  auto flush = [&] {
    if (cur == ".") {
      // this folder
    } else if (cur == "..") {
      if (!parts.empty())
        parts.pop_back();
    } else {
      // Windows drops trailing dots and blanks of a name.
      while (!cur.empty() && (cur.back() == '.' || cur.back() == ' '))
        cur.pop_back();
      if (!cur.empty())
        parts.push_back(cur);
    }
    cur.clear();
  };
  for (size_t i = 2; i < p.size();) {
    size_t n = char_length(p, i);
    if (n == 1 && p[i] == '\\')
      flush();
    else
      cur.append(p, i, n);
    i += n;
  }
  flush();
  out = p.substr(0, 2);
  if (parts.empty())
    out += "\\";
  for (auto &part : parts)
    out += "\\" + part;
  return true;
}

std::string parent_path(const std::string &n) {
  if (n.size() <= 3)
    return std::string(); // a drive root has no parent
  size_t pos = std::string::npos;
  for (size_t i = 0; i < n.size(); i += char_length(n, i))
    if (n[i] == '\\')
      pos = i;
  if (pos == std::string::npos)
    return std::string();
  return pos == 2 ? n.substr(0, 3) : n.substr(0, pos);
}

const file_entry *find_file(const std::string &path) {
  std::string n;
  if (!normalize_path(path, n))
    return nullptr;
  auto it = m().files.find(upper(n));
  return it == m().files.end() ? nullptr : &it->second;
}

static file_entry *find_mut(const std::string &normalized) {
  auto it = m().files.find(upper(normalized));
  return it == m().files.end() ? nullptr : &it->second;
}

static bool folder_at(const std::string &normalized) {
  if (normalized.size() == 3)
    return true; // drive roots always exist
  file_entry *f = find_mut(normalized);
  return f && f->folder;
}

// The folder and every missing folder above it, the topmost first.
static void make_folders(const std::string &normalized) {
  std::vector<std::string> missing;
  for (std::string p = normalized; p.size() > 3 && !folder_at(p); p = parent_path(p))
    missing.push_back(p);
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    file_entry e;
    e.path = *it;
    e.folder = true;
    e.attributes = 0;
    m().files[upper(*it)] = e;
  }
}

static bool bad_name(const std::string &p) {
  for (size_t i = 0; i < p.size(); i += char_length(p, i)) {
    if (char_length(p, i) == 2)
      continue;
    char c = p[i];
    if (c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*' ||
        (c == ':' && i != 1) || (static_cast<unsigned char>(c) < 32))
      return true;
  }
  return false;
}

// Looks a path up for a file function: the entry, or the error Windows gives.
static file_entry *locate(const char *name, DWORD &error) {
  if (!name) {
    error = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  std::string n;
  if (bad_name(name)) {
    error = ERROR_INVALID_NAME;
    return nullptr;
  }
  if (!normalize_path(name, n)) {
    error = ERROR_PATH_NOT_FOUND;
    return nullptr;
  }
  if (file_entry *f = find_mut(n))
    return f;
  error = folder_at(parent_path(n)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
  return nullptr;
}

static UINT copy_directory(const std::string &dir, LPSTR buffer, UINT size) {
  UINT len = static_cast<UINT>(dir.size());
  if (!buffer || size < len + 1)
    return len + 1; // required size with the terminator; buffer untouched
  std::memcpy(buffer, dir.c_str(), len + 1);
  return len;
}

} // namespace detail

using namespace detail;

void set_windows_directory(const std::string &path) {
  std::string n;
  if (!normalize_path(path, n))
    return;
  m().windir = n;
  make_folders(n);
}

void set_system_directory(const std::string &path) {
  std::string n;
  if (!normalize_path(path, n))
    return;
  m().sysdir = n;
  make_folders(n);
}

void file_add(const std::string &path, DWORD attributes, const std::string &contents) {
  std::string n;
  if (!normalize_path(path, n) || n.size() <= 3)
    return;
  make_folders(parent_path(n));
  file_entry e;
  e.path = n;
  e.attributes = attributes ? attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY)
                            : static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL);
  e.contents = contents;
  m().files[upper(n)] = e;
}

void folder_add(const std::string &path) {
  std::string n;
  if (normalize_path(path, n))
    make_folders(n);
}

bool file_exists(const std::string &path) {
  const file_entry *f = find_file(path);
  return f && !f->folder;
}

bool folder_exists(const std::string &path) {
  std::string n;
  return normalize_path(path, n) && folder_at(n);
}

DWORD file_attributes(const std::string &path) {
  const file_entry *f = find_file(path);
  if (!f)
    return INVALID_FILE_ATTRIBUTES;
  if (f->folder)
    return f->attributes | FILE_ATTRIBUTE_DIRECTORY;
  return f->attributes;
}

void file_deny_attributes(const std::string &path, DWORD error) {
  std::string n;
  if (normalize_path(path, n))
    if (file_entry *f = find_mut(n))
      f->deny_attributes = error;
}

void file_deny_delete(const std::string &path, DWORD error) {
  std::string n;
  if (normalize_path(path, n))
    if (file_entry *f = find_mut(n))
      f->deny_delete = error;
}

void file_loaded(const std::string &path) {
  std::string n;
  if (normalize_path(path, n))
    if (file_entry *f = find_mut(n))
      f->loaded = true;
}

std::vector<std::string> pending_deletions() {
  return m().pending_deletions;
}

std::vector<std::string> file_list() {
  std::vector<std::string> out;
  for (auto &f : m().files) // keyed by the upper-cased path: already sorted
    if (!f.second.folder)
      out.push_back(f.second.path);
  return out;
}

} // namespace sim

using namespace sim::detail;

// Both folder queries: a faulted call returns 0 with the fault's error as last error.
static UINT directory_call(const char *function, const std::string &folder, LPSTR buffer,
                           UINT size) {
  DWORD err = enter(function, std::string());
  if (err) {
    m().last_error = err;
    return 0;
  }
  return copy_directory(folder, buffer, size);
}

UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
  return directory_call("GetWindowsDirectoryA", m().windir, lpBuffer, uSize);
}

UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
  return directory_call("GetSystemDirectoryA", m().sysdir, lpBuffer, uSize);
}

BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
  DWORD err = enter("SetFileAttributesA", str(lpFileName));
  if (err) {
    m().last_error = err;
    return FALSE;
  }
  file_entry *f = locate(lpFileName, err);
  if (!f) {
    m().last_error = err;
    return FALSE;
  }
  if (f->deny_attributes) {
    m().last_error = f->deny_attributes;
    return FALSE;
  }
  const DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                         FILE_ATTRIBUTE_ARCHIVE | 0x100 /*TEMPORARY*/ | 0x1000 /*OFFLINE*/ |
                         0x2000 /*NOT_CONTENT_INDEXED*/;
  DWORD a = dwFileAttributes & settable;
  if (a == 0 && !f->folder)
    a = FILE_ATTRIBUTE_NORMAL;
  f->attributes = a;
  record_change(sim::change::attributes_set, f->path);
  return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
  DWORD err = enter("DeleteFileA", str(lpFileName));
  if (err) {
    m().last_error = err;
    return FALSE;
  }
  file_entry *f = locate(lpFileName, err);
  if (!f) {
    m().last_error = err;
    return FALSE;
  }
  if (f->folder || (f->attributes & FILE_ATTRIBUTE_READONLY)) {
    m().last_error = ERROR_ACCESS_DENIED;
    return FALSE;
  }
  if (f->deny_delete) {
    m().last_error = f->deny_delete;
    return FALSE;
  }
  // Windows 10 and 11 keep the image file of a loaded driver; earlier versions let it go.
  if (f->loaded && m().platform == VER_PLATFORM_WIN32_NT && m().major >= 10) {
    m().last_error = ERROR_ACCESS_DENIED;
    return FALSE;
  }
  std::string path = f->path;
  m().files.erase(upper(path));
  record_change(sim::change::file_deleted, path);
  return TRUE;
}

// MoveFileExA. Only what the uninstaller asks of it is simulated: with no new name and
// MOVEFILE_DELAY_UNTIL_REBOOT, the deletion of an existing file at the next restart, which
// Windows records in the Session Manager's PendingFileRenameOperations and which needs no
// access to the file now (it may be in use). Any other move fails with
// ERROR_CALL_NOT_IMPLEMENTED, as the whole function does on Windows 98, where it is a stub.
BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
  DWORD err = enter("MoveFileExA", str(lpExistingFileName));
  if (err) {
    m().last_error = err;
    return FALSE;
  }
  if (m().platform != VER_PLATFORM_WIN32_NT || lpNewFileName ||
      !(dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT)) {
    m().last_error = ERROR_CALL_NOT_IMPLEMENTED;
    return FALSE;
  }
  file_entry *f = locate(lpExistingFileName, err);
  if (!f) {
    m().last_error = err;
    return FALSE;
  }
  m().pending_deletions.push_back(f->path);
  record_change(sim::change::file_deleted_at_restart, f->path);
  return TRUE;
}

// Whether a name matches a search pattern's last part: '*' any run of characters, '?' any one,
// without regard to case. Windows also matches a long name through its short name
// (oem12.inf.bak as OEM12~1.BAK); the simulation's files have no short names.
static bool wildcard_match(const std::string &name, size_t n, const std::string &mask, size_t k) {
  while (k < mask.size()) {
    if (mask[k] == '*') {
      for (size_t at = n;; at += char_length(name, at)) {
        if (wildcard_match(name, at, mask, k + 1))
          return true;
        if (at >= name.size())
          return false;
      }
    }
    if (n >= name.size())
      return false;
    size_t name_char = char_length(name, n), mask_char = char_length(mask, k);
    if (mask[k] != '?' && !ieq(name.substr(n, name_char), mask.substr(k, mask_char)))
      return false;
    n += name_char;
    k += mask_char;
  }
  return n == name.size();
}

static void fill_find_data(const file_search &s, size_t i, LPWIN32_FIND_DATAA data) {
  std::memset(data, 0, sizeof *data);
  data->dwFileAttributes = s.attributes[i];
  data->nFileSizeLow = static_cast<DWORD>(s.sizes[i]);
  std::strncpy(data->cFileName, s.names[i].c_str(), sizeof data->cFileName - 1);
}

// FindFirstFileA: the entries of one folder whose names match the last part of the pattern, in
// the order NTFS lists them (by upper-cased name), which is not the order of any number in the
// names. The search sees the folder as it was when it began. No match: ERROR_FILE_NOT_FOUND;
// a missing folder: ERROR_PATH_NOT_FOUND.
HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  DWORD err = enter("FindFirstFileA", str(lpFileName));
  auto fail = [](DWORD error) {
    m().last_error = error;
    return INVALID_HANDLE_VALUE;
  };
  if (err)
    return fail(err);
  if (!lpFileName || !lpFindFileData)
    return fail(ERROR_INVALID_PARAMETER);
  std::string pattern = lpFileName, folder;
  size_t slash = std::string::npos;
  for (size_t i = 0; i < pattern.size(); i += char_length(pattern, i))
    if (pattern[i] == '\\' || pattern[i] == '/')
      slash = i;
  if (slash == std::string::npos || !normalize_path(pattern.substr(0, slash + 1), folder))
    return fail(ERROR_PATH_NOT_FOUND);
  if (!folder_at(folder))
    return fail(ERROR_PATH_NOT_FOUND);
  std::string mask = pattern.substr(slash + 1);
  if (mask == "*.*")
    mask = "*";
  file_search s;
  s.pattern = pattern;
  std::string prefix = upper(folder.size() == 3 ? folder : folder + "\\");
  for (auto it = m().files.lower_bound(prefix);
       it != m().files.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
    const file_entry &e = it->second;
    std::string name = e.path.substr(prefix.size());
    bool child = true;
    for (size_t i = 0; i < name.size(); i += char_length(name, i))
      child = child && name[i] != '\\';
    if (!child || !wildcard_match(name, 0, mask, 0))
      continue;
    s.names.push_back(name);
    s.attributes.push_back(e.folder ? e.attributes | FILE_ATTRIBUTE_DIRECTORY : e.attributes);
    s.sizes.push_back(e.contents.size());
  }
  if (s.names.empty())
    return fail(ERROR_FILE_NOT_FOUND);
  fill_find_data(s, 0, lpFindFileData);
  s.next = 1;
  uintptr_t h = new_handle();
  m().searches[h] = s;
  m().last_error = 0;
  return reinterpret_cast<HANDLE>(h);
}

static file_search *search_of(HANDLE h) {
  auto it = m().searches.find(reinterpret_cast<uintptr_t>(h));
  return it == m().searches.end() ? nullptr : &it->second;
}

BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
  file_search *pre = search_of(hFindFile);
  DWORD err = enter("FindNextFileA", pre ? pre->pattern : std::string());
  if (err) {
    m().last_error = err;
    return FALSE;
  }
  file_search *s = search_of(hFindFile);
  if (!s || !lpFindFileData) {
    m().last_error = s ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE;
    return FALSE;
  }
  if (s->next >= s->names.size()) {
    m().last_error = ERROR_NO_MORE_FILES;
    return FALSE;
  }
  fill_find_data(*s, s->next++, lpFindFileData);
  return TRUE;
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
  file_search *pre = search_of(hFindFile);
  DWORD err = enter("FindClose", pre ? pre->pattern : std::string());
  if (err) {
    m().last_error = err;
    return FALSE;
  }
  if (!m().searches.erase(reinterpret_cast<uintptr_t>(hFindFile))) {
    m().last_error = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  return TRUE;
}
