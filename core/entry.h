// The program's entry and run flow.
#pragma once

// Runs the uninstaller; returns the process exit code (-1 refused, 0 otherwise).
int uninstaller_main(const char *command_tail);
// The command tail of a whole command line: the program name (quoted or not) and the
// blanks and control characters after it dropped. Returns a pointer into `command_line`.
const char *cut_command_tail(const char *command_line);

int detect_platform();
int check_option(const char *command_tail);
int restart_needed();
void restart_windows();
