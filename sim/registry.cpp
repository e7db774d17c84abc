// The registry below HKEY_LOCAL_MACHINE: keys, values, aliases (links), access checks and
// the advapi32 registry functions with their Windows results.
#include "sim/state.h"

#include <algorithm>
#include <cstring>

namespace sim {
namespace detail {

static const char kRoot[] = "HKEY_LOCAL_MACHINE";

void registry_reset() {
  machine &mm = m();
  if (mm.root) {
    // Handles that survive a reset see their keys as deleted.
    std::function<void(key_node &)> mark = [&](key_node &k) {
      k.deleted = true;
      k.parent = nullptr;
      for (auto &s : k.subkeys)
        mark(*s);
    };
    mark(*mm.root);
  }
  mm.keys.clear();
  mm.root = std::make_shared<key_node>();
}

std::string key_path(const key_node *k) {
  std::string out;
  for (; k && k->parent; k = k->parent)
    out = out.empty() ? k->name : k->name + "\\" + out;
  return out;
}

static std::string full_path(const key_node *k) {
  std::string p = key_path(k);
  return p.empty() ? std::string(kRoot) : std::string(kRoot) + "\\" + p;
}

// Splits a subkey path at backslashes, dropping empty components (so a trailing
// backslash is accepted).
static std::vector<std::string> split(const std::string &path) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : path) {
    if (c == '\\') {
      if (!cur.empty())
        parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty())
    parts.push_back(cur);
  return parts;
}

// Helper paths may carry an "HKEY_LOCAL_MACHINE\" or "HKLM\" prefix.
static std::string strip_root(const std::string &path) {
  for (const char *prefix : {"HKEY_LOCAL_MACHINE", "HKLM"}) {
    std::string p = prefix;
    if (path.size() >= p.size() && ieq(path.substr(0, p.size()), p) &&
        (path.size() == p.size() || path[p.size()] == '\\'))
      return path.substr(p.size());
  }
  return path;
}

static std::string trim_backslashes(std::string s) {
  while (!s.empty() && s.back() == '\\')
    s.pop_back();
  return s;
}

static std::vector<std::shared_ptr<key_node>>::iterator find_slot(key_node &k,
                                                                  const std::string &name) {
  return std::lower_bound(
      k.subkeys.begin(), k.subkeys.end(), name,
      [](const std::shared_ptr<key_node> &a, const std::string &n) { return iless(a->name, n); });
}

static std::shared_ptr<key_node> child(key_node &k, const std::string &name) {
  auto it = find_slot(k, name);
  if (it != k.subkeys.end() && ieq((*it)->name, name))
    return *it;
  return nullptr;
}

static std::shared_ptr<key_node> walk(std::shared_ptr<key_node> from,
                                      const std::vector<std::string> &parts, bool create,
                                      std::string *route, int depth);

// Follows an alias to the key it stands for (null when it leads nowhere).
static std::shared_ptr<key_node> follow(std::shared_ptr<key_node> entry, bool create, int depth) {
  if (!entry || entry->link.empty())
    return entry;
  if (depth > 16)
    return nullptr;
  return walk(m().root, split(entry->link), create, nullptr, depth + 1);
}

static std::shared_ptr<key_node> walk(std::shared_ptr<key_node> from,
                                      const std::vector<std::string> &parts, bool create,
                                      std::string *route, int depth) {
  std::shared_ptr<key_node> cur = std::move(from);
  for (const std::string &part : parts) {
    std::shared_ptr<key_node> next = child(*cur, part);
    if (!next) {
      if (!create)
        return nullptr;
      next = std::make_shared<key_node>();
      next->name = part;
      next->parent = cur.get();
      cur->subkeys.insert(find_slot(*cur, part), next);
    }
    if (route)
      *route += "\\" + next->name;
    next = follow(next, create, depth);
    if (!next)
      return nullptr;
    cur = next;
  }
  return cur;
}

static std::shared_ptr<key_node> lookup(const std::string &path) {
  return walk(m().root, split(strip_root(path)), false, nullptr, 0);
}

static std::shared_ptr<key_node> ensure(const std::string &path) {
  return walk(m().root, split(strip_root(path)), true, nullptr, 0);
}

static void mark_deleted(key_node &k, std::vector<std::string> *record) {
  k.deleted = true;
  if (record)
    record->push_back(full_path(&k));
  for (auto &s : k.subkeys)
    mark_deleted(*s, record);
}

// Deleted keys forget their parents, which may go away while a handle keeps a child alive.
static void detach(key_node &k) {
  k.parent = nullptr;
  for (auto &s : k.subkeys)
    detach(*s);
}

// Takes a key out of its parent; the node lives on while handles refer to it.
static void unlink_key(const std::shared_ptr<key_node> &k, bool record_subtree) {
  std::vector<std::string> record;
  mark_deleted(*k, &record);
  if (!record_subtree)
    record.resize(1);
  for (auto &r : record)
    record_change(change::key_deleted, r);
  key_node *parent = k->parent;
  detach(*k);
  if (parent) {
    auto &v = parent->subkeys;
    v.erase(std::remove(v.begin(), v.end(), k), v.end());
  }
}

// The key behind a handle; HKEY_LOCAL_MACHINE is always valid.
static key_handle *handle_of(HKEY h) {
  static key_handle root_handle;
  if (h == HKEY_LOCAL_MACHINE) {
    root_handle = key_handle{m().root, kRoot, KEY_ALL_ACCESS};
    return &root_handle;
  }
  auto it = m().keys.find(reinterpret_cast<uintptr_t>(h));
  return it == m().keys.end() ? nullptr : &it->second;
}

static std::string subject_of(HKEY h, const char *sub) {
  key_handle *kh = handle_of(h);
  std::string base = kh ? kh->path : std::string();
  std::string s = trim_backslashes(str(sub));
  if (s.empty())
    return base;
  return base.empty() ? s : base + "\\" + s;
}

// Handle access is checked on NT only: Windows 98 has no registry security.
static bool access_ok(const key_handle &kh, REGSAM needed) {
  return is_win98() || (kh.access & needed) != 0;
}

// A denied mask refuses a request when they share a right other than READ_CONTROL
// (which both KEY_READ and KEY_WRITE contain).
static bool denied(const key_node &k, REGSAM requested) {
  return (k.deny & requested & ~static_cast<REGSAM>(READ_CONTROL)) != 0;
}

// The key behind a handle that a call may use: ERROR_SUCCESS with *out set, or the error the
// call returns for an unknown handle, a key deleted since it was opened, or (on NT) a handle
// opened without the `needed` right (none when 0).
static LONG usable_key(HKEY h, REGSAM needed, key_handle **out) {
  key_handle *kh = handle_of(h);
  if (!kh)
    return ERROR_INVALID_HANDLE;
  if (kh->key->deleted)
    return ERROR_KEY_DELETED;
  if (needed && !access_ok(*kh, needed))
    return ERROR_ACCESS_DENIED;
  *out = kh;
  return ERROR_SUCCESS;
}

} // namespace detail

using namespace detail;

// ---- Test-facing helpers ----------------------------------------------------------------

void reg_add_key(const std::string &path) {
  ensure(path);
}

void reg_set_value(const std::string &path, const std::string &name, DWORD type,
                   const std::string &data) {
  std::shared_ptr<key_node> k = ensure(path);
  if (!k)
    return;
  for (auto &v : k->values)
    if (ieq(v.name, name)) {
      v.type = type;
      v.data = data;
      return;
    }
  k->values.push_back(value_entry{name, type, data});
}

void reg_set_string(const std::string &path, const std::string &name, const std::string &text) {
  reg_set_value(path, name, REG_SZ, text + std::string(1, '\0'));
}

void reg_set_dword(const std::string &path, const std::string &name, DWORD value) {
  std::string data(4, '\0');
  for (int i = 0; i < 4; ++i)
    data[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  reg_set_value(path, name, REG_DWORD, data);
}

void reg_add_link(const std::string &alias, const std::string &target) {
  std::vector<std::string> parts = split(strip_root(alias));
  if (parts.empty())
    return;
  std::string leaf = parts.back();
  parts.pop_back();
  std::shared_ptr<key_node> parent = walk(m().root, parts, true, nullptr, 0);
  if (!parent)
    return;
  if (std::shared_ptr<key_node> old = child(*parent, leaf)) {
    mark_deleted(*old, nullptr);
    detach(*old);
    parent->subkeys.erase(std::remove(parent->subkeys.begin(), parent->subkeys.end(), old),
                          parent->subkeys.end());
  }
  auto node = std::make_shared<key_node>();
  node->name = leaf;
  node->parent = parent.get();
  node->link = trim_backslashes(strip_root(target));
  parent->subkeys.insert(find_slot(*parent, leaf), node);
}

void reg_deny(const std::string &path, REGSAM access_mask) {
  if (std::shared_ptr<key_node> k = ensure(path))
    k->deny = access_mask;
}

// The entry a path names, an alias itself rather than its target, and its parent.
static std::shared_ptr<key_node> entry_of(const std::string &path,
                                          std::shared_ptr<key_node> &parent) {
  std::vector<std::string> parts = split(strip_root(path));
  if (parts.empty())
    return nullptr;
  std::string leaf = parts.back();
  parts.pop_back();
  parent = walk(m().root, parts, false, nullptr, 0);
  return parent ? child(*parent, leaf) : nullptr;
}

void reg_delete_key(const std::string &path) {
  std::shared_ptr<key_node> parent;
  std::shared_ptr<key_node> k = entry_of(path, parent);
  if (!k)
    return;
  mark_deleted(*k, nullptr);
  detach(*k);
  parent->subkeys.erase(std::remove(parent->subkeys.begin(), parent->subkeys.end(), k),
                        parent->subkeys.end());
}

void reg_delete_value(const std::string &path, const std::string &name) {
  std::shared_ptr<key_node> k = lookup(path);
  if (!k)
    return;
  auto &vals = k->values;
  vals.erase(std::remove_if(vals.begin(), vals.end(),
                            [&](const value_entry &v) { return ieq(v.name, name); }),
             vals.end());
}

namespace detail {
void reg_delete_tree_recorded(const std::string &path) {
  std::shared_ptr<key_node> k = lookup(path);
  if (k && k->parent)
    unlink_key(k, true);
}
} // namespace detail

std::string reg_link(const std::string &path) {
  std::shared_ptr<key_node> parent;
  std::shared_ptr<key_node> k = entry_of(path, parent);
  return k ? k->link : std::string();
}

bool reg_key_exists(const std::string &path) {
  return lookup(path) != nullptr;
}

bool reg_value_exists(const std::string &path, const std::string &name) {
  std::shared_ptr<key_node> k = lookup(path);
  if (!k)
    return false;
  for (auto &v : k->values)
    if (ieq(v.name, name))
      return true;
  return false;
}

std::string reg_value(const std::string &path, const std::string &name) {
  std::shared_ptr<key_node> k = lookup(path);
  if (k)
    for (auto &v : k->values)
      if (ieq(v.name, name))
        return v.data;
  return std::string();
}

std::vector<std::string> reg_subkeys(const std::string &path) {
  std::vector<std::string> out;
  if (std::shared_ptr<key_node> k = lookup(path))
    for (auto &s : k->subkeys)
      out.push_back(s->name);
  return out;
}

std::vector<std::string> reg_values(const std::string &path) {
  std::vector<std::string> out;
  if (std::shared_ptr<key_node> k = lookup(path))
    for (auto &v : k->values)
      out.push_back(v.name);
  return out;
}

std::vector<reg_value_data> reg_value_list(const std::string &path) {
  std::vector<reg_value_data> out;
  if (std::shared_ptr<key_node> k = lookup(path))
    for (auto &v : k->values)
      out.push_back(reg_value_data{v.name, v.type, v.data});
  return out;
}

} // namespace sim

using namespace sim::detail;

// ---- advapi32 ---------------------------------------------------------------------------
// Registry functions return their error code and leave the thread's last error alone.

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                          PHKEY phkResult) {
  (void)ulOptions;
  DWORD err = enter("RegOpenKeyExA", subject_of(hKey, lpSubKey));
  if (phkResult)
    *phkResult = nullptr;
  if (err)
    return static_cast<LONG>(err);
  if (!phkResult)
    return ERROR_INVALID_PARAMETER;
  key_handle *kh = nullptr;
  if (LONG error = usable_key(hKey, 0, &kh))
    return error;
  std::string sub = str(lpSubKey);
  if (!sub.empty() && sub[0] == '\\')
    return ERROR_BAD_PATHNAME;
  std::string route = kh->path;
  std::shared_ptr<key_node> k = walk(kh->key, split(sub), false, &route, 0);
  if (!k)
    return ERROR_FILE_NOT_FOUND;
  if (denied(*k, samDesired))
    return ERROR_ACCESS_DENIED;
  uintptr_t h = new_handle();
  m().keys[h] = key_handle{k, route, samDesired};
  *phkResult = reinterpret_cast<HKEY>(h);
  return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY hKey) {
  DWORD err = enter("RegCloseKey", subject_of(hKey, nullptr));
  if (err)
    return static_cast<LONG>(err);
  if (hKey == HKEY_LOCAL_MACHINE)
    return ERROR_SUCCESS;
  auto it = m().keys.find(reinterpret_cast<uintptr_t>(hKey));
  if (it == m().keys.end())
    return ERROR_INVALID_HANDLE;
  m().keys.erase(it);
  return ERROR_SUCCESS;
}

LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                          LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                          PFILETIME lpftLastWriteTime) {
  DWORD err = enter("RegEnumKeyExA", subject_of(hKey, nullptr));
  if (err)
    return static_cast<LONG>(err);
  key_handle *kh = nullptr;
  if (LONG error = usable_key(hKey, KEY_ENUMERATE_SUB_KEYS, &kh))
    return error;
  if (!lpName || !lpcchName || lpReserved || (lpClass && !lpcchClass))
    return ERROR_INVALID_PARAMETER;
  const auto &subs = kh->key->subkeys;
  if (dwIndex >= subs.size())
    return ERROR_NO_MORE_ITEMS;
  const std::string &name = subs[dwIndex]->name;
  if (name.size() + 1 > *lpcchName)
    return ERROR_MORE_DATA;
  std::memcpy(lpName, name.c_str(), name.size() + 1);
  *lpcchName = static_cast<DWORD>(name.size());
  if (lpClass) {
    if (*lpcchClass < 1)
      return ERROR_MORE_DATA;
    lpClass[0] = '\0';
  }
  if (lpcchClass)
    *lpcchClass = 0;
  if (lpftLastWriteTime) {
    // 2001-01-01 00:00 UTC, a plausible time for every key.
    lpftLastWriteTime->dwLowDateTime = 0x0A2E8000;
    lpftLastWriteTime->dwHighDateTime = 0x01C07385;
  }
  return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  DWORD err = enter("RegDeleteKeyA", subject_of(hKey, lpSubKey));
  if (err)
    return static_cast<LONG>(err);
  key_handle *kh = nullptr;
  if (LONG error = usable_key(hKey, 0, &kh))
    return error;
  if (!lpSubKey)
    return ERROR_INVALID_PARAMETER;
  std::string sub = lpSubKey;
  if (!sub.empty() && sub[0] == '\\')
    return ERROR_BAD_PATHNAME;
  std::shared_ptr<key_node> k = walk(kh->key, split(sub), false, nullptr, 0);
  if (!k)
    return ERROR_FILE_NOT_FOUND;
  if (!k->parent)
    return ERROR_ACCESS_DENIED; // the root itself
  if (denied(*k, DELETE))
    return ERROR_ACCESS_DENIED;
  if (sim::is_win98()) {
    unlink_key(k, true); // the whole subtree, parent first
  } else {
    if (!k->subkeys.empty())
      return ERROR_ACCESS_DENIED;
    unlink_key(k, false);
  }
  return ERROR_SUCCESS;
}

LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                          LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  DWORD err = enter("RegEnumValueA", subject_of(hKey, nullptr));
  if (err)
    return static_cast<LONG>(err);
  key_handle *kh = nullptr;
  if (LONG error = usable_key(hKey, KEY_QUERY_VALUE, &kh))
    return error;
  if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData))
    return ERROR_INVALID_PARAMETER;
  const auto &vals = kh->key->values;
  if (dwIndex >= vals.size())
    return ERROR_NO_MORE_ITEMS;
  const value_entry &v = vals[dwIndex];
  if (v.name.size() + 1 > *lpcchValueName)
    return ERROR_MORE_DATA;
  if (lpData && v.data.size() > *lpcbData) {
    *lpcbData = static_cast<DWORD>(v.data.size());
    return ERROR_MORE_DATA;
  }
  std::memcpy(lpValueName, v.name.c_str(), v.name.size() + 1);
  *lpcchValueName = static_cast<DWORD>(v.name.size());
  if (lpType)
    *lpType = v.type;
  if (lpData && !v.data.empty())
    std::memcpy(lpData, v.data.data(), v.data.size());
  if (lpcbData)
    *lpcbData = static_cast<DWORD>(v.data.size());
  return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  key_handle *pre = handle_of(hKey);
  std::string subject = pre ? pre->path + "\\" + str(lpValueName) : std::string();
  DWORD err = enter("RegDeleteValueA", subject);
  if (err)
    return static_cast<LONG>(err);
  key_handle *kh = nullptr;
  if (LONG error = usable_key(hKey, KEY_SET_VALUE, &kh))
    return error;
  std::string name = str(lpValueName);
  auto &vals = kh->key->values;
  for (auto it = vals.begin(); it != vals.end(); ++it)
    if (ieq(it->name, name)) {
      record_change(sim::change::value_deleted, full_path(kh->key.get()) + "\\" + it->name);
      vals.erase(it);
      return ERROR_SUCCESS;
    }
  return ERROR_FILE_NOT_FOUND;
}

LONG WINAPI RegFlushKey(HKEY hKey) {
  DWORD err = enter("RegFlushKey", subject_of(hKey, nullptr));
  if (err)
    return static_cast<LONG>(err);
  key_handle *kh = nullptr;
  return usable_key(hKey, 0, &kh);
}
