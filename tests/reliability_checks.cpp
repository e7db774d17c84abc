// Running the uninstaller on a planned machine, and the checks every run must pass: the boxes
// shown where and when the program may show them, every reported failure recorded as its
// step's rules say, the closing box the status table calls for, only changes within the
// catalogue's reach, every decoy intact and nothing left open.
#include "tests/reliability_internal.h"

#include "core/catalogue.h"
#include "core/entry.h"
#include "core/hosted/reset.h"
#include "core/texts.h"

#include <algorithm>
#include <set>

namespace reliability {

answer_policy random_answers(random_source &random) {
  return [&random](const sim::box &box) {
    if (box.type == MB_ICONERROR)
      return IDOK;
    return random.chance(75) ? IDOK : IDCANCEL;
  };
}

run_record run_uninstaller(const machine_plan &plan, const answer_policy &answers) {
  run_record run;
  reset_process_state();
  for (const sim::fault &f : plan.faults)
    sim::fail(f);
  run.first_call = sim::calls().size();
  sim::set_user([&run, &answers](const sim::box &box) {
    int answer = answers ? answers(box) : IDOK;
    run.answers.push_back(answer);
    return answer;
  });
  run.exit_code = uninstaller_main(plan.command_tail.c_str());
  sim::set_user(nullptr);
  return run;
}

// ---- Where each box was shown -----------------------------------------------------------

// Follows the run's calls to the phase they belong to. On Windows 2000 the modem class key
// opens a model's steps (the device list right after it is theirs), any other device list
// opens a model's detection, and the search for OEM INF copies is the late part of the steps. On
// Windows 98 the Enum key of a model opens its detection or, the second time (at once for
// model 0), its steps; the ports key is the late part.
struct phase_tracker {
  const machine_plan &plan;
  box_context current;
  bool step_device_list_next = false;
  int enum_opens[MODEL_COUNT] = {};
};

static void follow_nt_call(phase_tracker &t, const sim::call &c) {
  static const std::string modem_class = std::string("HKEY_LOCAL_MACHINE\\") + modem_class_path;
  box_context &current = t.current;
  if (c.function == "RegOpenKeyExA" && ieq(c.subject, modem_class)) {
    current.model = current.phase == OUTSIDE ? 0 : current.model;
    current.phase = STEPS;
    current.late = false;
    t.step_device_list_next = true;
  } else if (c.function == "SetupDiGetClassDevsA") {
    if (t.step_device_list_next) {
      t.step_device_list_next = false;
    } else {
      ++current.model;
      current.phase = CONFIRM;
      current.late = false;
    }
  } else if (c.function == "FindFirstFileA" && current.phase == STEPS) {
    current.late = true;
  }
}

static void follow_win98_call(phase_tracker &t, const sim::call &c) {
  if (c.function != "RegOpenKeyExA")
    return;
  box_context &current = t.current;
  for (int model = 0; model < MODEL_COUNT; ++model) {
    if (!ieq(c.subject, std::string("HKEY_LOCAL_MACHINE\\Enum\\") + model_hardware_id(model)))
      continue;
    int opens = ++t.enum_opens[model];
    current.model = model;
    current.phase = model == 0 || opens == 2 ? STEPS : CONFIRM;
    current.late = false;
  }
  if (ieq(c.subject, std::string("HKEY_LOCAL_MACHINE\\") + win98_ports) && current.phase == STEPS)
    current.late = true;
}

// The context of every box of the run, in order. Also tells, in `steps_ran`, which models'
// removal steps began.
static std::vector<box_context> box_contexts(const machine_plan &plan, const run_record &run,
                                             bool *steps_ran = nullptr) {
  std::vector<box_context> out;
  const std::vector<sim::call> &calls = sim::calls();
  phase_tracker t{plan, box_context()};
  for (size_t i = run.first_call; i < calls.size(); ++i) {
    const sim::call &c = calls[i];
    if (plan.win98)
      follow_win98_call(t, c);
    else
      follow_nt_call(t, c);
    const box_context &current = t.current;
    if (steps_ran && current.phase == STEPS && current.model >= 0 && current.model < MODEL_COUNT)
      steps_ran[current.model] = true;
    if (c.function != "MessageBoxA")
      continue;
    // The call a report names is the last one before the report's own calls.
    box_context context = current;
    size_t j = i;
    while (j > run.first_call &&
           (calls[j - 1].function == "FormatMessageA" || calls[j - 1].function == "GetLastError"))
      if (calls[--j].function == "FormatMessageA")
        context.code = calls[j].subject;
    if (j > run.first_call)
      context.failed = calls[j - 1];
    out.push_back(context);
  }
  return out;
}

// ---- The checks -------------------------------------------------------------------------

static std::string describe_box(const sim::box &box) {
  std::string text;
  for (unsigned char c : box.caption + " | " + box.text)
    text += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
  return text;
}

static bool is_question(const sim::box &box, int model) {
  return box.text == std::string(model_display_name(model)) + text_installed_question_suffix;
}

static bool is_notice(const sim::box &box, int model) {
  return box.text == std::string(model_display_name(model)) + text_not_installed_suffix;
}

// One run under check, what the checks have learnt of it so far, and the problems found.
struct run_check {
  const machine_plan &plan;
  const snapshot &before;
  const run_record &run;
  const std::vector<sim::box> &boxes;
  std::vector<box_context> contexts;
  bool processed[MODEL_COUNT] = {};
  unsigned processed_mask = 0;
  bool binding_failed = false;
  std::vector<std::string> problems = {};
  void problem(const std::string &text) { problems.push_back(text); }
};

// The boxes between the consent and the closing box are those from 1 to this index.
static size_t middle_end(const run_check &c) {
  return std::min(c.boxes.size() - 1, c.contexts.size());
}

// Models 1 and 2 are asked once, during their detection; model 0 needs no question. A model's
// removal steps run exactly when the user said OK.
static void check_questions(run_check &c) {
  bool asked[MODEL_COUNT] = {};
  bool steps_ran[MODEL_COUNT] = {};
  box_contexts(c.plan, c.run, steps_ran);
  for (size_t i = 1; i < middle_end(c); ++i) {
    for (int model = 1; model < MODEL_COUNT; ++model) {
      if (!is_question(c.boxes[i], model))
        continue;
      const box_context &context = c.contexts[i];
      if (context.phase != CONFIRM || context.model != model || asked[model])
        c.problem("question for model " + std::to_string(model) + " out of place (box " +
                  std::to_string(i) + ")");
      asked[model] = true;
      c.processed[model] = c.run.answers[i] == IDOK;
    }
  }
  c.processed[0] = steps_ran[0];
  for (int model = 1; model < MODEL_COUNT; ++model)
    if (steps_ran[model] != c.processed[model])
      c.problem("removal steps of model " + std::to_string(model) +
                (steps_ran[model] ? " ran without the user's OK" : " did not run after an OK"));
  for (int model = 0; model < MODEL_COUNT; ++model)
    if (c.processed[model])
      c.processed_mask |= 1u << model;
}

// An error box: shown where the program may report that call, and recorded in a flag where
// the step's rules record it.
static void check_report(run_check &c, size_t i) {
  const sim::box &box = c.boxes[i];
  const box_context &context = c.contexts[i];
  if (box.caption == caption_load_library || box.caption == caption_get_proc_address)
    c.binding_failed = true;
  int model = context.model >= 0 && context.model < MODEL_COUNT ? context.model : 0;
  int required = required_flags(c.plan, c.before, context, box.caption, c.processed[model]);
  std::string failed_call =
      " (failed call " + context.failed.function + " " + context.failed.subject + ")";
  if (required == NOT_HERE) {
    c.problem("box " + std::to_string(i) + " not expected here: " + describe_box(box) +
              failed_call);
    return;
  }
  for (int flag = 0; flag < 6; ++flag)
    if ((required & flag_bit(flag)) && flag_getters[flag](model) != 0)
      return;
  if (required != REPORT_ONLY)
    c.problem("reported failure left no status flag: box " + std::to_string(i) + " " +
              describe_box(box) + " for model " + std::to_string(model) + failed_call);
}

// The not-installed notice: once, in the model's steps, exactly when the model was processed
// and its flags are all zero. Every other box is a question or a report.
static void check_boxes(run_check &c) {
  bool noticed[MODEL_COUNT] = {};
  for (size_t i = 1; i < middle_end(c); ++i) {
    const sim::box &box = c.boxes[i];
    if (box.type == MB_ICONERROR) {
      check_report(c, i);
      continue;
    }
    bool known = is_question(box, 1) || is_question(box, 2);
    for (int model = 0; model < MODEL_COUNT; ++model) {
      if (!is_notice(box, model))
        continue;
      known = true;
      if (c.contexts[i].phase != STEPS || c.contexts[i].model != model || noticed[model])
        c.problem("not-installed notice for model " + std::to_string(model) + " out of place");
      noticed[model] = true;
    }
    if (!known)
      c.problem("unexpected box " + std::to_string(i) + ": " + describe_box(box));
  }
  const std::vector<int> flags =
      c.plan.win98 ? std::vector<int>{0, 1} : std::vector<int>{2, 3, 4, 5};
  for (int model = 0; model < MODEL_COUNT; ++model) {
    bool all_zero = true;
    for (int flag : flags)
      if (flag_getters[flag](model) != 0)
        all_zero = false;
    bool expected = c.processed[model] && all_zero;
    if (noticed[model] != expected)
      c.problem("not-installed notice for model " + std::to_string(model) +
                (expected ? " missing"
                          : " shown though its flags are not all zero or it was not processed"));
  }
}

static void check_binding(run_check &c) {
  if (!c.binding_failed)
    return;
  if (c.processed_mask != 0)
    c.problem("models were processed after a failed binding");
  for (int model = 0; model < MODEL_COUNT; ++model)
    for (int flag = 0; flag < 6; ++flag)
      if (flag_getters[flag](model) != 0)
        c.problem("a status flag was written after a failed binding");
}

// Whether one of the plan's faults made call `index` fail.
static bool faulted(const run_check &c, size_t index) {
  const std::vector<sim::call> &calls = sim::calls();
  int ordinal = 0;
  for (size_t i = c.run.first_call; i <= index; ++i)
    ordinal += calls[i].function == calls[index].function;
  for (const sim::fault &f : c.plan.faults)
    if (f.function == calls[index].function && f.subject.empty() && f.nth == ordinal)
      return true;
  return false;
}

// Whether Windows asked the run for a restart that the run could learn of: a file scheduled
// for deletion at restart, or a device removed at restart whose install parameters were read.
static bool restart_asked(const run_check &c) {
  const std::vector<sim::call> &calls = sim::calls();
  for (const sim::change &change : sim::changes()) {
    if (change.kind == sim::change::file_deleted_at_restart)
      return true;
    if (change.kind != sim::change::device_removed_at_restart)
      continue;
    for (size_t i = change.call + 1; i < calls.size(); ++i)
      if (calls[i].function == "SetupDiGetDeviceInstallParamsA") {
        if (!faulted(c, i))
          return true;
        break;
      }
  }
  return false;
}

// The closing box agrees with the status table and with what Windows finishes only at the
// next restart, and so does the restart.
static void check_closing_box(run_check &c) {
  bool restart = restart_asked(c);
  for (int model = 0; model < MODEL_COUNT; ++model)
    if (flag_getters[c.plan.win98 ? 0 : 3](model) != 0)
      restart = true;
  const sim::box &last = c.boxes.back();
  if (c.boxes.size() < 2) {
    c.problem("no closing box");
  } else if (restart) {
    if (last.text != text_restart_prompt)
      c.problem("closing box is not the restart prompt though a restart flag is set: " +
                describe_box(last));
    bool accepted = c.run.answers.back() == IDOK;
    if ((sim::restart().exit_windows_calls == 1) != accepted)
      c.problem("restart requested against the user's answer");
  } else {
    if (last.text != text_completed || last.type != MB_OK)
      c.problem("closing box is not the completion box: " + describe_box(last));
    if (sim::restart().exit_windows_calls != 0)
      c.problem("restart requested without a prompt");
  }
}

// Every change accounted for by a rule; every decoy survives.
static void check_changes(run_check &c) {
  const bool complete =
      !c.plan.win98 && (c.plan.command_tail == "--complete" || c.plan.command_tail == "-C");
  for (const sim::change &change : sim::changes()) {
    unsigned models = change.kind == sim::change::attributes_set ? 7u : c.processed_mask;
    if (!deletion_allowed(c.before, change, models, complete))
      c.problem("change outside the catalogue's reach: kind " + std::to_string(change.kind) + " " +
                change.subject);
  }
  for (const std::string &key : c.plan.decoy_keys)
    if (!sim::reg_key_exists(key))
      c.problem("decoy key deleted: " + key);
  for (const auto &value : c.plan.decoy_values)
    if (!sim::reg_value_exists(value.first, value.second))
      c.problem("decoy value deleted: " + value.first + "\\" + value.second);
  for (const std::string &file : c.plan.decoy_files)
    if (!sim::file_exists(file))
      c.problem("decoy file deleted: " + file);
  for (const std::string &device : c.plan.decoy_devices)
    if (!sim::device_exists(device))
      c.problem("decoy device removed: " + device);
}

// Nothing left open, but what a failed close or a failed binding keeps.
static void check_leaks(run_check &c) {
  std::set<std::string> kept;
  bool modules_kept = c.binding_failed;
  const std::vector<sim::call> &calls = sim::calls();
  for (const sim::fault &f : c.plan.faults) {
    int seen = 0;
    for (size_t i = c.run.first_call; i < calls.size(); ++i) {
      if (calls[i].function != f.function || ++seen != f.nth)
        continue;
      if (f.function == "RegCloseKey")
        kept.insert("open key " + calls[i].subject);
      if (f.function == "FreeLibrary")
        modules_kept = true;
    }
  }
  for (const std::string &line : sim::leaks())
    if (!kept.count(line) && !(modules_kept && line.compare(0, 14, "loaded module ") == 0))
      c.problem("left open: " + line);
}

std::vector<std::string> check_run(const machine_plan &plan, const snapshot &before,
                                   const run_record &run) {
  run_check c{plan, before, run, sim::boxes(), box_contexts(plan, run)};
  if (run.exit_code != 0)
    c.problem("exit code " + std::to_string(run.exit_code));
  if (c.contexts.size() != c.boxes.size())
    c.problem("boxes and MessageBoxA calls disagree");
  if (c.boxes.empty() || c.boxes[0].text != text_consent) {
    c.problem("the first box is not the consent box");
    return c.problems;
  }
  if (run.answers.empty() || run.answers[0] != IDOK) {
    if (c.boxes.size() != 1)
      c.problem("boxes after a declined consent");
    if (!sim::changes().empty())
      c.problem("changes after a declined consent");
    return c.problems;
  }
  check_questions(c);
  check_boxes(c);
  check_binding(c);
  check_closing_box(c);
  check_changes(c);
  check_leaks(c);
  return c.problems;
}

} // namespace reliability
