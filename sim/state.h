// Internals shared by the files of the simulated Windows machine. Not for tests or logic.
#pragma once

#include "sim/sim.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace sim {
namespace detail {

// ---- Text helpers (ASCII letter case only, as the simulated names are ASCII) -------------
std::string upper(const std::string &s);
std::string lower(const std::string &s);
bool ieq(const std::string &a, const std::string &b);
// Compares the upper-cased forms, as NT orders key names.
int icmp(const std::string &a, const std::string &b);
bool iless(const std::string &a, const std::string &b);
std::string str(const char *s); // "" for NULL

// ---- Registry ---------------------------------------------------------------------------
struct value_entry {
  std::string name;
  DWORD type;
  std::string data;
};

struct key_node {
  std::string name;                               // as created
  std::vector<std::shared_ptr<key_node>> subkeys; // sorted case-insensitively
  std::vector<value_entry> values;                // creation order
  key_node *parent = nullptr;
  std::string link; // non-empty: an alias of this canonical path (relative to HKLM)
  REGSAM deny = 0;
  bool deleted = false;
};

struct key_handle {
  std::shared_ptr<key_node> key;
  std::string path; // "HKEY_LOCAL_MACHINE\..." along the route the caller opened it by
  REGSAM access;
};

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
};
struct devset_element {
  std::string instance_id;
  DWORD devinst;
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

  std::shared_ptr<key_node> root;
  std::map<uintptr_t, key_handle> keys;

  std::map<std::string, file_entry> files; // by upper-cased normalised path

  std::vector<device_entry> devices;
  DWORD next_devinst = 1;
  std::map<uintptr_t, device_set> sets;

  std::map<uintptr_t, inf_file> infs;

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
void devices_reset();
void system_reset();
void process_reset(); // after system_reset: it withdraws an export
void process_leaks(std::vector<std::string> &out);
std::string module_handle_name(HMODULE h); // "" when not a loaded module

} // namespace detail
} // namespace sim
