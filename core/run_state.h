// The run state (mode, option flag and a restart that Windows needs to finish the removal) and
// the model status table: six outcome flags per model, written by the removal steps and read
// by the sequences and the final check.
#pragma once

// Values of a status flag. Readers only ask whether a flag is zero.
enum {
  STATUS_NONE = 0,         // nothing found or removed
  STATUS_REMOVED = 1,      // found and removed
  STATUS_PARTIAL = 0x1000, // some but not all listed files deleted
  STATUS_FAILED = 0xFFFF,  // a failure was reported to the user
};

enum { MODE_UNKNOWN = 0, MODE_WIN98 = 1, MODE_NT = 2 };

void set_mode(int value);
int get_mode();
void set_option_flag(int value);
int get_option_flag();
// 1 once Windows has taken on something that it finishes only at the next restart: a device it
// could not stop (the class installer asks for a restart) or a file in use scheduled for
// deletion. Read by the final check beside the status table; a step's own flag still says what
// the step removed.
void set_restart_pending(int value);
int get_restart_pending();

void set_win98_registry_status(int model, int value);
int get_win98_registry_status(int model);
void set_win98_files_status(int model, int value);
int get_win98_files_status(int model);
void set_nt_device_status(int model, int value);
int get_nt_device_status(int model);
void set_nt_service_status(int model, int value);
int get_nt_service_status(int model);
void set_nt_files_status(int model, int value);
int get_nt_files_status(int model);
void set_nt_oem_inf_status(int model, int value);
int get_nt_oem_inf_status(int model);
