// The run state and the model status table. Both live for the process and start at zero.
#include "core/run_state.h"

#include "core/process_state.h"

int run_mode;
int run_option_flag;
int run_restart_pending;
int model_status[MODEL_COUNT][FLAG_COUNT];

void set_mode(int value) {
  run_mode = value;
}
int get_mode() {
  return run_mode;
}
void set_option_flag(int value) {
  run_option_flag = value;
}
int get_option_flag() {
  return run_option_flag;
}
void set_restart_pending(int value) {
  run_restart_pending = value;
}
int get_restart_pending() {
  return run_restart_pending;
}

void set_win98_registry_status(int model, int value) {
  model_status[model][FLAG_WIN98_REGISTRY] = value;
}
int get_win98_registry_status(int model) {
  return model_status[model][FLAG_WIN98_REGISTRY];
}
void set_win98_files_status(int model, int value) {
  model_status[model][FLAG_WIN98_FILES] = value;
}
int get_win98_files_status(int model) {
  return model_status[model][FLAG_WIN98_FILES];
}
void set_nt_device_status(int model, int value) {
  model_status[model][FLAG_NT_DEVICE] = value;
}
int get_nt_device_status(int model) {
  return model_status[model][FLAG_NT_DEVICE];
}
void set_nt_service_status(int model, int value) {
  model_status[model][FLAG_NT_SERVICE] = value;
}
int get_nt_service_status(int model) {
  return model_status[model][FLAG_NT_SERVICE];
}
void set_nt_files_status(int model, int value) {
  model_status[model][FLAG_NT_FILES] = value;
}
int get_nt_files_status(int model) {
  return model_status[model][FLAG_NT_FILES];
}
void set_nt_oem_inf_status(int model, int value) {
  model_status[model][FLAG_NT_OEM_INF] = value;
}
int get_nt_oem_inf_status(int model) {
  return model_status[model][FLAG_NT_OEM_INF];
}
