// What uninstall-sim shows in the terminal: message boxes drawn as text with their buttons
// and keys, and the restart the program asked for (the summary is in summary.h).
#pragma once

#include "sim/sim.h"

#include <string>
#include <vector>

struct box_button {
  int id;            // IDOK, IDCANCEL, ...
  const char *label; // "OK"
  char key;          // the key that presses it
};

// The buttons of a MessageBoxA type, left to right.
std::vector<box_button> box_buttons(UINT type);
// The answer Enter gives: the default button (MB_DEFBUTTON2/3 choose the second or third).
int default_answer(UINT type);
// The answer closing the box (Esc) gives, as Windows does: Cancel when the box has a Cancel
// button, OK when OK is its only button; 0 when the box cannot be closed that way.
int close_answer(UINT type);
// The answer a key press gives (Enter, Esc or a button's key); 0 when the key does nothing.
int answer_for_key(UINT type, int key);
// The answer an --answer word gives ("ok", "cancel", "yes", "no", "abort", "retry", "ignore",
// "close", in any letter case), or 0 when the box has no such button; -1 when the word is not
// an answer at all.
int answer_for_word(UINT type, const std::string &word);
const char *answer_label(int id);

// "error", "warning", "question", "information" or "" for a box without an icon.
const char *icon_kind(UINT type);
// Columns a UTF-8 text takes in a terminal (East Asian wide characters take two).
size_t display_width(const std::string &utf8);

// The box as lines of text (UTF-8), ending with the line that names the keys; on a terminal
// of `columns` columns (0: no limit) the text wraps inside the frame.
std::string render_box(const sim::box &box, bool colour, size_t columns);
// What the program's restart request would have done; "" when it made none.
std::string render_restart(const sim::restart_record &restart);
