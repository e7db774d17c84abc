// The record of a rehearsal as JSON Lines (see run_record.h).
#include "tools/run_record.h"

#include "core/hosted/account.h"
#include "tools/encoding.h"
#include "tools/error_names.h"
#include "tools/terminal.h"

#include <cstdio>

// A JSON string of code-page-932 text.
static std::string json_text(const std::string &cp932) {
  std::string out = "\"";
  for (char c : display_utf8(cp932)) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (u < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

static std::string field(const char *name, const std::string &json) {
  return std::string(",\"") + name + "\":" + json;
}

static std::string where(const run_event &e) {
  bool model = e.model >= 0 && e.model < MODEL_COUNT;
  bool step = e.step >= 0 && e.step < STEP_COUNT;
  return field("model", model ? std::to_string(e.model) : "null") +
         field("step", step ? json_text(step_name(e.step)) : "null");
}

static std::string subject_fields(const run_event &e) {
  return field("subject kind", json_text(subject_kind_name(e.subject_kind))) +
         field("subject", json_text(e.subject));
}

static std::string change_fields(const run_event &e) {
  switch (e.change) {
  case sim::change::key_deleted:
    return field("key", json_text(e.subject));
  case sim::change::value_deleted: {
    size_t slash = e.subject.rfind('\\');
    return field("key", json_text(e.subject.substr(0, slash))) +
           field("value", json_text(e.subject.substr(slash + 1)));
  }
  case sim::change::file_deleted:
  case sim::change::attributes_set:
  case sim::change::file_deleted_at_restart:
    return field("file", json_text(e.subject));
  case sim::change::device_removed:
  case sim::change::device_removed_at_restart:
    return field("device", json_text(e.subject));
  case sim::change::package_removed:
    return field("folder", json_text(e.subject));
  }
  return "";
}

static std::string event_line(const run_event &e) {
  const char *name = e.kind == EVENT_CHANGE ? change_kind_name(e.change) : event_kind_names[e.kind];
  std::string out = "{\"event\":" + json_text(name);
  switch (e.kind) {
  case EVENT_BOX:
    out += field("caption", json_text(e.box.caption)) + field("text", json_text(e.box.text)) +
           field("type", std::to_string(e.box.type)) +
           field("answer", json_text(answer_label(e.box.answer))) + where(e);
    break;
  case EVENT_CHANGE:
    out += change_fields(e) + field("call", json_text(e.call)) + where(e);
    break;
  case EVENT_FAILURE:
    out += field("caption", json_text(e.caption)) + field("code", std::to_string(e.code)) +
           field("code name", json_text(error_name(e.code))) + subject_fields(e) + where(e);
    break;
  case EVENT_KEPT:
    out += subject_fields(e) + field("why", json_text(e.why)) + where(e);
    break;
  case EVENT_NOT_KNOWN:
    out += field("subject", json_text(e.subject)) + field("why", json_text(e.why));
    break;
  case EVENT_RESTART:
    out += field("flags", std::to_string(e.flags)) + where(e);
    break;
  case EVENT_COMPARED:
    out +=
        field("result", json_text(compare_result_names[e.result])) + subject_fields(e) + where(e);
    break;
  case EVENT_EXIT:
    out += field("code", std::to_string(static_cast<int>(e.code)));
    break;
  case EVENT_KIND_COUNT:
    break;
  }
  return out + "}\n";
}

std::string render_record(const run_account &account) {
  std::string out = "{\"format\":\"uninstall-sim record\",\"version\":3}\n";
  for (const run_event &e : account.events)
    out += event_line(e);
  return out;
}
