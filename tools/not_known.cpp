// Matching the run's calls and changes against what the snapshot could not show.
#include "tools/not_known.h"

#include "tools/encoding.h"
#include "tools/run_account.h"

#include <set>
#include <utility>

// Whether `path` is `under` or lies below it; "" is above everything. Both are given
// upper-cased as well (`upper_path`, `upper_under`): a rehearsal at real size makes hundreds of
// thousands of calls, each compared with every unknown.
static bool at_or_below(const std::string &path, const std::string &upper_path,
                        const std::string &upper_under) {
  if (upper_under.empty())
    return true;
  if (upper_path.compare(0, upper_under.size(), upper_under) != 0)
    return false;
  return path.size() == upper_under.size() || path[upper_under.size()] == '\\';
}

// The key below HKEY_LOCAL_MACHINE, or the full file path, that a call was made on; "" when
// its subject is neither. The INF functions take a bare name from the Windows INF folder.
static std::string call_path(const machine_description &m, const sim::call &c, bool key) {
  if (key)
    return c.function.compare(0, 3, "Reg") == 0 ? below_hklm(c.subject) : "";
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
  std::vector<std::string> upper_unknowns;
  for (const machine_unknown &unknown : m.unknowns)
    upper_unknowns.push_back(ascii_upper(unknown.path));
  for (size_t i = 0; i < calls.size(); ++i) {
    // The call's file and key paths, each worked out once for all the unknowns.
    const std::string paths[2] = {call_path(m, calls[i], false), call_path(m, calls[i], true)};
    if (paths[0].empty() && paths[1].empty())
      continue;
    const std::string upper_paths[2] = {ascii_upper(paths[0]), ascii_upper(paths[1])};
    for (size_t u = 0; u < m.unknowns.size(); ++u) {
      const machine_unknown &unknown = m.unknowns[u];
      int key = unknown.key ? 1 : 0;
      if (unknown.kind == machine_unknown::contents && !paths[key].empty() &&
          at_or_below(paths[key], upper_paths[key], upper_unknowns[u]))
        add(paths[key], u);
    }
  }
  for (const sim::change &c : changes) {
    std::string upper_subject = ascii_upper(c.subject);
    for (size_t u = 0; u < m.unknowns.size(); ++u) {
      const machine_unknown &unknown = m.unknowns[u];
      if (c.kind != sim::change::file_deleted ||
          !at_or_below(c.subject, upper_subject, upper_unknowns[u]))
        continue;
      bool uninstalled = c.call < calls.size() && calls[c.call].function == "SetupUninstallOEMInfA";
      if (unknown.kind == machine_unknown::in_use ||
          (unknown.kind == machine_unknown::driver_store && uninstalled && is_inf(c.subject)))
        add(c.subject, u);
    }
  }
  return items;
}
