// The rehearsal: options, machine, run, answers, result.
#include "tools/rehearsal.h"

#include "core/entry.h"
#include "core/hosted/reset.h"
#include "sim/sim.h"
#include "tools/builtin_machines.h"
#include "tools/compare.h"
#include "tools/encoding.h"
#include "tools/machine_file.h"
#include "tools/not_known.h"
#include "tools/reg_file.h"
#include "tools/run_account.h"
#include "tools/run_record.h"
#include "tools/snapshot.h"
#include "tools/summary.h"
#include "tools/terminal.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>

namespace {

struct options {
  std::string machine = "win2000";
  bool machine_given = false;
  std::string snapshot;
  std::string compare; // the snapshot after the real run
  std::vector<std::string> answers;
  bool yes = false;
  bool verbose = false;
  bool has_export = false;
  std::string export_file;
  bool has_record = false;
  std::string record_file;
  bool has_word = false;
  std::string word;
  bool help = false;
};

// Where the answers come from while the run goes on, and the boxes shown.
struct answering {
  const options *opts;
  const rehearsal_io *io;
  size_t next_answer;
  std::vector<shown_box> shown;
};

} // namespace

static void usage(std::FILE *to) {
  std::fprintf(to,
               "usage: uninstall-sim [--machine NAME|FILE | --snapshot FOLDER [--compare AFTER]]\n"
               "                     [--answer ok,cancel,...] [--yes] [--export FILE]\n"
               "                     [--record FILE] [--verbose] [--] [WORD]\n"
               "Rehearses the uninstaller on a simulated machine. WORD is passed to it as its\n"
               "command line (QuendalUninstall.exe WORD); without WORD the command line is\n"
               "empty. --snapshot rehearses on a folder written by tools/snapshot.bat on a\n"
               "real machine; --compare then checks AFTER, a snapshot of it taken after the\n"
               "real run with the same word and answers, against the rehearsal (exit status\n"
               "0: as rehearsed, 3: not). --export writes the registry after the run as a\n"
               ".reg file; --record writes the boxes, every change and what became of each\n"
               "model's entries, one JSON object a line; neither may be a file the machine\n"
               "is read from. --verbose prints every warning of the machine, not one line of\n"
               "each kind. An option's value may also follow an '=' (--machine=win98).\n"
               "Built-in machines (--machine NAME):\n");
  for (const builtin_machine &m : builtin_machines())
    if (m.snapshot.empty())
      std::fprintf(to, "  %-19s %s\n", m.name, m.summary);
  std::fprintf(to, "Built-in snapshots of real machines, as tools/snapshot.bat wrote them "
                   "(--machine NAME):\n");
  for (const builtin_machine &m : builtin_machines())
    if (!m.snapshot.empty())
      std::fprintf(to, "  %-19s %s\n", m.name, m.summary);
}

static bool usage_error(const rehearsal_io &io, const std::string &what) {
  std::fprintf(io.err, "uninstall-sim: %s\n", what.c_str());
  usage(io.err);
  return false;
}

// The uninstaller's boxes are OK and OK/Cancel boxes (questions, notices, reports), so these
// are the only answers any of its boxes can take; "close" is Esc.
static const char *const uninstaller_answers[] = {"ok", "cancel", "close"};

static bool parse_answers(const rehearsal_io &io, const std::string &list,
                          std::vector<std::string> &answers) {
  size_t start = 0;
  for (;;) {
    size_t comma = list.find(',', start);
    std::string word = list.substr(start, comma == std::string::npos ? comma : comma - start);
    bool known = false;
    for (const char *answer : uninstaller_answers)
      known = known || ascii_iequal(word, answer);
    if (!known)
      return usage_error(io, "'" + word + "' is no button of the uninstaller's boxes: " +
                                 "answer ok, cancel or close (Esc), in any letter case");
    answers.push_back(word);
    if (comma == std::string::npos)
      return true;
    start = comma + 1;
  }
}

// The options that take a value, given as "--option VALUE" or "--option=VALUE".
static const char *const value_options[] = {"--machine", "--snapshot", "--compare",
                                            "--answer",  "--export",   "--record"};

static bool set_option(const rehearsal_io &io, const std::string &name, const std::string &value,
                       options &o) {
  if (value.empty())
    return usage_error(io, name + " needs a value, not an empty word");
  if (name == "--machine") {
    o.machine = value;
    o.machine_given = true;
  } else if (name == "--snapshot") {
    o.snapshot = value;
  } else if (name == "--compare") {
    o.compare = value;
  } else if (name == "--answer") {
    return parse_answers(io, value, o.answers);
  } else if (name == "--export") {
    o.export_file = value;
    o.has_export = true;
  } else {
    o.record_file = value;
    o.has_record = true;
  }
  return true;
}

static bool parse_options(const std::vector<std::string> &args, const rehearsal_io &io,
                          options &o) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &a = args[i];
    bool taken = false;
    for (const char *option : value_options) {
      std::string name = option;
      if (a == name) {
        if (i + 1 >= args.size())
          return usage_error(io, a + " needs a value");
        if (!set_option(io, name, args[++i], o))
          return false;
        taken = true;
      } else if (a.compare(0, name.size() + 1, name + "=") == 0) {
        if (!set_option(io, name, a.substr(name.size() + 1), o))
          return false;
        taken = true;
      }
    }
    if (taken)
      continue;
    if (a == "--yes") {
      o.yes = true;
    } else if (a == "--verbose") {
      o.verbose = true;
    } else if (a == "--help") {
      o.help = true;
    } else {
      // Everything else is the uninstaller's word; after "--" even one of our options.
      bool after_dashes = a == "--";
      if (after_dashes && i + 1 >= args.size())
        return usage_error(io, "-- must be followed by the WORD");
      if (o.has_word || (after_dashes && i + 2 < args.size()))
        return usage_error(io, "only one WORD can be given");
      o.word = after_dashes ? args[++i] : a;
      o.has_word = true;
    }
  }
  if (o.machine_given && !o.snapshot.empty())
    return usage_error(io, "give either --machine or --snapshot");
  if (!o.compare.empty() && o.snapshot.empty())
    return usage_error(io, "--compare needs --snapshot: the snapshot taken before the real run");
  return true;
}

// The warnings of the machine: each kind once, with how many there were and where the first
// is; every one of them with --verbose. A real export can hold thousands of one kind.
static void print_warnings(const rehearsal_io &io, const std::vector<load_error> &warnings,
                           bool verbose) {
  std::vector<std::string> kinds;
  std::map<std::string, std::pair<size_t, size_t>> by_kind; // kind -> first, count
  for (size_t i = 0; i < warnings.size(); ++i) {
    const std::string &kind = warnings[i].kind.empty() ? warnings[i].what : warnings[i].kind;
    auto it = by_kind.find(kind);
    if (it == by_kind.end()) {
      by_kind[kind] = {i, 1};
      kinds.push_back(kind);
    } else {
      ++it->second.second;
    }
  }
  if (verbose) {
    for (const load_error &w : warnings)
      std::fprintf(io.err, "%s\n", describe_warning(w).c_str());
    return;
  }
  for (const std::string &kind : kinds) {
    const load_error &first = warnings[by_kind[kind].first];
    size_t count = by_kind[kind].second;
    if (count == 1) {
      std::fprintf(io.err, "%s\n", describe_warning(first).c_str());
      continue;
    }
    load_error place = first;
    place.what = "";
    std::string where = describe(place);
    where.resize(where.size() - 2); // "file:line" without ": "
    std::fprintf(
        io.err,
        "uninstall-sim: warning: %s: %zu times, the first at %s: %s (--verbose lists all)\n",
        kind.c_str(), count, where.c_str(), first.what.c_str());
  }
}

static bool load_machine(const options &o, const rehearsal_io &io, machine_description &m) {
  load_error error;
  const builtin_machine *builtin = o.snapshot.empty() ? find_builtin_machine(o.machine) : nullptr;
  bool loaded = !o.snapshot.empty()                     ? read_snapshot(o.snapshot, m, error)
                : builtin && !builtin->snapshot.empty() ? read_builtin_snapshot(*builtin, m, error)
                : builtin ? read_machine_text(builtin->text, o.machine, "", m, error)
                          : read_machine_file(o.machine, m, error);
  print_warnings(io, m.warnings, o.verbose);
  if (!loaded) {
    if (!builtin && o.snapshot.empty() && error.line == 0 && error.what == "cannot be read")
      return usage_error(io, "no built-in machine and no readable file named '" + o.machine + "'");
    std::fprintf(io.err, "uninstall-sim: %s\n", describe(error).c_str());
    return false;
  }
  if (builtin)
    m.source = std::string(builtin->name) + ": " + builtin->summary;
  return true;
}

// Whether writing `output` would overwrite `input` (a file the machine is read from) or put a
// file into it (a snapshot folder). Paths are compared as the file system resolves them.
static bool touches(const std::string &output, const std::string &input) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path out = fs::weakly_canonical(fs::absolute(output, ec), ec);
  fs::path in = fs::weakly_canonical(fs::absolute(input, ec), ec);
  if (out == in)
    return true;
  for (fs::path p = out.parent_path(); !p.empty() && p != p.parent_path(); p = p.parent_path())
    if (p == in && fs::is_directory(in, ec))
      return true;
  return false;
}

// The outputs never touch the inputs, nor each other: refused before anything runs.
static bool check_outputs(const options &o, const std::vector<std::string> &inputs,
                          const rehearsal_io &io) {
  const struct {
    bool given;
    const char *option;
    const std::string &file;
  } outputs[] = {{o.has_export, "--export", o.export_file},
                 {o.has_record, "--record", o.record_file}};
  for (const auto &out : outputs) {
    if (!out.given)
      continue;
    for (const std::string &input : inputs)
      if (touches(out.file, input))
        return usage_error(io, std::string(out.option) + " " + out.file +
                                   " would write over what the machine is read from (" + input +
                                   "): choose a file elsewhere");
  }
  if (o.has_export && o.has_record && touches(o.export_file, o.record_file))
    return usage_error(io, "--export and --record name the same file: give each its own");
  return true;
}

static int ask_terminal(const sim::box &box, const rehearsal_io &io) {
  std::fprintf(io.out, "  > ");
  std::fflush(io.out);
  for (;;) {
    int key = io.read_key();
    if (key == EOF) {
      int closed = close_answer(box.type);
      std::fprintf(io.out, "(input ended: box closed)\n");
      return closed ? closed : default_answer(box.type);
    }
    int id = answer_for_key(box.type, key);
    if (id)
      return id;
  }
}

static int choose_answer(const sim::box &box, answering &a) {
  const rehearsal_io &io = *a.io;
  std::fprintf(io.out, "\n%s", render_box(box, io.colour, io.columns).c_str());
  int id = 0;
  std::string how;
  if (a.next_answer < a.opts->answers.size()) {
    const std::string &word = a.opts->answers[a.next_answer++];
    id = answer_for_word(box.type, word);
    how = "--answer " + word;
    if (id <= 0) {
      // Cancel at a box with OK alone: Windows closes such a box with OK, as Esc does.
      id = close_answer(box.type) ? close_answer(box.type) : default_answer(box.type);
      how += std::string(": the box has no such button; closing it gives ") + answer_label(id);
    }
  } else if (a.opts->yes) {
    id = answer_for_word(box.type, "ok") > 0 ? IDOK : default_answer(box.type);
    how = "--yes";
  } else if (io.terminal_input) {
    id = ask_terminal(box, io);
    std::fprintf(io.out, "%s\n", answer_label(id));
    return id;
  } else {
    id = answer_for_word(box.type, "ok") > 0 ? IDOK : default_answer(box.type);
    how = "input is not a terminal";
  }
  std::fprintf(io.out, "  answered %s (%s)\n", answer_label(id), how.c_str());
  return id;
}

static int answer_box(const sim::box &box, answering &a) {
  int id = choose_answer(box, a);
  // This runs inside the box's MessageBoxA call, the last one logged.
  shown_box shown{sim::calls().empty() ? 0 : sim::calls().size() - 1, box};
  shown.box.answer = id;
  a.shown.push_back(shown);
  return id;
}

static std::string reason() {
  return errno ? std::strerror(errno) : "unknown error";
}

// The output files are opened before the run, so that a file that cannot be written stops
// the rehearsal before anything runs.
static std::FILE *open_output(const std::string &path, const rehearsal_io &io) {
  errno = 0;
  std::FILE *f = std::fopen(path.c_str(), "wb");
  if (!f)
    std::fprintf(io.err, "uninstall-sim: cannot write %s: %s\n", path.c_str(), reason().c_str());
  return f;
}

// Writes the bytes and closes the file; false, with the reason, when that fails.
static bool write_output(std::FILE *file, const std::string &path, const std::string &bytes,
                         const rehearsal_io &io) {
  errno = 0;
  bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  written = std::fflush(file) == 0 && written;
  std::string why = reason();
  written = std::fclose(file) == 0 && written;
  if (!written)
    std::fprintf(io.err, "uninstall-sim: cannot write %s: %s\n", path.c_str(), why.c_str());
  return written;
}

static int write_export(const options &o, const machine_description &m, std::FILE *file,
                        const rehearsal_io &io) {
  std::string bytes, problem;
  reg_format format = export_format(m);
  if (!write_reg(format, bytes, problem)) {
    std::fclose(file);
    std::fprintf(io.err, "uninstall-sim: cannot export the registry: %s\n", problem.c_str());
    return 1;
  }
  if (!write_output(file, o.export_file, bytes, io))
    return 1;
  std::fprintf(io.out, "\nRegistry exported to %s (%s).\n", o.export_file.c_str(),
               format == reg_format_regedit4 ? "REGEDIT4" : "Windows Registry Editor Version 5.00");
  return 0;
}

// The snapshot taken after the real run: read before anything runs, and of the same machine.
static bool load_after(const options &o, const rehearsal_io &io, const machine_description &m,
                       machine_description &after) {
  load_error error;
  bool loaded = read_snapshot(o.compare, after, error);
  print_warnings(io, after.warnings, o.verbose);
  if (!loaded) {
    std::fprintf(io.err, "uninstall-sim: %s\n", describe(error).c_str());
    return false;
  }
  if (after.win98 != m.win98 || !ascii_iequal(windows_directory(after), windows_directory(m)) ||
      !ascii_iequal(system_directory(after), system_directory(m))) {
    std::fprintf(io.err,
                 "uninstall-sim: %s: not a snapshot of the machine of %s (another Windows "
                 "family or folder)\n",
                 o.compare.c_str(), o.snapshot.c_str());
    return false;
  }
  return true;
}

// The places the rules reach, after the rehearsal and in the snapshot after the real run,
// compared: printed, added to the account, and the exit status (0 as rehearsed, 3 not). The
// simulated machine is the snapshot's afterwards.
static int compare_with_after(const options &o, const rehearsal_io &io,
                              const reached_places &before, const machine_description &after,
                              run_account &account) {
  std::map<std::string, reached_entry> rehearsed = look_up(before);
  apply_machine(after);
  reached_places after_places = reach_of(after);
  std::vector<run_event> compared =
      compare_runs(before, rehearsed, after_places, look_up(before), account);
  std::fprintf(io.out, "\n%s", render_comparison(compared, o.compare, io.colour).c_str());
  for (const run_event &e : compared)
    add_event(account, e);
  return went_as_rehearsed(compared) ? 0 : 3;
}

// The command line as Windows builds it from the program name and the word, and its tail as
// the uninstaller's entry cuts it: blanks after the program name are dropped, so a word of
// nothing but blanks is an empty tail.
static std::string command_tail(const std::string &command_line) {
  return cut_command_tail(command_line.c_str());
}

int uninstall_sim_main(const std::vector<std::string> &args, const rehearsal_io &io) {
  options o;
  machine_description m;
  if (!parse_options(args, io, o))
    return 2;
  if (o.help) {
    usage(io.out);
    return 0;
  }
  machine_description after;
  if (!load_machine(o, io, m) || (!o.compare.empty() && !load_after(o, io, m, after)))
    return 2;
  std::vector<std::string> inputs = m.inputs;
  inputs.insert(inputs.end(), after.inputs.begin(), after.inputs.end());
  if (!check_outputs(o, inputs, io))
    return 2;
  apply_machine(m);
  // The registry is the simulation's now: the operations kept for it (tens of megabytes for a
  // snapshot at real size) go before the run, which can use their memory.
  m.registry = reg_op_list();
  load_error error;
  if (!check_machine(m, error)) {
    std::fprintf(io.err, "uninstall-sim: %s\n", describe(error).c_str());
    return 2;
  }
  std::FILE *export_file = o.has_export ? open_output(o.export_file, io) : nullptr;
  if (o.has_export && !export_file)
    return 1;
  std::FILE *record_file = o.has_record ? open_output(o.record_file, io) : nullptr;
  if (o.has_record && !record_file) {
    if (export_file && std::fclose(export_file) == 0)
      std::remove(o.export_file.c_str()); // left empty: nothing ran
    return 1;
  }
  entry_owners owners = capture_owners(m);
  reached_places before_places = o.compare.empty() ? reached_places() : reach_of(m);
  reset_process_state();
  answering a{&o, &io, 0, {}};
  sim::set_user([&a](const sim::box &box) { return answer_box(box, a); });

  // The word reaches the uninstaller in the machine's code page, as cmd would pass it.
  std::string word;
  if (!utf8_to_cp932(o.word, word))
    word = o.word;
  std::string command_line = "QuendalUninstall.exe" + (o.has_word ? " " + word : std::string());
  std::string tail = command_tail(command_line);
  std::fprintf(io.out, "Machine: %s\n", display_utf8(m.source).c_str());
  std::fprintf(io.out, "Command line: %s\n", display_utf8(command_line).c_str());
  if (tail != word)
    std::fprintf(io.out, "Command tail: \"%s\" (as the program cuts its command line)\n",
                 display_utf8(tail).c_str());
  if (!io.terminal_input && !o.yes)
    std::fprintf(io.out, "Standard input is not a terminal: every box%s is answered OK.\n",
                 o.answers.empty() ? "" : " after the --answer list");

  int exit_code = uninstaller_main(tail.c_str());
  sim::set_user(nullptr);

  std::string restart = render_restart(sim::restart());
  std::fprintf(io.out, "\n%s", restart.c_str());
  std::fprintf(io.out, "%sExit code: %d\n\n", restart.empty() ? "" : "\n", exit_code);
  run_account account =
      account_of_run({sim::calls(), sim::changes(), sim::marks(), a.shown, sim::restart()});
  for (const not_known_item &i : find_not_known(m, sim::calls(), sim::changes())) {
    run_event e = event_of(EVENT_NOT_KNOWN);
    e.subject = i.subject;
    e.why = i.why;
    add_event(account, e);
  }
  std::fprintf(io.out, "%s", render_summary(account, owners, io.colour).c_str());
  for (const std::string &leak : sim::leaks())
    std::fprintf(io.out, "Left open by the run: %s\n", leak.c_str());
  if (a.next_answer < o.answers.size()) {
    std::string extra;
    for (size_t i = a.next_answer; i < o.answers.size(); ++i)
      extra += (extra.empty() ? "" : ",") + o.answers[i];
    std::fprintf(io.out,
                 "Note: the run showed %zu boxes; the rest of the --answer list was not "
                 "needed: %s\n",
                 a.next_answer, extra.c_str());
  }

  // The export is the rehearsal's machine: written before the snapshot after the run is read.
  bool exported = !export_file || write_export(o, m, export_file, io) == 0;
  int status = exit_code & 0xFF;
  if (!o.compare.empty())
    status = compare_with_after(o, io, before_places, after, account);
  run_event exit = event_of(EVENT_EXIT);
  exit.code = static_cast<DWORD>(exit_code);
  add_event(account, exit);
  bool written =
      !record_file || write_output(record_file, o.record_file, render_record(account), io);
  return written && exported ? status : 1;
}
