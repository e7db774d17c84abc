// The simulated machine as a whole: state, reset, platform identity, fault injection,
// the call log, the change record and the accounting of open resources.
#include "sim/state.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace sim {
namespace detail {

size_t char_count(const std::string &s) {
  size_t n = 0;
  for (size_t i = 0; i < s.size(); i += char_length(s, i))
    ++n;
  return n;
}

bool separator_at(const std::string &s, size_t i) {
  size_t at = 0;
  while (at < i)
    at += char_length(s, at);
  return at == i && i < s.size() && s[i] == '\\';
}

std::vector<std::string> split_names(const std::string &path) {
  std::vector<std::string> parts;
  size_t begin = 0;
  for (size_t i = 0; i <= path.size();) {
    if (i == path.size() || path[i] == '\\') {
      if (i > begin)
        parts.push_back(path.substr(begin, i - begin));
      begin = ++i;
    } else {
      i += char_length(path, i);
    }
  }
  return parts;
}

std::string trim_backslashes(const std::string &s) {
  size_t end = 0;
  for (size_t i = 0; i < s.size();) {
    size_t n = char_length(s, i);
    if (n == 2 || s[i] != '\\')
      end = i + n;
    i += n;
  }
  return s.substr(0, end);
}

// The character at s[i] upper-cased (core/cp932): its length, and its one or two bytes in
// `out`.
static inline size_t upper_char(const std::string &s, size_t i, unsigned char out[2]) {
  size_t n = char_length(s, i);
  unsigned code = static_cast<unsigned char>(s[i]);
  if (n == 2)
    code = code << 8 | static_cast<unsigned char>(s[i + 1]);
  code = cp932_upper_char(code);
  if (n == 2)
    out[n - 2] = static_cast<unsigned char>(code >> 8);
  out[n - 1] = static_cast<unsigned char>(code & 0xFF);
  return n;
}

std::string upper(const std::string &s) {
  std::string r = s;
  cp932_upper_bytes(&r[0], r.size());
  return r;
}

// A name walked upper-cased, a byte at a time (each character upper-cased as it is reached).
struct upper_walk {
  const std::string &name;
  size_t next;            // the next character
  unsigned char bytes[2]; // the current one upper-cased
  size_t length, taken;   // its length, and how many of its bytes were taken
};

// The walk's next byte; false at the end of the name.
static bool take_upper(upper_walk &w, unsigned char &byte) {
  if (w.taken == w.length) {
    if (w.next == w.name.size())
      return false;
    w.length = upper_char(w.name, w.next, w.bytes);
    w.next += w.length;
    w.taken = 0;
  }
  byte = w.bytes[w.taken++];
  return true;
}

int compare_names(const std::string &a, const std::string &b) {
  // Called for every subkey looked up, on names that often share a long start
  // (VEN_8086&DEV_1A2B...): whole characters the two have in common are passed over first.
  size_t same = 0, n = std::min(a.size(), b.size());
  while (same < n && a[same] == b[same]) {
    size_t length = char_length(a, same);
    if (length == 2 && (same + 1 >= n || a[same + 1] != b[same + 1]))
      break;
    same += length;
  }
  // From there both are walked upper-cased; a double-byte character of one may face a
  // single-byte one and the next of the other.
  upper_walk wa{a, same, {}, 0, 0}, wb{b, same, {}, 0, 0};
  for (;;) {
    unsigned char x = 0, y = 0;
    bool more_a = take_upper(wa, x), more_b = take_upper(wb, y);
    if (!more_a || !more_b)
      return more_a == more_b ? 0 : more_a ? 1 : -1;
    if (x != y)
      return x < y ? -1 : 1;
  }
}

std::string lower(const std::string &s) {
  std::string r = s;
  for (char &c : r)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

bool ieq(const std::string &a, const std::string &b) {
  // Character by character, without building upper-cased copies: called for every value
  // and INF line looked up. Folding keeps lead bytes lead bytes, so the boundaries in `a`
  // serve for `b` as well.
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size();) {
    size_t n = char_length(a, i);
    unsigned ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[i]);
    if (n == 2) {
      ca = ca << 8 | static_cast<unsigned char>(a[i + 1]);
      cb = cb << 8 | static_cast<unsigned char>(b[i + 1]);
    }
    if (ca != cb && cp932_upper_char(ca) != cp932_upper_char(cb))
      return false;
    i += n;
  }
  return true;
}

std::string str(const char *s) {
  return s ? std::string(s) : std::string();
}

machine &m() {
  static machine *the_machine = [] {
    machine *p = new machine; // lives for the process
    return p;
  }();
  static bool initialised = false;
  if (!initialised) {
    initialised = true;
    reset();
  }
  return *the_machine;
}

uintptr_t new_handle() {
  // Counts up in steps of 8 from 0x10000 and never repeats, so a freed handle stays
  // invalid; far from NULL, INVALID_HANDLE_VALUE and HKEY_LOCAL_MACHINE.
  static uintptr_t next = 0x10000;
  next += 8;
  return next;
}

static bool subject_matches(const std::string &subject, const std::string &wanted) {
  if (wanted.empty())
    return true;
  std::string s = upper(subject), w = upper(wanted);
  if (s == w)
    return true;
  return s.size() > w.size() && s.compare(s.size() - w.size(), w.size(), w) == 0 &&
         separator_at(s, s.size() - w.size() - 1);
}

DWORD enter(const char *function, const std::string &subject) {
  machine &mm = m();
  // Copy first: a hook may add hooks.
  std::vector<std::function<void()>> run;
  for (auto &h : mm.hooks)
    if (h.first == function)
      run.push_back(h.second);
  for (auto &h : run)
    h();
  mm.calls.push_back(call{function, subject});
  DWORD error = 0;
  for (rule &r : mm.rules) {
    if (r.f.function != function || !subject_matches(subject, r.f.subject))
      continue;
    ++r.seen;
    if (r.f.nth != 0 && r.seen != r.f.nth)
      continue;
    if (r.f.times != 0 && r.fired >= r.f.times)
      continue;
    ++r.fired;
    if (error == 0)
      error = r.f.error;
  }
  return error;
}

void record_change(change::kind_t kind, const std::string &subject) {
  // Every change is made inside a simulated call, after enter() has logged that call.
  machine &mm = m();
  mm.changes.push_back(change{kind, subject, mm.calls.empty() ? 0 : mm.calls.size() - 1});
}

} // namespace detail

using namespace detail;

void reset() {
  machine &mm = m();
  for (auto &b : mm.blocks)
    std::free(b.first);
  mm.blocks.clear();
  mm.platform = VER_PLATFORM_WIN32_NT;
  mm.major = 5;
  mm.minor = 0;
  mm.build = 2195;
  mm.csd.clear();
  mm.rules.clear();
  mm.calls.clear();
  mm.changes.clear();
  mm.marks.clear();
  mm.hooks.clear();
  mm.last_error = 0;
  mm.wine_oem_uninstall = false;
  registry_reset();
  files_reset();
  devices_reset();
  system_reset();
  process_reset();
  set_windows_directory("C:\\WINDOWS");
  set_system_directory("C:\\WINDOWS\\system32");
}

void machine_win2000() {
  reset();
  reg_add_key("SYSTEM\\ControlSet001\\Services");
  reg_add_key("SYSTEM\\ControlSet001\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}");
  reg_add_link("SYSTEM\\CurrentControlSet", "SYSTEM\\ControlSet001");
  folder_add("C:\\WINDOWS\\inf");
  folder_add("C:\\WINDOWS\\system32\\drivers");
}

void machine_win98() {
  reset();
  files_reset();
  set_version(VER_PLATFORM_WIN32_WINDOWS, 4, 10, 0x040A08AE);
  m().csd = " A ";
  set_windows_directory("C:\\WINDOWS");
  set_system_directory("C:\\WINDOWS\\SYSTEM");
  folder_add("C:\\WINDOWS\\INF");
  folder_add("C:\\WINDOWS\\INF\\OTHER");
  reg_add_key("Enum\\Root\\Ports");
  reg_add_key("System\\CurrentControlSet\\Services\\Class");
  reg_add_key("System\\CurrentControlSet\\Services\\VxD");
  reg_add_key("System\\CurrentControlSet\\control\\VMM32Files");
}

void set_version(DWORD platform_id, DWORD major, DWORD minor, DWORD build) {
  machine &mm = m();
  mm.platform = platform_id;
  mm.major = major;
  mm.minor = minor;
  mm.build = build;
}

bool is_win98() {
  return m().platform == VER_PLATFORM_WIN32_WINDOWS;
}

void fail(const fault &f) {
  m().rules.push_back(rule{f, 0, 0});
}

void fail(const std::string &function, DWORD error, const std::string &subject, int nth) {
  fault f;
  f.function = function;
  f.error = error;
  f.subject = subject;
  f.nth = nth;
  fail(f);
}

const std::vector<call> &calls() {
  return m().calls;
}

int call_count(const std::string &function) {
  int n = 0;
  for (const call &c : m().calls)
    if (c.function == function)
      ++n;
  return n;
}

const std::vector<change> &changes() {
  return m().changes;
}

const std::vector<mark> &marks() {
  return m().marks;
}

void log_mark(const mark &logged) {
  static const char *const names[] = {"(step)", "(failure)", "(kept)"};
  machine &mm = m();
  mm.calls.push_back(call{names[logged.kind], std::string()});
  mm.marks.push_back(logged);
  mm.marks.back().call = mm.calls.size() - 1;
}

void on_call(const std::string &function, std::function<void()> hook) {
  m().hooks.emplace_back(function, std::move(hook));
}

std::vector<std::string> leaks() {
  machine &mm = m();
  std::vector<std::string> out;
  for (auto &k : mm.keys)
    out.push_back("open key " + k.second.path);
  for (auto &s : mm.sets)
    out.push_back("device information set of " + std::to_string(s.second.elements.size()) +
                  " device(s)");
  for (auto &i : mm.infs)
    out.push_back("open INF " + i.second.name);
  files_leaks(out);
  for (auto &b : mm.blocks)
    out.push_back("local memory block of " + std::to_string(b.second) + " byte(s)");
  process_leaks(out);
  for (auto &r : mm.module_refs)
    if (r.second > 0)
      out.push_back("loaded module " + r.first + " (" + std::to_string(r.second) +
                    (r.second == 1 ? " reference)" : " references)"));
  return out;
}

} // namespace sim
