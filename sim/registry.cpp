// The registry below HKEY_LOCAL_MACHINE: keys, values, aliases (links), access checks and
// the advapi32 registry functions with their Windows results.
//
// Sizes: a key's subkeys live in an ordered set, so that adding, finding and deleting one
// costs log n in whatever order keys come, and enumeration by index goes on from where the
// previous call stood. A snapshot of a Windows 10 machine holds a million keys, so a key
// carries only what every key needs (key_node). Walks over a subtree (deletion, export) and
// alias resolution keep their own stacks: a key path as deep as Windows allows costs no
// recursion.
#include "sim/state.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace sim {
namespace detail {

static const char kRoot[] = "HKEY_LOCAL_MACHINE";
static const size_t kIndexedValues = 16; // keys with more values get a name index
static const int kMaxAliasHops = 16;

bool subkey_order::operator()(const std::unique_ptr<key_node> &a,
                              const std::unique_ptr<key_node> &b) const {
  return compare_names(a->name, b->name) < 0;
}
bool subkey_order::operator()(const std::unique_ptr<key_node> &a, const std::string &name) const {
  return compare_names(a->name, name) < 0;
}
bool subkey_order::operator()(const std::string &name, const std::unique_ptr<key_node> &b) const {
  return compare_names(name, b->name) < 0;
}

// Visits `top` and every key below it, each before its subkeys and the subkeys in
// enumeration order. `path` is top's path; each visit gets the key and its own path, and
// returns whether to go on below that key.
template <class Visit> static void visit_subtree(key_node &top, std::string path, Visit visit) {
  struct frame {
    key_node *node;
    subkey_set::iterator next;
    size_t path_length;
  };
  std::vector<frame> stack;
  auto enter = [&stack, &path](key_node &k) {
    if (k.subkeys)
      stack.push_back(frame{&k, k.subkeys->begin(), path.size()});
  };
  if (!visit(top, path))
    return;
  enter(top);
  while (!stack.empty()) {
    frame &f = stack.back();
    if (f.next == f.node->subkeys->end()) {
      stack.pop_back();
      continue;
    }
    key_node &k = **f.next;
    ++f.next;
    path.resize(f.path_length);
    if (!path.empty())
      path += '\\';
    path += k.name;
    if (visit(k, path))
      enter(k);
  }
}

// Marks a subtree deleted: handles that keep one of its keys see ERROR_KEY_DELETED.
static void mark_deleted(key_node &top) {
  visit_subtree(top, std::string(), [](key_node &k, const std::string &) {
    k.deleted = true;
    return true;
  });
}

// No handle outlives a reset, so the old keys simply go.
void registry_reset() {
  machine &mm = m();
  mm.keys.clear();
  mm.deleted_keys.clear();
  mm.registry = registry_tree();
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

// Helper paths may carry an "HKEY_LOCAL_MACHINE\" or "HKLM\" prefix: where the path below
// HKEY_LOCAL_MACHINE starts (at the backslash after the prefix, or 0).
static size_t root_prefix_length(const std::string &path) {
  for (const char *prefix : {"HKEY_LOCAL_MACHINE", "HKLM"}) {
    size_t n = std::strlen(prefix);
    if (path.size() >= n && ieq(path.substr(0, n), prefix) && (path.size() == n || path[n] == '\\'))
      return n;
  }
  return 0;
}

static std::string strip_root(const std::string &path) {
  return path.substr(root_prefix_length(path));
}

// Loading a machine adds keys in their order, since regedit writes them so: a name that
// comes after a key's last subkey is neither looked up nor placed by a search.
static bool after_last_subkey(const key_node &k, const std::string &name) {
  return !k.subkeys || k.subkeys->empty() || compare_names(name, (*k.subkeys->rbegin())->name) > 0;
}

// The subkey of that name and where it stands; null when there is none.
static key_node *find_child(key_node &k, const std::string &name, subkey_set::iterator &position) {
  if (after_last_subkey(k, name))
    return nullptr;
  position = k.subkeys->find(name);
  return position == k.subkeys->end() ? nullptr : position->get();
}

static key_node *child(key_node &k, const std::string &name) {
  subkey_set::iterator ignored;
  return find_child(k, name, ignored);
}

// Whether a key is SYSTEM (`name`) below the root, or (`name` "Select") a subkey of it: the
// keys that decide what CurrentControlSet stands for (machine::alias_epoch).
static bool is_system_key(const key_node &k) {
  return k.parent && !k.parent->parent && ieq(k.name, "SYSTEM");
}
static bool is_select_key(const key_node &k) {
  return k.parent && is_system_key(*k.parent) && ieq(k.name, "Select");
}

// Makes a key (with its subtree) a subkey of `parent`, which has none of its name, keeping
// the parent's enumeration cursor on the same key; returns where it stands.
static subkey_set::iterator insert_child(key_node &parent, std::unique_ptr<key_node> node) {
  if (is_system_key(parent))
    ++m().alias_epoch;
  bool last = after_last_subkey(parent, node->name);
  node->parent = &parent;
  if (!parent.subkeys)
    parent.subkeys.reset(new subkey_set());
  if (parent.cursor && (parent.cursor->at == parent.subkeys->end() ||
                        compare_names(node->name, (*parent.cursor->at)->name) < 0))
    ++parent.cursor->index;
  if (last)
    return parent.subkeys->insert(parent.subkeys->end(), std::move(node));
  return parent.subkeys->insert(std::move(node)).first;
}

static key_node *adopt_child(key_node &parent, std::unique_ptr<key_node> node) {
  return insert_child(parent, std::move(node))->get();
}

static std::unique_ptr<key_node> new_key(std::string name) {
  std::unique_ptr<key_node> node(new key_node());
  node->name = std::move(name);
  return node;
}

static key_node *add_child(key_node &parent, std::string name) {
  return adopt_child(parent, new_key(std::move(name)));
}

// Takes a key out of its parent's list, keeping the parent's enumeration cursor on the
// same index: after a deletion the next key moves up into the deleted one's place. Returns
// the key, which the caller keeps (a deleted key) or lets go (one a failed walk made).
static std::unique_ptr<key_node> remove_child(key_node &parent, subkey_set::iterator it) {
  const key_node &k = **it;
  if (parent.cursor) {
    if (it == parent.cursor->at)
      ++parent.cursor->at;
    else if (parent.cursor->at == parent.subkeys->end() ||
             compare_names(k.name, (*parent.cursor->at)->name) < 0)
      --parent.cursor->index;
  }
  std::unique_ptr<key_node> out = std::move(parent.subkeys->extract(it).value());
  out->parent = nullptr;
  return out;
}

static std::unique_ptr<key_node> remove_child(key_node &parent, const key_node &k) {
  if (!parent.subkeys)
    return nullptr;
  auto it = parent.subkeys->find(k.name);
  if (it == parent.subkeys->end() || it->get() != &k)
    return nullptr;
  return remove_child(parent, it);
}

// The subkey at an index of the enumeration order, reached from the nearest of the first
// key, the previous call's position and the end.
static key_node *nth_subkey(key_node &k, size_t index) {
  size_t size = k.subkeys ? k.subkeys->size() : 0;
  if (index >= size)
    return nullptr;
  auto distance = [](size_t a, size_t b) { return a > b ? a - b : b - a; };
  subkey_set::iterator it = k.subkeys->begin();
  size_t at = 0;
  if (k.cursor && distance(k.cursor->index, index) < index) {
    it = k.cursor->at;
    at = k.cursor->index;
  }
  if (size - index < distance(at, index)) {
    it = k.subkeys->end();
    at = size;
  }
  for (; at < index; ++at)
    ++it;
  for (; at > index; --at)
    --it;
  if (!k.cursor)
    k.cursor.reset(new enum_cursor());
  k.cursor->at = it;
  k.cursor->index = index;
  return it->get();
}

// NT derives CurrentControlSet at startup from SYSTEM\Select: "Current" holds the number N
// of the control set ControlSet00N behind it (Microsoft's Windows 2000 registry reference,
// "CurrentControlSet" and "Select"). The simulation follows that value whenever the
// registry has it and the control set it names exists; otherwise the alias's own target.
static std::string selected_control_set() {
  key_node *system = child(*m().registry.root, "SYSTEM");
  key_node *select = system ? child(*system, "Select") : nullptr;
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

static std::string link_target(const key_alias &alias) {
  if (alias.follows_select) {
    std::string selected = selected_control_set();
    if (!selected.empty())
      return selected;
  }
  return alias.target;
}

// Resolves `parts` from `from`: each name found (or, with `create`, made), each alias
// followed to its target. `route`, when given, gets "\name" for each name of `parts` as the
// key stores it (the names an alias stands for are not the caller's). Creation keeps
// Windows' depth limit; the keys made by a walk that fails are taken out again.
static key_node *walk(key_node *from, const std::vector<std::string> &parts, bool create,
                      std::string *route) {
  struct step {
    const std::string *name;
    bool from_link;
  };
  std::vector<std::vector<std::string>> link_parts; // owns the names of followed aliases
  std::vector<step> todo;                           // the names still to go, last first
  for (auto it = parts.rbegin(); it != parts.rend(); ++it)
    todo.push_back(step{&*it, false});
  std::vector<key_node *> made;
  auto fail = [&made]() -> key_node * {
    for (auto it = made.rbegin(); it != made.rend(); ++it)
      if (key_node *parent = (*it)->parent)
        remove_child(*parent, **it); // nothing refers to a key just made: it goes
    return nullptr;
  };
  key_node *cur = from;
  size_t depth = create ? depth_of(cur) : 0;
  int hops = 0;
  link_parts.reserve(kMaxAliasHops + 1); // the steps point into it: no reallocation
  while (!todo.empty()) {
    step s = todo.back();
    todo.pop_back();
    key_node *next = child(*cur, *s.name);
    if (!next) {
      if (!create || depth + 1 > kMaxKeyDepth)
        return fail();
      next = add_child(*cur, *s.name);
      made.push_back(next);
    }
    if (route && !s.from_link)
      *route += "\\" + next->name;
    ++depth;
    if (next->alias) {
      if (++hops > kMaxAliasHops)
        return fail();
      link_parts.push_back(split_names(link_target(*next->alias)));
      for (auto it = link_parts.back().rbegin(); it != link_parts.back().rend(); ++it)
        todo.push_back(step{&*it, true});
      next = m().registry.root.get();
      depth = 0;
    }
    cur = next;
  }
  return cur;
}

static key_node *lookup(const std::string &path) {
  return walk(m().registry.root.get(), split_names(strip_root(path)), false, nullptr);
}

static key_node *lookup_in(registry_tree &tree, const std::string &path) {
  return walk(tree.root.get(), split_names(strip_root(path)), false, nullptr);
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
static key_node *ensure_walked(registry_tree &tree, const std::string &path) {
  std::vector<std::string> parts = split_names(strip_root(path));
  if (!names_fit(parts))
    return nullptr;
  return walk(tree.root.get(), parts, true, nullptr);
}

// Where the name that starts at path[i] ends: at the next backslash of its own, or the end.
static size_t name_end(const std::string &path, size_t i) {
  size_t end = std::min(path.find('\\', i), path.size());
  if (std::all_of(path.begin() + i, path.begin() + end, [](char c) { return (c & 0x80) == 0; }))
    return end; // ASCII: no byte is a trail byte
  while (i < path.size() && path[i] != '\\')
    i += char_length(path, i);
  return i;
}

// How many bytes two texts share at their start; compared eight at a time.
static size_t common_start(const std::string &a, const std::string &b) {
  size_t n = std::min(a.size(), b.size()), i = 0;
  for (uint64_t x, y; i + 8 <= n; i += 8) {
    std::memcpy(&x, a.data() + i, 8);
    std::memcpy(&y, b.data() + i, 8);
    if (x != y)
      break;
  }
  while (i < n && a[i] == b[i])
    ++i;
  return i;
}

// Whether a name resolved before still leads where it led: its key is not deleted, and an
// alias still stands for the same target (CurrentControlSet follows Select\Current), which
// needs a new look only after a change that may have moved it.
static bool still_resolved(resolved_name &name) {
  if (name.key->deleted)
    return false;
  if (!name.alias || name.epoch == m().alias_epoch)
    return true;
  if (name.alias->deleted || !name.alias->alias || link_target(*name.alias->alias) != name.target)
    return false;
  name.epoch = m().alias_epoch;
  return true;
}

// ensure() with a shortcut for what loading a machine does: a .reg file names each key
// before its values and keys in tree order, so a path mostly repeats the previous one or
// shares all but its last names with it. Those names are not looked up again: the walk
// starts at the deepest key of the tree's last_ensured that the path shares and that is
// still resolved the same way. What the shortcut cannot settle (an alias whose target is
// missing) takes ensure_walked().
static key_node *ensure(registry_tree &tree, const std::string &path) {
  resolved_path &last = tree.last_ensured;
  size_t same = common_start(path, last.path);
  size_t known = 0; // names of the previous path that this one repeats in full
  while (known < last.names.size() && last.names[known].end <= same &&
         (last.names[known].end == path.size() || path[last.names[known].end] == '\\') &&
         still_resolved(last.names[known]))
    ++known;
  // The previous path's name after those: mostly the sibling before the next name, which
  // then is the key after it (subkeys are named in their order).
  bool have_sibling = known < last.names.size();
  resolved_name sibling = have_sibling ? last.names[known] : resolved_name();
  last.names.resize(known);
  last.path = path;
  size_t i = known ? last.names.back().end : root_prefix_length(path);
  key_node *cur = known ? last.names.back().key : tree.root.get();
  // The names that exist, aliases followed.
  for (;;) {
    while (i < path.size() && path[i] == '\\')
      ++i;
    if (i == path.size())
      return cur;
    size_t end = name_end(path, i);
    std::string name_text = path.substr(i, end - i);
    resolved_name name{end, nullptr, {}, nullptr, std::string(), m().alias_epoch};
    key_node *at_sibling = have_sibling ? (sibling.alias ? sibling.alias : sibling.key) : nullptr;
    if (at_sibling && !at_sibling->deleted && at_sibling->parent == cur) {
      auto after = std::next(sibling.position);
      if (after != cur->subkeys->end() && compare_names(name_text, (*after)->name) == 0) {
        name.key = after->get();
        name.position = after;
      }
    }
    have_sibling = false;
    if (!name.key)
      name.key = find_child(*cur, name_text, name.position);
    if (!name.key)
      break;
    if (name.key->alias) {
      name.alias = name.key;
      name.target = link_target(*name.alias->alias);
      name.key = walk(m().registry.root.get(), split_names(name.target), false, nullptr);
      if (!name.key) {
        last.names.clear();
        last.path.clear();
        return ensure_walked(tree, path);
      }
    }
    last.names.push_back(name);
    cur = name.key;
    i = end;
  }
  // The names to make: all checked against Windows' limits before any is made.
  size_t depth = depth_of(cur);
  for (size_t at = i; at < path.size();) {
    size_t end = name_end(path, at);
    if (end > at && (char_count(path.substr(at, end - at)) > kMaxKeyName || ++depth > kMaxKeyDepth))
      return nullptr;
    at = end + 1;
  }
  for (size_t at = i; at < path.size();) {
    size_t end = name_end(path, at);
    if (end > at) {
      subkey_set::iterator position = insert_child(*cur, new_key(path.substr(at, end - at)));
      cur = position->get();
      last.names.push_back(resolved_name{end, cur, position, nullptr, std::string(), 0});
    }
    at = end + 1;
  }
  return cur;
}

static key_node *ensure(const std::string &path) {
  return ensure(m().registry, path);
}

// Deletes a subtree; `record` lists its keys as changes (parent first, then the subkeys
// in enumeration order), or only the key itself when `record_subtree` is false.
static void unlink_key(key_node &k, bool record, bool record_subtree) {
  key_node *parent = k.parent;
  ++m().alias_epoch;
  if (record) {
    if (record_subtree) {
      visit_subtree(k, key_path(&k), [](key_node &, const std::string &path) {
        record_change(change::key_deleted, full_path(path));
        return true;
      });
    } else {
      record_change(change::key_deleted, full_path(key_path(&k)));
    }
  }
  mark_deleted(k);
  if (parent)
    m().deleted_keys.push_back(remove_child(*parent, k));
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
  if (is_select_key(k))
    ++m().alias_epoch;
  k.values.erase(k.values.begin() + static_cast<std::ptrdiff_t>(i));
  k.value_index.reset(); // positions moved: made again when next needed
}

// The key behind a handle; HKEY_LOCAL_MACHINE is always valid.
static key_handle *handle_of(HKEY h) {
  static key_handle root_handle;
  if (h == HKEY_LOCAL_MACHINE) {
    root_handle = key_handle{m().registry.root.get(), kRoot, KEY_ALL_ACCESS};
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

namespace detail {
// Sets a value of a key: the one of that name replaced, else a new one after the others.
static void set_value(key_node &k, const std::string &name, DWORD type, const std::string &data) {
  if (is_select_key(k))
    ++m().alias_epoch;
  size_t i = find_value(k, name);
  if (i != std::string::npos) {
    k.values[i].type = type;
    k.values[i].data = data;
    return;
  }
  k.values.push_back(value_entry{name, type, data});
  if (k.value_index && k.value_index->size() + 1 == k.values.size())
    k.value_index->emplace(upper(name), k.values.size() - 1);
}
} // namespace detail

bool reg_set_value(const std::string &path, const std::string &name, DWORD type,
                   const std::string &data) {
  if (char_count(name) > kMaxValueName)
    return false;
  key_node *k = ensure(path);
  if (!k)
    return false;
  set_value(*k, name, type, data);
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
  key_node *parent = walk(m().registry.root.get(), parts, true, nullptr);
  if (!parent)
    return;
  if (key_node *old = child(*parent, leaf))
    unlink_key(*old, false, false);
  ++m().alias_epoch;
  key_node *node = add_child(*parent, leaf);
  node->alias.reset(new key_alias());
  node->alias->target = trim_backslashes(strip_root(target));
  node->alias->follows_select = parent->parent == m().registry.root.get() &&
                                ieq(parent->name, "SYSTEM") && ieq(leaf, "CurrentControlSet");
}

void reg_deny(const std::string &path, REGSAM access_mask) {
  if (key_node *k = ensure(path))
    k->deny = access_mask;
}

// The entry a path names, an alias itself rather than its target, and its parent.
static key_node *entry_of(const std::string &path, key_node *&parent) {
  std::vector<std::string> parts = split_names(strip_root(path));
  if (parts.empty())
    return nullptr;
  std::string leaf = parts.back();
  parts.pop_back();
  parent = walk(m().registry.root.get(), parts, false, nullptr);
  return parent ? child(*parent, leaf) : nullptr;
}

void reg_delete_key(const std::string &path) {
  key_node *parent = nullptr;
  if (key_node *k = entry_of(path, parent))
    unlink_key(*k, false, false);
}

void reg_delete_value(const std::string &path, const std::string &name) {
  key_node *k = lookup(path);
  size_t i = k ? find_value(*k, name) : std::string::npos;
  if (i != std::string::npos)
    erase_value(*k, i);
}

namespace detail {
void reg_delete_tree_recorded(const std::string &path) {
  key_node *k = lookup(path);
  if (k && k->parent)
    unlink_key(*k, true, true);
}
} // namespace detail

std::string reg_link(const std::string &path) {
  key_node *parent = nullptr;
  key_node *k = entry_of(path, parent);
  return k && k->alias ? k->alias->target : std::string();
}

bool reg_key_exists(const std::string &path) {
  return lookup(path) != nullptr;
}

bool reg_value_exists(const std::string &path, const std::string &name) {
  key_node *k = lookup(path);
  return k && find_value(*k, name) != std::string::npos;
}

std::string reg_value(const std::string &path, const std::string &name) {
  key_node *k = lookup(path);
  size_t i = k ? find_value(*k, name) : std::string::npos;
  return i == std::string::npos ? std::string() : k->values[i].data;
}

std::vector<std::string> reg_subkeys(const std::string &path) {
  std::vector<std::string> out;
  key_node *k = lookup(path);
  if (k && k->subkeys)
    for (const auto &s : *k->subkeys)
      out.push_back(s->name);
  return out;
}

std::vector<std::string> reg_values(const std::string &path) {
  std::vector<std::string> out;
  if (key_node *k = lookup(path))
    for (auto &v : k->values)
      out.push_back(v.name);
  return out;
}

std::vector<reg_value_data> reg_value_list(const std::string &path) {
  key_node *k = lookup(path);
  return k ? k->values : std::vector<reg_value_data>();
}

void reg_visit(const std::string &path, const reg_visitor &visit) {
  key_node *top = lookup(path);
  if (!top)
    return;
  visit_subtree(*top, key_path(top), [&visit](key_node &k, const std::string &p) {
    if (k.alias)
      return false;
    visit(p, k.values);
    return true;
  });
}

// ---- Keys apart from the machine -----------------------------------------------------------

std::shared_ptr<registry_tree> registry_tree_new() {
  return std::make_shared<registry_tree>();
}

bool tree_add_key(registry_tree &tree, const std::string &path) {
  return ensure(tree, path) != nullptr;
}

bool tree_set_value(registry_tree &tree, const std::string &path, const std::string &name,
                    DWORD type, const std::string &data) {
  if (char_count(name) > kMaxValueName)
    return false;
  key_node *k = ensure(tree, path);
  if (!k)
    return false;
  set_value(*k, name, type, data);
  return true;
}

// No handle refers to a key of a tree apart: a deleted one simply goes (and with it what
// ensure() remembered).
void tree_delete_key(registry_tree &tree, const std::string &path) {
  key_node *k = lookup_in(tree, path);
  if (k && k->parent) {
    tree.last_ensured = resolved_path();
    remove_child(*k->parent, *k);
  }
}

void tree_delete_value(registry_tree &tree, const std::string &path, const std::string &name) {
  key_node *k = lookup_in(tree, path);
  size_t i = k ? find_value(*k, name) : std::string::npos;
  if (i != std::string::npos)
    erase_value(*k, i);
}

namespace detail {
// The path of a key below another one's: "parent\name", or "name" below the root.
static std::string below(const std::string &parent, const std::string &name) {
  return parent.empty() ? name : parent + "\\" + name;
}
} // namespace detail

void reg_import(registry_tree &tree) {
  // Each step: a key of the tree, the key of the registry it goes into, and that key's path.
  struct step {
    key_node *from;
    key_node *to;
    std::string path;
  };
  // What goes where the registry has an alias is put in last, through the alias, once
  // everything else is in: a target may depend on other keys' values (CurrentControlSet on
  // SYSTEM\Select\Current, which regedit writes after it).
  std::vector<step> todo{step{tree.root.get(), m().registry.root.get(), std::string()}};
  std::vector<std::pair<key_node *, std::string>> through_aliases;
  while (!todo.empty()) {
    step s = todo.back();
    todo.pop_back();
    for (const value_entry &v : s.from->values)
      set_value(*s.to, v.name, v.type, v.data);
    if (!s.from->subkeys)
      continue;
    for (auto it = s.from->subkeys->begin(); it != s.from->subkeys->end();) {
      auto current = it++; // `it` stays valid when the current key moves out
      key_node &k = **current;
      key_node *there = child(*s.to, k.name);
      if (there && there->alias)
        through_aliases.push_back({&k, below(s.path, k.name)});
      else if (there)
        todo.push_back(step{&k, there, below(s.path, k.name)});
      else
        adopt_child(*s.to, remove_child(*s.from, current));
    }
  }
  for (const auto &aliased : through_aliases)
    visit_subtree(*aliased.first, aliased.second, [](key_node &k, const std::string &path) {
      reg_add_key(path);
      for (const value_entry &v : k.values)
        reg_set_value(path, v.name, v.type, v.data);
      return true;
    });
  tree = registry_tree();
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
  key_node *k = walk(kh->key, split_names(sub), false, &route);
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
  key_node *k = walk(kh->key, split_names(sub), false, nullptr);
  if (!k)
    return ERROR_FILE_NOT_FOUND;
  if (!k->parent)
    return ERROR_ACCESS_DENIED; // the root itself
  if (denied(*k, DELETE))
    return ERROR_ACCESS_DENIED;
  if (sim::is_win98()) {
    unlink_key(*k, true, true); // the whole subtree, parent first
  } else {
    if (k->subkeys && !k->subkeys->empty())
      return ERROR_ACCESS_DENIED;
    unlink_key(*k, true, false);
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
