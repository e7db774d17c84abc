// The rehearsal: options, machine, run, answers, result.
#include "tools/rehearsal.h"

#include "core/entry.h"
#include "core/hosted/reset.h"
#include "sim/sim.h"
#include "tools/builtin_machines.h"
#include "tools/encoding.h"
#include "tools/machine_file.h"
#include "tools/reg_file.h"
#include "tools/terminal.h"

#include <fstream>

namespace {

struct options {
  std::string machine = "win2000";
  std::vector<std::string> answers;
  bool yes = false;
  std::string export_file;
  bool has_word = false;
  std::string word;
  bool help = false;
};

// Where the answers come from while the run goes on.
struct answering {
  const options *opts;
  const rehearsal_io *io;
  size_t next_answer;
};

} // namespace

static void usage(std::FILE *to) {
  std::fprintf(to, "usage: uninstall-sim [--machine NAME|FILE] [--answer ok,cancel,...] [--yes]\n"
                   "                     [--export FILE] [--] [WORD]\n"
                   "Rehearses the uninstaller on a simulated machine. WORD is passed to it as its\n"
                   "command line (QuendalUninstall.exe WORD); without WORD the command line is\n"
                   "empty. Built-in machines:\n");
  for (const builtin_machine &m : builtin_machines())
    std::fprintf(to, "  %-16s %s\n", m.name, m.summary);
}

static bool usage_error(const rehearsal_io &io, const std::string &what) {
  std::fprintf(io.err, "uninstall-sim: %s\n", what.c_str());
  usage(io.err);
  return false;
}

static bool parse_answers(const rehearsal_io &io, const std::string &list,
                          std::vector<std::string> &answers) {
  size_t start = 0;
  for (;;) {
    size_t comma = list.find(',', start);
    std::string word = list.substr(start, comma == std::string::npos ? comma : comma - start);
    if (answer_for_word(0, word) < 0)
      return usage_error(io, "unknown answer '" + word +
                                 "' (ok, cancel, yes, no, abort, retry, ignore, close)");
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
    bool takes_value = a == "--machine" || a == "--answer" || a == "--export";
    if (takes_value && i + 1 >= args.size())
      return usage_error(io, a + " needs a value");
    if (a == "--machine") {
      o.machine = args[++i];
    } else if (a == "--answer") {
      if (!parse_answers(io, args[++i], o.answers))
        return false;
    } else if (a == "--export") {
      o.export_file = args[++i];
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
  return true;
}

static bool load_machine(const options &o, const rehearsal_io &io, machine_description &m) {
  load_error error;
  const builtin_machine *builtin = find_builtin_machine(o.machine);
  bool loaded = builtin ? read_machine_text(builtin->text, o.machine, "", m, error)
                        : read_machine_file(o.machine, m, error);
  if (!loaded) {
    if (!builtin && error.line == 0 && error.what == "cannot be read")
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

static int answer_box(const sim::box &box, answering &a) {
  const rehearsal_io &io = *a.io;
  std::fprintf(io.out, "\n%s", render_box(box, io.colour).c_str());
  int id = 0;
  std::string how;
  if (a.next_answer < a.opts->answers.size()) {
    const std::string &word = a.opts->answers[a.next_answer++];
    id = answer_for_word(box.type, word);
    how = "--answer " + word;
    if (id <= 0) {
      id = default_answer(box.type);
      how += ": the box has no such button, its default button is pressed";
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

static int write_export(const options &o, const machine_description &m, const rehearsal_io &io) {
  std::string bytes, problem;
  reg_format format = export_format(m);
  if (!write_reg(format, bytes, problem)) {
    std::fprintf(io.err, "uninstall-sim: cannot export the registry: %s\n", problem.c_str());
    return 1;
  }
  std::ofstream out(o.export_file, std::ios::binary);
  out << bytes;
  if (!out.flush()) {
    std::fprintf(io.err, "uninstall-sim: cannot write %s\n", o.export_file.c_str());
    return 1;
  }
  std::fprintf(io.out, "\nRegistry exported to %s (%s).\n", o.export_file.c_str(),
               format == reg_format_regedit4 ? "REGEDIT4" : "Windows Registry Editor Version 5.00");
  return 0;
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
  reset_process_state();
  answering a{&o, &io, 0};
  sim::set_user([&a](const sim::box &box) { return answer_box(box, a); });

  std::fprintf(io.out, "Machine: %s\n", display_utf8(m.source).c_str());
  std::fprintf(io.out, "Command line: QuendalUninstall.exe%s%s\n", o.word.empty() ? "" : " ",
               o.word.c_str());
  if (!io.terminal_input && !o.yes)
    std::fprintf(io.out, "Standard input is not a terminal: every box%s is answered OK.\n",
                 o.answers.empty() ? "" : " after the --answer list");

  int exit_code = uninstaller_main(o.word.c_str());
  sim::set_user(nullptr);

  std::string restart = render_restart(sim::restart());
  std::fprintf(io.out, "\n%s", restart.c_str());
  std::fprintf(io.out, "%sExit code: %d\n\n", restart.empty() ? "" : "\n", exit_code);
  std::fprintf(io.out, "%s", render_summary(sim::changes(), io.colour).c_str());
  for (const std::string &leak : sim::leaks())
    std::fprintf(io.out, "Left open by the run: %s\n", leak.c_str());
  if (a.next_answer < o.answers.size())
    std::fprintf(io.out, "Note: %zu of the --answer list were not needed.\n",
                 o.answers.size() - a.next_answer);

  if (!o.export_file.empty() && write_export(o, m, io) != 0)
    return 1;
  return exit_code & 0xFF;
}
