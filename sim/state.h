// Internals shared by the files of the simulated Windows machine. Not for tests or logic.
#pragma once

#include "core/cp932.h"
#include "sim/sim.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace sim {
namespace detail {

// ---- Text helpers -------------------------------------------------------------------------
// Names are ANSI text of code page 932, as a Japanese Windows hands them to the A functions:
// those convert a name to Unicode before they look at it, so a double-byte character is one
// character whatever its second byte is. The trail byte of ソ (0x83 0x5C) is no backslash, and
// the trail byte of ヂ (0x83 0x61) no letter 'a' to be upper-cased.

// The character steps and case folding are those of core/cp932, which the uninstaller uses.

// Length of the character at s[i]: 2 for a lead byte followed by another byte, else 1.
inline size_t char_length(const std::string &s, size_t i) {
  return cp932_char_size(s.data() + i, s.size() - i);
}
// Number of characters (a double-byte character counts as one).
size_t char_count(const std::string &s);
// Whether s[i] is a backslash of its own, not the trail byte of a double-byte character:
// true only when i is where a character starts. Scans from the start of the string.
bool separator_at(const std::string &s, size_t i);
// Splits at backslashes that are characters of their own, dropping empty components (so
// doubled and trailing backslashes are accepted).
std::vector<std::string> split_names(const std::string &path);
// The text without its trailing backslashes (a trail byte 0x5C stays).
std::string trim_backslashes(const std::string &s);

// Upper case as Windows compares names: the ASCII letters and the double-byte full-width
// Latin, Greek and Cyrillic letters of the code page; every other byte as it is. Byte
// lengths and character boundaries do not change.
std::string upper(const std::string &s);
std::string lower(const std::string &s); // ASCII letters only: for module names
bool ieq(const std::string &a, const std::string &b);
// The order of upper(a) and upper(b), byte by byte as unsigned values (negative, zero or
// positive), without making the upper-cased copies.
int compare_names(const std::string &a, const std::string &b);
std::string str(const char *s); // "" for NULL

// ---- Registry ---------------------------------------------------------------------------
// Windows' limits (Microsoft's "Registry element size limits"): a key name of 255
// characters, a value name of 16,383 characters, a tree 512 levels deep. The page says a
// key name "includes the absolute path"; what Windows enforces is the length of each name
// between backslashes, and that is what the simulation follows. Levels are counted below
// HKEY_LOCAL_MACHINE: a key 512 names deep is the deepest there can be.
const size_t kMaxKeyName = 255;
const size_t kMaxValueName = 16383;
const size_t kMaxKeyDepth = 512;

using value_entry = reg_value_data;

struct key_node;
// Orders a key's subkeys as RegEnumKeyExA lists them: by their names upper-cased, byte by
// byte (compare_names). A subkey is found by its name alone, in any letter case.
struct subkey_order {
  using is_transparent = void;
  bool operator()(const std::unique_ptr<key_node> &a, const std::unique_ptr<key_node> &b) const;
  bool operator()(const std::unique_ptr<key_node> &a, const std::string &name) const;
  bool operator()(const std::string &name, const std::unique_ptr<key_node> &b) const;
};
// A key owns its subkeys. A deleted key moves to machine::deleted_keys, where it stays until
// the machine is reset: a handle may still refer to it (and then sees ERROR_KEY_DELETED).
using subkey_set = std::set<std::unique_ptr<key_node>, subkey_order>;

// Where the last enumeration of a key's subkeys by index stood: RegEnumKeyExA with index 0,
// 1, 2, ... (or the same index again after a deletion) costs one step per call, not a walk
// from the start.
struct enum_cursor {
  size_t index = 0;
  subkey_set::iterator at;
};

// An alias of another key (relative to HKLM), as CurrentControlSet is of a control set.
struct key_alias {
  std::string target;
  // It stands for the control set SYSTEM\Select\Current names, when there is one.
  bool follows_select = false;
};

// One key. A real export holds a million of them, most with no subkeys and a value or two,
// so what few keys need (subkeys, an enumeration cursor, an index of many values, an alias)
// is allocated only for those that have it.
struct key_node {
  std::string name;                    // as created
  std::unique_ptr<subkey_set> subkeys; // null: none so far
  std::unique_ptr<enum_cursor> cursor; // null: not enumerated since the last change of order
  std::vector<value_entry> values;     // creation order
  // Upper-cased value name -> position, kept only for keys with many values.
  std::unique_ptr<std::unordered_map<std::string, size_t>> value_index;
  std::unique_ptr<key_alias> alias;
  key_node *parent = nullptr;
  REGSAM deny = 0;
  bool deleted = false;
};

struct key_handle {
  key_node *key;
  std::string path; // "HKEY_LOCAL_MACHINE\..." along the route the caller opened it by
  REGSAM access;
};

// A name of the path ensure() resolved last: where it ends in the path, the key it led to
// and where that key (or the alias that led to it) stands among its parent's subkeys; for an
// alias, the alias and the target it stood for then.
struct resolved_name {
  size_t end;
  key_node *key;
  subkey_set::iterator position;
  key_node *alias;
  std::string target;
  unsigned long epoch; // machine::alias_epoch when the alias was resolved
};
struct resolved_path {
  std::string path; // as the caller wrote it
  std::vector<resolved_name> names;
};

} // namespace detail

// A tree of keys: the machine's registry, or keys read apart from it (sim.h).
struct registry_tree {
  std::unique_ptr<detail::key_node> root{new detail::key_node()};
  detail::resolved_path last_ensured;
};

namespace detail {

// Canonical path of a key relative to HKLM ("" for the root), names as stored.
std::string key_path(const key_node *k);

// ---- Files ------------------------------------------------------------------------------
struct file_entry {
  std::string path; // normalised, case as created
  bool folder = false;
  DWORD attributes = 0;
  std::string contents;
  DWORD deny_attributes = 0;
  DWORD deny_delete = 0;
  bool loaded = false; // the image of a loaded driver
};

// A search of FindFirstFileA: the names it found, as they were when it began.
struct file_search {
  std::string pattern; // as passed
  std::vector<std::string> names;
  std::vector<DWORD> attributes;
  std::vector<size_t> sizes;
  size_t next = 0;
};

// Normalises a Windows path: '/' becomes '\', "." and ".." are resolved, repeated
// separators collapse, trailing dots and blanks of a component are dropped. Returns false
// when the path is not a full path on a drive (or is empty).
bool normalize_path(const std::string &in, std::string &out);
std::string parent_path(const std::string &normalized); // "" for a drive root
const file_entry *find_file(const std::string &path);

// ---- Devices ----------------------------------------------------------------------------
struct device_entry {
  device d;
  DWORD devinst;
  bool removed = false; // removed ones stay in place, so that positions never move
};
struct devset_element {
  std::string instance_id;
  DWORD devinst;
  DWORD install_flags = 0; // of its install parameters
};
struct device_set {
  std::vector<devset_element> elements;
};

// ---- INF files --------------------------------------------------------------------------
struct inf_line {
  bool has_key = false;
  std::string key;
  std::vector<std::string> fields;
};
struct inf_section {
  std::string name;
  std::vector<inf_line> lines;
};
struct inf_file {
  std::string name; // as passed to SetupOpenInfFileA
  std::vector<inf_section> sections;
};

// ---- The machine ------------------------------------------------------------------------
struct rule {
  fault f;
  int seen = 0;
  int fired = 0;
};

struct machine {
  DWORD platform = VER_PLATFORM_WIN32_NT, major = 5, minor = 0, build = 2195;
  std::string csd;
  std::string windir, sysdir;

  registry_tree registry;
  std::vector<std::unique_ptr<key_node>> deleted_keys; // until the next reset (key_node)
  std::map<uintptr_t, key_handle> keys;
  // Counts the changes that may make an alias stand for another key: a deletion, a new alias,
  // a new subkey of SYSTEM or a change of SYSTEM\Select's values (CurrentControlSet follows
  // Select\Current). While it stays the same, an alias resolved before needs no new look.
  unsigned long alias_epoch = 0;

  std::map<std::string, file_entry> files; // by upper-cased normalised path
  std::vector<std::string> pending_deletions;
  std::map<uintptr_t, file_search> searches;

  std::vector<device_entry> devices;                    // in the order added, ascending devinst
  std::unordered_map<std::string, size_t> device_index; // upper-cased instance id -> position
  DWORD next_devinst = 1;
  std::map<uintptr_t, device_set> sets;

  std::map<uintptr_t, inf_file> infs;
  // Driver packages: the upper-cased published name (oem<N>.inf) -> the package folder,
  // normalised, below <system>\DriverStore\FileRepository.
  std::map<std::string, std::string> packages;
  bool wine_oem_uninstall = false; // SetupUninstallOEMInfA as Wine has it

  std::map<void *, size_t> blocks; // LocalAlloc

  std::map<std::string, int> module_refs; // by lower-case module name
  std::set<std::string> modules_removed;  // lower-case
  std::set<std::string> exports_removed;  // "module!function", lower-case module

  std::map<DWORD, std::string> messages;

  std::deque<int> answers;
  std::vector<box> boxes;
  std::function<int(const box &)> user;
  int unscripted = 0;

  restart_record restart;
  std::set<uintptr_t> tokens;

  std::vector<rule> rules;
  std::vector<call> calls;
  std::vector<change> changes;
  std::vector<mark> marks;
  std::vector<std::pair<std::string, std::function<void()>>> hooks;

  DWORD last_error = 0;
};

machine &m();
// A fresh handle value: never NULL, never INVALID_HANDLE_VALUE, never reused.
uintptr_t new_handle();

// Every simulated API function starts with this: runs the on_call hooks, logs the call and
// applies the fault rules. Returns 0 to go on, or the error code the call must fail with.
DWORD enter(const char *function, const std::string &subject);
void record_change(change::kind_t kind, const std::string &subject);
// Deletes a key (relative to HKEY_LOCAL_MACHINE) with its whole subtree, as the system does
// on its own behalf; each deleted key is recorded as a change. Absent: nothing happens.
void reg_delete_tree_recorded(const std::string &path);

// Internal pieces used across files.
void *local_alloc(size_t bytes, bool zero);
void registry_reset();
void files_reset();
void files_leaks(std::vector<std::string> &out);
void devices_reset();
void system_reset();
void process_reset(); // after system_reset: it withdraws an export
void process_leaks(std::vector<std::string> &out);
std::string module_handle_name(HMODULE h); // "" when not a loaded module

} // namespace detail
} // namespace sim
