// The program's entry and run flow.
#pragma once

// Runs the uninstaller; returns the process exit code (-1 refused, 0 otherwise).
int uninstaller_main(const char *command_tail);
// The command tail of a whole command line: the program name (quoted or not) and the
// blanks and control characters after it dropped. Returns a pointer into `command_line`.
const char *cut_command_tail(const char *command_line);
// The same cut of a wide command line (GetCommandLineW).
const wchar_t *cut_wide_command_tail(const wchar_t *command_line);

// Which edition this program is. The 32-bit edition (QuendalUninstall.exe) is the one users
// start on every Windows; under WOW64 it hands the run to the 64-bit edition
// (QuendalUninstall64.exe) in its folder. app/ answers for each Windows target, the hosted
// build as a test chose.
enum { EDITION_32_BIT = 32, EDITION_64_BIT = 64 };
int program_edition();

// 1 when this process runs under WOW64, 0 when not (also where Windows lacks IsWow64Process),
// -1 when the query failed; the failure has been reported.
int runs_under_wow64();
// Starts the 64-bit edition from this program's folder with the command tail of this
// process's wide command line and waits for it. Returns 1 with the child's exit code in
// `exit_code`, or 0 when it could not be started; a failure other than the edition's absence
// (no file, or none that is a 64-bit program) has been reported.
int hand_off_to_64_bit_edition(int *exit_code);
int detect_platform();
int check_option(const char *command_tail);
int restart_needed();
void restart_windows();
