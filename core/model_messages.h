// The two per-model boxes of the removal sequences: the model's display name with a Japanese
// suffix written directly behind it, under the program caption.
#pragma once

// "<name> is not installed": a notice with the warning icon; the answer is not read.
void show_not_installed_notice(int model);
// "<name> is installed. Remove it?": 1 when the user answers OK, 0 for Cancel or a closed box.
int ask_model_removal(int model);
