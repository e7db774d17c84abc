// The record of a rehearsal as JSON Lines (see run_record.h).
#include "tools/run_record.h"

#include "tools/encoding.h"
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

static std::string box_line(const sim::box &box) {
  return "{\"event\":\"box\",\"caption\":" + json_text(box.caption) +
         ",\"text\":" + json_text(box.text) + ",\"type\":" + std::to_string(box.type) +
         ",\"answer\":" + json_text(answer_label(box.answer)) + "}\n";
}

static std::string change_line(const sim::change &c, const std::string &function) {
  std::string fields;
  switch (c.kind) {
  case sim::change::key_deleted:
    fields = "\"key deleted\",\"key\":" + json_text(c.subject);
    break;
  case sim::change::value_deleted: {
    size_t slash = c.subject.rfind('\\');
    fields = "\"value deleted\",\"key\":" + json_text(c.subject.substr(0, slash)) +
             ",\"value\":" + json_text(c.subject.substr(slash + 1));
    break;
  }
  case sim::change::file_deleted:
    fields = "\"file deleted\",\"file\":" + json_text(c.subject);
    break;
  case sim::change::attributes_set:
    fields = "\"attributes set\",\"file\":" + json_text(c.subject);
    break;
  case sim::change::device_removed:
    fields = "\"device removed\",\"device\":" + json_text(c.subject);
    break;
  case sim::change::package_removed:
    fields = "\"package removed\",\"folder\":" + json_text(c.subject);
    break;
  case sim::change::file_deleted_at_restart:
    fields = "\"file deleted at restart\",\"file\":" + json_text(c.subject);
    break;
  case sim::change::device_removed_at_restart:
    fields = "\"device removed at restart\",\"device\":" + json_text(c.subject);
    break;
  }
  return "{\"event\":" + fields + ",\"call\":" + json_text(function) + "}\n";
}

std::string render_record(const run_view &run, int exit_code) {
  std::string out;
  size_t next_box = 0;
  // Boxes and changes each come in call order; a box goes before the changes of later calls.
  for (const sim::change &c : run.changes) {
    for (; next_box < run.boxes.size() && run.boxes[next_box].call < c.call; ++next_box)
      out += box_line(run.boxes[next_box].box);
    out += change_line(c, c.call < run.calls.size() ? run.calls[c.call].function : "");
  }
  for (; next_box < run.boxes.size(); ++next_box)
    out += box_line(run.boxes[next_box].box);
  for (const not_known_item &i : run.not_known)
    out += "{\"event\":\"not known\",\"subject\":" + json_text(i.subject) +
           ",\"why\":" + json_text(i.why) + "}\n";
  return out + "{\"event\":\"exit\",\"code\":" + std::to_string(exit_code) + "}\n";
}
