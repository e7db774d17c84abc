// Matching the run's calls and changes against what the snapshot could not show.
#include "tools/not_known.h"

#include "tools/encoding.h"
#include "tools/run_account.h"

#include <set>
#include <utility>

// Whether `path` is `under` or lies below it; "" is above everything.
static bool at_or_below(const std::string &path, const std::string &under) {
  if (under.empty())
    return true;
  if (path.size() < under.size() || !ascii_iequal(path.substr(0, under.size()), under))
    return false;
  return path.size() == under.size() || path[under.size()] == '\\';
}

// The key below HKEY_LOCAL_MACHINE, or the full file path, that a call was made on; "" when
// its subject is neither. The INF functions take a bare name from the Windows INF folder.
static std::string call_path(const machine_description &m, const sim::call &c, bool key) {
  if (key) {
    return c.function.compare(0, 3, "Reg") == 0 ? below_hklm(c.subject) : "";
  }
  if (c.function == "SetFileAttributesA" || c.function == "DeleteFileA")
    return c.subject;
  if ((c.function == "SetupOpenInfFileA" || c.function == "SetupUninstallOEMInfA") &&
      find_char_of(c.subject, "\\/:") == std::string::npos)
    return windows_directory(m) + "\\inf\\" + c.subject;
  return "";
}

static bool is_inf(const std::string &path) {
  return path.size() > 4 && ascii_iequal(path.substr(path.size() - 4), ".inf");
}

std::vector<not_known_item> find_not_known(const machine_description &m,
                                           const std::vector<sim::call> &calls,
                                           const std::vector<sim::change> &changes) {
  std::vector<not_known_item> items;
  std::set<std::pair<std::string, size_t>> seen; // upper-cased subject, unknown
  auto add = [&](const std::string &subject, size_t unknown) {
    if (seen.insert({ascii_upper(subject), unknown}).second)
      items.push_back(not_known_item{subject, m.unknowns[unknown].why});
  };
  if (m.unknowns.empty())
    return items;
  for (size_t i = 0; i < calls.size(); ++i)
    for (size_t u = 0; u < m.unknowns.size(); ++u) {
      const machine_unknown &unknown = m.unknowns[u];
      if (unknown.kind != machine_unknown::contents)
        continue;
      std::string path = call_path(m, calls[i], unknown.key);
      if (!path.empty() && at_or_below(path, unknown.path))
        add(path, u);
    }
  for (const sim::change &c : changes)
    for (size_t u = 0; u < m.unknowns.size(); ++u) {
      const machine_unknown &unknown = m.unknowns[u];
      if (c.kind != sim::change::file_deleted || !at_or_below(c.subject, unknown.path))
        continue;
      bool uninstalled = c.call < calls.size() && calls[c.call].function == "SetupUninstallOEMInfA";
      if (unknown.kind == machine_unknown::in_use ||
          (unknown.kind == machine_unknown::driver_store && uninstalled && is_inf(c.subject)))
        add(c.subject, u);
    }
  return items;
}
