// Drawing boxes and summaries as text. Names and texts on the machine are code page 932 and
// are converted to UTF-8 for the terminal.
#include "tools/terminal.h"

#include "tools/encoding.h"

#include <algorithm>
#include <cstdio>

// MessageBoxA types and answers beyond those the uninstaller uses, with their Windows values.
enum : UINT {
  type_mask = 0x0F,
  type_abort_retry_ignore = 2,
  type_yes_no_cancel = 3,
  type_yes_no = 4,
  type_retry_cancel = 5,
  icon_mask = 0xF0,
  icon_question = 0x20,
  icon_information = 0x40,
  default_mask = 0xF00,
  default_second = 0x100,
};
enum : int { id_abort = 3, id_retry = 4, id_ignore = 5, id_yes = 6, id_no = 7 };

static const char bold[] = "\x1b[1m";
static const char red[] = "\x1b[31m";
static const char yellow[] = "\x1b[33m";
static const char blue[] = "\x1b[34m";
static const char plain[] = "\x1b[0m";

static std::string paint(bool colour, const char *code, const std::string &text) {
  return colour ? code + text + plain : text;
}

// ---- Buttons and answers ----------------------------------------------------------------

static const box_button ok_button{IDOK, "OK", 'o'};
static const box_button cancel_button{IDCANCEL, "Cancel", 'c'};
static const box_button abort_button{id_abort, "Abort", 'a'};
static const box_button retry_button{id_retry, "Retry", 'r'};
static const box_button ignore_button{id_ignore, "Ignore", 'i'};
static const box_button yes_button{id_yes, "Yes", 'y'};
static const box_button no_button{id_no, "No", 'n'};

std::vector<box_button> box_buttons(UINT type) {
  switch (type & type_mask) {
  case MB_OKCANCEL:
    return {ok_button, cancel_button};
  case type_abort_retry_ignore:
    return {abort_button, retry_button, ignore_button};
  case type_yes_no_cancel:
    return {yes_button, no_button, cancel_button};
  case type_yes_no:
    return {yes_button, no_button};
  case type_retry_cancel:
    return {retry_button, cancel_button};
  default:
    return {ok_button};
  }
}

int default_answer(UINT type) {
  std::vector<box_button> buttons = box_buttons(type);
  size_t index = (type & default_mask) / default_second;
  return buttons[index < buttons.size() ? index : 0].id;
}

static bool has_button(UINT type, int id) {
  for (const box_button &b : box_buttons(type))
    if (b.id == id)
      return true;
  return false;
}

int close_answer(UINT type) {
  if (has_button(type, IDCANCEL))
    return IDCANCEL;
  if ((type & type_mask) == MB_OK)
    return IDOK;
  return 0;
}

int answer_for_key(UINT type, int key) {
  if (key == '\n' || key == '\r')
    return default_answer(type);
  if (key == 0x1b)
    return close_answer(type);
  for (const box_button &b : box_buttons(type))
    if (key == b.key || key == b.key - 'a' + 'A')
      return b.id;
  return 0;
}

int answer_for_word(UINT type, const std::string &typed) {
  std::string word = typed;
  std::transform(word.begin(), word.end(), word.begin(), ::tolower);
  if (word == "close")
    return close_answer(type);
  static const box_button *all[] = {&ok_button,     &cancel_button, &abort_button, &retry_button,
                                    &ignore_button, &yes_button,    &no_button};
  for (const box_button *b : all) {
    std::string name = b->label;
    std::transform(name.begin(), name.end(), name.begin(), ::tolower);
    if (word == name)
      return has_button(type, b->id) ? b->id : 0;
  }
  return -1;
}

const char *answer_label(int id) {
  for (const box_button &b :
       {ok_button, cancel_button, abort_button, retry_button, ignore_button, yes_button, no_button})
    if (b.id == id)
      return b.label;
  return "?";
}

// ---- Boxes ------------------------------------------------------------------------------

const char *icon_kind(UINT type) {
  switch (type & icon_mask) {
  case MB_ICONERROR:
    return "error";
  case icon_question:
    return "question";
  case MB_ICONWARNING:
    return "warning";
  case icon_information:
    return "information";
  default:
    return "";
  }
}

static std::string icon_glyph(UINT type, bool colour) {
  switch (type & icon_mask) {
  case MB_ICONERROR:
    return paint(colour, red, "(x)");
  case icon_question:
    return paint(colour, blue, "(?)");
  case MB_ICONWARNING:
    return paint(colour, yellow, "/!\\");
  case icon_information:
    return paint(colour, blue, "(i)");
  default:
    return "";
  }
}

static bool wide(unsigned long c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

size_t display_width(const std::string &utf8) {
  size_t width = 0;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    unsigned long code = length == 1 ? c : c & (0x3F >> (length - 1));
    for (size_t k = 1; k < length && i + k < utf8.size(); ++k)
      code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    width += wide(code) ? 2 : 1;
    i += length;
  }
  return width;
}

static std::vector<std::string> split_lines(const std::string &text) {
  std::vector<std::string> lines(1);
  for (char c : text) {
    if (c == '\n')
      lines.emplace_back();
    else if (c != '\r')
      lines.back() += c;
  }
  return lines;
}

static std::string repeat(const std::string &piece, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i)
    out += piece;
  return out;
}

// One row inside the frame: `content` (of `width` columns) padded to the inner width.
static std::string row(const std::string &content, size_t width, size_t inner) {
  return "  \u2502 " + content + std::string(inner > width ? inner - width : 0, ' ') + " \u2502\n";
}

// The characters of a UTF-8 text with their display widths.
static std::vector<std::pair<std::string, size_t>> characters(const std::string &utf8) {
  std::vector<std::pair<std::string, size_t>> out;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    std::string piece = utf8.substr(i, length);
    out.emplace_back(piece, display_width(piece));
    i += length;
  }
  return out;
}

// The line cut into lines of at most `width` columns: after the last blank that fits where
// there is one (English text), else between any two characters (Japanese text has no blanks).
static std::vector<std::string> wrap(const std::string &line, size_t width) {
  std::vector<std::string> out;
  std::vector<std::pair<std::string, size_t>> chars = characters(line);
  size_t start = 0;
  while (start < chars.size()) {
    size_t used = 0, end = start, last_blank = 0;
    for (; end < chars.size() && used + chars[end].second <= width; ++end) {
      used += chars[end].second;
      if (chars[end].first == " ")
        last_blank = end;
    }
    if (end < chars.size() && last_blank > start)
      end = last_blank;
    if (end == start) // a character wider than the line: give it a line of its own
      ++end;
    std::string piece;
    for (size_t i = start; i < end; ++i)
      piece += chars[i].first;
    out.push_back(piece);
    start = end;
    while (start < chars.size() && chars[start].first == " ")
      ++start;
  }
  if (out.empty())
    out.emplace_back();
  return out;
}

// The text cut to `width` columns, "..." marking the cut.
static std::string cut(const std::string &text, size_t width) {
  if (display_width(text) <= width)
    return text;
  std::string out;
  size_t used = 0;
  for (const auto &c : characters(text)) {
    if (used + c.second + 3 > width)
      break;
    out += c.first;
    used += c.second;
  }
  return out + "...";
}

std::string render_box(const sim::box &box, bool colour, size_t columns) {
  std::string caption = display_utf8(box.caption);
  std::vector<std::string> text = split_lines(display_utf8(box.text));
  while (text.size() > 1 && text.back().empty()) // system texts end with a line break
    text.pop_back();
  std::string icon = icon_glyph(box.type, colour);
  size_t indent = icon.empty() ? 0 : 5;
  std::vector<box_button> buttons = box_buttons(box.type);
  int preset = default_answer(box.type);

  std::string button_row, button_plain;
  for (const box_button &b : buttons) {
    std::string face = std::string("[ ") + b.label + " ]";
    button_plain += (button_plain.empty() ? "" : "  ") + face;
    button_row +=
        (button_row.empty() ? "" : "  ") + (b.id == preset ? paint(colour, bold, face) : face);
  }
  size_t button_width = display_width(button_plain);
  size_t inner = std::max<size_t>(display_width(caption) + 3, button_width);
  for (const std::string &line : text)
    inner = std::max(inner, indent + display_width(line));
  inner = std::max<size_t>(inner, 36);
  // The frame takes 6 columns; on a narrow terminal the text wraps inside it.
  if (columns && inner + 6 > columns)
    inner = std::max<size_t>({columns > 6 ? columns - 6 : 0, button_width, indent + 10});
  caption = cut(caption, inner - 3);

  size_t caption_width = display_width(caption);
  std::string out = "  \u250c\u2500 " + paint(colour, bold, caption) + " " +
                    repeat("\u2500", inner + 1 - caption_width - 2) + "\u2510\n";
  out += row("", 0, inner);
  bool first = true;
  for (const std::string &line : text)
    for (const std::string &piece : wrap(line, inner - indent)) {
      std::string lead = first && !icon.empty() ? icon + "  " : std::string(indent, ' ');
      out += row(lead + piece, indent + display_width(piece), inner);
      first = false;
    }
  out += row("", 0, inner);
  size_t left = (inner - button_width) / 2;
  out += row(std::string(left, ' ') + button_row, left + button_width, inner);
  out += "  \u2514" + repeat("\u2500", inner + 2) + "\u2518\n";

  std::vector<std::string> keys = {
      (icon.empty() ? std::string("no icon") : std::string(icon_kind(box.type)) + " icon"),
      std::string("Enter: ") + answer_label(preset)};
  for (const box_button &b : buttons)
    keys.push_back(std::string(1, b.key) + ": " + b.label);
  if (close_answer(box.type))
    keys.push_back(std::string("Esc: ") + answer_label(close_answer(box.type)));
  std::string line = "  " + keys[0];
  for (size_t i = 1; i < keys.size(); ++i) {
    if (columns && display_width(line) + 3 + keys[i].size() > columns) {
      out += line + "\n";
      line = "  " + keys[i];
    } else {
      line += " | " + keys[i];
    }
  }
  return out + line + "\n";
}

std::string render_restart(const sim::restart_record &restart) {
  if (restart.exit_windows_calls == 0)
    return "";
  char line[160];
  std::string out = "Restart: the uninstaller asked Windows to ";
  out += (restart.exit_flags & EWX_REBOOT) ? "restart now.\n" : "shut down or log off.\n";
  if (!restart.privilege_looked_up.empty())
    out += "  privilege enabled first: " + restart.privilege_looked_up + "\n";
  std::snprintf(line, sizeof line, "  ExitWindowsEx(flags 0x%lX%s, reason 0x%lX)\n",
                static_cast<unsigned long>(restart.exit_flags),
                restart.exit_flags == EWX_REBOOT ? " = EWX_REBOOT" : "",
                static_cast<unsigned long>(restart.exit_reason));
  out += line;
  return out + "  Not done: this is a rehearsal on a simulated machine.\n";
}
