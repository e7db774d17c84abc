// The registry below HKEY_LOCAL_MACHINE: keys, values, aliases (links), access checks and
// the advapi32 registry functions with their Windows results.
//
// Sizes: a key's subkeys live in an ordered map, so that adding, finding and deleting one
// costs log n in whatever order keys come, and enumeration by index goes on from where the
// previous call stood. Walks over a subtree (deletion, reset, export) and alias resolution
// keep their own stacks: a key path as deep as Windows allows costs no recursion.
#include "sim/state.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace sim {
namespace detail {

static const char kRoot[] = "HKEY_LOCAL_MACHINE";
static const size_t kIndexedValues = 16; // keys with more values get a name index
static const int kMaxAliasHops = 16;

// Visits `top` and every key below it, each before its subkeys and the subkeys in
// enumeration order. `path` is top's path; each visit gets the key and its own path, and
// returns whether to go on below that key.
template <class Visit> static void visit_subtree(key_node &top, std::string path, Visit visit) {
  struct frame {
    key_node *node;
    subkey_map::iterator next;
    size_t path_length;
  };
  if (!visit(top, path))
    return;
  std::vector<frame> stack{frame{&top, top.subkeys.begin(), path.size()}};
  while (!stack.empty()) {
    frame &f = stack.back();
    if (f.next == f.node->subkeys.end()) {
      stack.pop_back();
      continue;
    }
    key_node &k = *f.next->second;
    ++f.next;
    path.resize(f.path_length);
    if (!path.empty())
      path += '\\';
    path += k.name;
    if (visit(k, path))
      stack.push_back(frame{&k, k.subkeys.begin(), path.size()});
  }
}

// Marks a subtree deleted: handles that keep one of its keys see ERROR_KEY_DELETED, and
// the keys forget their parents, which may go away while a handle keeps a child alive.
static void mark_deleted(key_node &top) {
  visit_subtree(top, std::string(), [](key_node &k, const std::string &) {
    k.deleted = true;
    k.parent = nullptr;
    return true;
  });
}

void registry_reset() {
  machine &mm = m();
  if (mm.root)
    mark_deleted(*mm.root);
  mm.keys.clear();
  mm.root = std::make_shared<key_node>();
}

std::string key_path(const key_node *k) {
  std::vector<const std::string *> names;
  for (; k && k->parent; k = k->parent)
    names.push_back(&k->name);
  std::string out;
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    if (!out.empty())
      out += '\\';
    out += **it;
  }
  return out;
}

static size_t depth_of(const key_node *k) {
  size_t depth = 0;
  for (; k && k->parent; k = k->parent)
    ++depth;
  return depth;
}

static std::string full_path(const std::string &path) {
  return path.empty() ? std::string(kRoot) : std::string(kRoot) + "\\" + path;
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

static std::shared_ptr<key_node> child(key_node &k, const std::string &name) {
  auto it = k.subkeys.find(upper(name));
  return it == k.subkeys.end() ? nullptr : it->second;
}

static std::shared_ptr<key_node> add_child(key_node &parent, const std::string &name) {
  auto node = std::make_shared<key_node>();
  node->name = name;
  node->parent = &parent;
  std::string folded = upper(name);
  if (parent.cursor_valid &&
      (parent.cursor == parent.subkeys.end() || folded < parent.cursor->first))
    ++parent.cursor_index;
  parent.subkeys.emplace(std::move(folded), node);
  return node;
}

// Takes a key out of its parent's list, keeping the parent's enumeration cursor on the
// same index: after a deletion the next key moves up into the deleted one's place.
static void remove_child(key_node &parent, const key_node &k) {
  auto it = parent.subkeys.find(upper(k.name));
  if (it == parent.subkeys.end() || it->second.get() != &k)
    return;
  if (parent.cursor_valid) {
    if (it == parent.cursor)
      ++parent.cursor;
    else if (parent.cursor == parent.subkeys.end() || it->first < parent.cursor->first)
      --parent.cursor_index;
  }
  parent.subkeys.erase(it);
}

// The subkey at an index of the enumeration order, reached from the nearest of the first
// key, the previous call's position and the end.
static key_node *nth_subkey(key_node &k, size_t index) {
  size_t size = k.subkeys.size();
  if (index >= size)
    return nullptr;
  auto distance = [](size_t a, size_t b) { return a > b ? a - b : b - a; };
  subkey_map::iterator it = k.subkeys.begin();
  size_t at = 0;
  if (k.cursor_valid && distance(k.cursor_index, index) < index) {
    it = k.cursor;
    at = k.cursor_index;
  }
  if (size - index < distance(at, index)) {
    it = k.subkeys.end();
    at = size;
  }
  for (; at < index; ++at)
    ++it;
  for (; at > index; --at)
    --it;
  k.cursor = it;
  k.cursor_index = index;
  k.cursor_valid = true;
  return it->second.get();
}

// NT derives CurrentControlSet at startup from SYSTEM\Select: "Current" holds the number N
// of the control set ControlSet00N behind it (Microsoft's Windows 2000 registry reference,
// "CurrentControlSet" and "Select"). The simulation follows that value whenever the
// registry has it and the control set it names exists; otherwise the alias's own target.
static std::string selected_control_set() {
  std::shared_ptr<key_node> system = child(*m().root, "SYSTEM");
  std::shared_ptr<key_node> select = system ? child(*system, "Select") : nullptr;
  if (!select)
    return std::string();
  for (const value_entry &v : select->values) {
    if (!ieq(v.name, "Current") || v.type != REG_DWORD || v.data.size() != 4)
      continue;
    unsigned long n = 0;
    for (int i = 3; i >= 0; --i)
      n = n * 256 + static_cast<unsigned char>(v.data[i]);
    if (n == 0 || n > 999)
      return std::string();
    char name[32];
    std::snprintf(name, sizeof name, "ControlSet%03lu", n);
    return child(*system, name) ? std::string("SYSTEM\\") + name : std::string();
  }
  return std::string();
}

static std::string link_target(const key_node &alias) {
  if (alias.follows_select) {
    std::string selected = selected_control_set();
    if (!selected.empty())
      return selected;
  }
  return alias.link;
}

// Resolves `parts` from `from`: each name found (or, with `create`, made), each alias
// followed to its target. `route`, when given, gets "\name" for each name of `parts` as the
// key stores it (the names an alias stands for are not the caller's). Creation keeps
// Windows' depth limit; the keys made by a walk that fails are taken out again.
static std::shared_ptr<key_node> walk(std::shared_ptr<key_node> from,
                                      const std::vector<std::string> &parts, bool create,
                                      std::string *route) {
  struct step {
    const std::string *name;
    bool from_link;
  };
  std::vector<std::vector<std::string>> link_parts; // owns the names of followed aliases
  std::vector<step> todo;                           // the names still to go, last first
  for (auto it = parts.rbegin(); it != parts.rend(); ++it)
    todo.push_back(step{&*it, false});
  std::vector<std::shared_ptr<key_node>> made;
  auto fail = [&made]() -> std::shared_ptr<key_node> {
    for (auto it = made.rbegin(); it != made.rend(); ++it)
      if (key_node *parent = (*it)->parent)
        remove_child(*parent, **it);
    return nullptr;
  };
  std::shared_ptr<key_node> cur = std::move(from);
  size_t depth = create ? depth_of(cur.get()) : 0;
  int hops = 0;
  link_parts.reserve(kMaxAliasHops + 1); // the steps point into it: no reallocation
  while (!todo.empty()) {
    step s = todo.back();
    todo.pop_back();
    std::shared_ptr<key_node> next = child(*cur, *s.name);
    if (!next) {
      if (!create || depth + 1 > kMaxKeyDepth)
        return fail();
      next = add_child(*cur, *s.name);
      made.push_back(next);
    }
    if (route && !s.from_link)
      *route += "\\" + next->name;
    ++depth;
    if (!next->link.empty()) {
      if (++hops > kMaxAliasHops)
        return fail();
      link_parts.push_back(split_names(link_target(*next)));
      for (auto it = link_parts.back().rbegin(); it != link_parts.back().rend(); ++it)
        todo.push_back(step{&*it, true});
      next = m().root;
      depth = 0;
    }
    cur = std::move(next);
  }
  return cur;
}

static std::shared_ptr<key_node> lookup(const std::string &path) {
  return walk(m().root, split_names(strip_root(path)), false, nullptr);
}

// Whether every name fits Windows' limit on the length of a key name.
static bool names_fit(const std::vector<std::string> &parts) {
  for (const std::string &part : parts)
    if (char_count(part) > kMaxKeyName)
      return false;
  return true;
}

// The key, made with any missing parents; null when a name or the depth is over Windows'
// limits (and then nothing is made).
static std::shared_ptr<key_node> ensure(const std::string &path) {
  std::vector<std::string> parts = split_names(strip_root(path));
  if (!names_fit(parts))
    return nullptr;
  return walk(m().root, parts, true, nullptr);
}

// Deletes a subtree; `record` lists its keys as changes (parent first, then the subkeys
// in enumeration order), or only the key itself when `record_subtree` is false.
static void unlink_key(const std::shared_ptr<key_node> &k, bool record, bool record_subtree) {
  key_node *parent = k->parent;
  if (record) {
    if (record_subtree) {
      visit_subtree(*k, key_path(k.get()), [](key_node &, const std::string &path) {
        record_change(change::key_deleted, full_path(path));
        return true;
      });
    } else {
      record_change(change::key_deleted, full_path(key_path(k.get())));
    }
  }
  mark_deleted(*k);
  if (parent)
    remove_child(*parent, *k);
}

static size_t find_value(key_node &k, const std::string &name) {
  if (k.values.size() <= kIndexedValues) {
    for (size_t i = 0; i < k.values.size(); ++i)
      if (ieq(k.values[i].name, name))
        return i;
    return std::string::npos;
  }
  if (!k.value_index || k.value_index->size() != k.values.size()) {
    k.value_index.reset(new std::unordered_map<std::string, size_t>());
    for (size_t i = 0; i < k.values.size(); ++i)
      k.value_index->emplace(upper(k.values[i].name), i);
  }
  auto it = k.value_index->find(upper(name));
  return it == k.value_index->end() ? std::string::npos : it->second;
}

static void erase_value(key_node &k, size_t i) {
  k.values.erase(k.values.begin() + static_cast<std::ptrdiff_t>(i));
  k.value_index.reset(); // positions moved: made again when next needed
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

std::string key_handle_name(HKEY key, const char *subkey) {
  return subject_of(key, subkey);
}

// ---- Test-facing helpers ----------------------------------------------------------------

bool reg_add_key(const std::string &path) {
  return ensure(path) != nullptr;
}

bool reg_set_value(const std::string &path, const std::string &name, DWORD type,
                   const std::string &data) {
  if (char_count(name) > kMaxValueName)
    return false;
  std::shared_ptr<key_node> k = ensure(path);
  if (!k)
    return false;
  size_t i = find_value(*k, name);
  if (i != std::string::npos) {
    k->values[i].type = type;
    k->values[i].data = data;
    return true;
  }
  k->values.push_back(value_entry{name, type, data});
  if (k->value_index && k->value_index->size() + 1 == k->values.size())
    k->value_index->emplace(upper(name), k->values.size() - 1);
  return true;
}

bool reg_set_string(const std::string &path, const std::string &name, const std::string &text) {
  return reg_set_value(path, name, REG_SZ, text + std::string(1, '\0'));
}

bool reg_set_dword(const std::string &path, const std::string &name, DWORD value) {
  std::string data(4, '\0');
  for (int i = 0; i < 4; ++i)
    data[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return reg_set_value(path, name, REG_DWORD, data);
}

void reg_add_link(const std::string &alias, const std::string &target) {
  std::vector<std::string> parts = split_names(strip_root(alias));
  std::vector<std::string> target_parts = split_names(strip_root(target));
  if (parts.empty() || !names_fit(parts) || !names_fit(target_parts))
    return;
  std::string leaf = parts.back();
  parts.pop_back();
  std::shared_ptr<key_node> parent = walk(m().root, parts, true, nullptr);
  if (!parent)
    return;
  if (std::shared_ptr<key_node> old = child(*parent, leaf))
    unlink_key(old, false, false);
  std::shared_ptr<key_node> node = add_child(*parent, leaf);
  node->link = trim_backslashes(strip_root(target));
  node->follows_select = parent->parent == m().root.get() && ieq(parent->name, "SYSTEM") &&
                         ieq(leaf, "CurrentControlSet");
}

void reg_deny(const std::string &path, REGSAM access_mask) {
  if (std::shared_ptr<key_node> k = ensure(path))
    k->deny = access_mask;
}

// The entry a path names, an alias itself rather than its target, and its parent.
static std::shared_ptr<key_node> entry_of(const std::string &path,
                                          std::shared_ptr<key_node> &parent) {
  std::vector<std::string> parts = split_names(strip_root(path));
  if (parts.empty())
    return nullptr;
  std::string leaf = parts.back();
  parts.pop_back();
  parent = walk(m().root, parts, false, nullptr);
  return parent ? child(*parent, leaf) : nullptr;
}

void reg_delete_key(const std::string &path) {
  std::shared_ptr<key_node> parent;
  if (std::shared_ptr<key_node> k = entry_of(path, parent))
    unlink_key(k, false, false);
}

void reg_delete_value(const std::string &path, const std::string &name) {
  std::shared_ptr<key_node> k = lookup(path);
  size_t i = k ? find_value(*k, name) : std::string::npos;
  if (i != std::string::npos)
    erase_value(*k, i);
}

namespace detail {
void reg_delete_tree_recorded(const std::string &path) {
  std::shared_ptr<key_node> k = lookup(path);
  if (k && k->parent)
    unlink_key(k, true, true);
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
  return k && find_value(*k, name) != std::string::npos;
}

std::string reg_value(const std::string &path, const std::string &name) {
  std::shared_ptr<key_node> k = lookup(path);
  size_t i = k ? find_value(*k, name) : std::string::npos;
  return i == std::string::npos ? std::string() : k->values[i].data;
}

std::vector<std::string> reg_subkeys(const std::string &path) {
  std::vector<std::string> out;
  if (std::shared_ptr<key_node> k = lookup(path))
    for (auto &s : k->subkeys)
      out.push_back(s.second->name);
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
  std::shared_ptr<key_node> k = lookup(path);
  return k ? k->values : std::vector<reg_value_data>();
}

void reg_visit(const std::string &path, const reg_visitor &visit) {
  std::shared_ptr<key_node> top = lookup(path);
  if (!top)
    return;
  visit_subtree(*top, key_path(top.get()), [&visit](key_node &k, const std::string &p) {
    if (!k.link.empty())
      return false;
    visit(p, k.values);
    return true;
  });
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
  std::shared_ptr<key_node> k = walk(kh->key, split_names(sub), false, &route);
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
  key_node *sub = nth_subkey(*kh->key, dwIndex);
  if (!sub)
    return ERROR_NO_MORE_ITEMS;
  const std::string &name = sub->name;
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
  std::shared_ptr<key_node> k = walk(kh->key, split_names(sub), false, nullptr);
  if (!k)
    return ERROR_FILE_NOT_FOUND;
  if (!k->parent)
    return ERROR_ACCESS_DENIED; // the root itself
  if (denied(*k, DELETE))
    return ERROR_ACCESS_DENIED;
  if (sim::is_win98()) {
    unlink_key(k, true, true); // the whole subtree, parent first
  } else {
    if (!k->subkeys.empty())
      return ERROR_ACCESS_DENIED;
    unlink_key(k, true, false);
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
  key_node &k = *kh->key;
  size_t i = find_value(k, str(lpValueName));
  if (i == std::string::npos)
    return ERROR_FILE_NOT_FOUND;
  record_change(sim::change::value_deleted, full_path(key_path(&k)) + "\\" + k.values[i].name);
  erase_value(k, i);
  return ERROR_SUCCESS;
}

LONG WINAPI RegFlushKey(HKEY hKey) {
  DWORD err = enter("RegFlushKey", subject_of(hKey, nullptr));
  if (err)
    return static_cast<LONG>(err);
  key_handle *kh = nullptr;
  return usable_key(hKey, 0, &kh);
}
