// The rehearsal: options, machine, run, answers, result.
#include "tools/rehearsal.h"

#include "core/entry.h"
#include "core/hosted/reset.h"
#include "sim/sim.h"
#include "tools/builtin_machines.h"
#include "tools/encoding.h"
#include "tools/machine_file.h"
#include "tools/reg_file.h"
#include "tools/run_record.h"
#include "tools/snapshot.h"
#include "tools/summary.h"
#include "tools/terminal.h"

#include <cerrno>
#include <cstring>

namespace {

struct options {
  std::string machine = "win2000";
  bool machine_given = false;
  std::string snapshot;
  std::vector<std::string> answers;
  bool yes = false;
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
  std::fprintf(to, "usage: uninstall-sim [--machine NAME|FILE | --snapshot FOLDER]\n"
                   "                     [--answer ok,cancel,...] [--yes] [--export FILE]\n"
                   "                     [--record FILE] [--] [WORD]\n"
                   "Rehearses the uninstaller on a simulated machine. WORD is passed to it as its\n"
                   "command line (QuendalUninstall.exe WORD); without WORD the command line is\n"
                   "empty. --snapshot rehearses on a folder written by tools/snapshot.bat on a\n"
                   "real machine. --export writes the registry after the run as a .reg file;\n"
                   "--record writes the boxes and every change, one JSON object a line.\n"
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

static bool parse_options(const std::vector<std::string> &args, const rehearsal_io &io,
                          options &o) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &a = args[i];
    bool takes_value = a == "--machine" || a == "--answer" || a == "--export" ||
                       a == "--snapshot" || a == "--record";
    if (takes_value && i + 1 >= args.size())
      return usage_error(io, a + " needs a value");
    if (takes_value && args[i + 1].empty())
      return usage_error(io, a + " needs a value, not an empty word");
    if (a == "--machine") {
      o.machine = args[++i];
      o.machine_given = true;
    } else if (a == "--snapshot") {
      o.snapshot = args[++i];
    } else if (a == "--answer") {
      if (!parse_answers(io, args[++i], o.answers))
        return false;
    } else if (a == "--export") {
      o.export_file = args[++i];
      o.has_export = true;
    } else if (a == "--record") {
      o.record_file = args[++i];
      o.has_record = true;
    } else if (a == "--yes") {
      o.yes = true;
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
  return true;
}

static void print_warnings(const rehearsal_io &io, const std::vector<std::string> &warnings) {
  for (const std::string &w : warnings)
    std::fprintf(io.err, "uninstall-sim: warning: %s\n", w.c_str());
}

static bool load_machine(const options &o, const rehearsal_io &io, machine_description &m) {
  load_error error;
  std::vector<std::string> warnings;
  const builtin_machine *builtin = o.snapshot.empty() ? find_builtin_machine(o.machine) : nullptr;
  bool loaded = !o.snapshot.empty() ? read_snapshot(o.snapshot, m, warnings, error)
                : builtin && !builtin->snapshot.empty()
                    ? read_builtin_snapshot(*builtin, m, warnings, error)
                : builtin ? read_machine_text(builtin->text, o.machine, "", m, error)
                          : read_machine_file(o.machine, m, error);
  print_warnings(io, warnings);
  if (!loaded) {
    if (!builtin && o.snapshot.empty() && error.line == 0 && error.what == "cannot be read")
      return usage_error(io, "no built-in machine and no readable file named '" + o.machine + "'");
    std::fprintf(io.err, "uninstall-sim: %s\n", describe(error).c_str());
    return false;
  }
  if (builtin)
    m.source = std::string(builtin->name) + ": " + builtin->summary;
  for (const load_error &warning : m.warnings)
    std::fprintf(io.err, "%s\n", describe_warning(warning).c_str());
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
  if (!load_machine(o, io, m))
    return 2;
  apply_machine(m);
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
  run_view run{m.win98, sim::calls(), sim::changes(), a.shown, owners};
  std::fprintf(io.out, "%s", render_summary(run, io.colour).c_str());
  for (const std::string &leak : sim::leaks())
    std::fprintf(io.out, "Left open by the run: %s\n", leak.c_str());
  if (a.next_answer < o.answers.size())
    std::fprintf(io.out, "Note: %zu of the --answer list were not needed.\n",
                 o.answers.size() - a.next_answer);

  bool written =
      !record_file || write_output(record_file, o.record_file, render_record(run, exit_code), io);
  if (export_file && write_export(o, m, export_file, io) != 0)
    return 1;
  return written ? exit_code & 0xFF : 1;
}
