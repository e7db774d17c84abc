// Every text the program shows, as code-page-932 bytes.
#pragma once

// The caption of every message box except the system-error report.
extern const char text_program_caption[];
extern const char text_unsupported_platform[];
extern const char text_invalid_option[];
extern const char text_consent[];
extern const char text_completed[];
extern const char text_restart_prompt[];
// Written directly behind a model's display name.
extern const char text_not_installed_suffix[];
extern const char text_installed_question_suffix[];

// Captions of the system-error report, naming the call that failed.
extern const char caption_get_version_ex[];
extern const char caption_load_library[];
extern const char caption_get_proc_address[];
extern const char caption_free_library[];
extern const char caption_setup_di_get_class_devs[];
extern const char caption_get_device_registry_property[];
extern const char caption_local_alloc[];
extern const char caption_call_class_installer[];
extern const char caption_unknown[];
extern const char caption_reg_open_key_ex[];
extern const char caption_reg_close_key[];
extern const char caption_reg_delete_key[];
extern const char caption_get_windows_directory[];
extern const char caption_get_system_directory[];
extern const char caption_set_file_attributes[];
extern const char caption_delete_file[];
extern const char caption_setup_uninstall_oem_inf[];
// Of the search of the INF folder for OEM INF copies.
extern const char caption_find_first_file[];
extern const char caption_find_next_file[];
// Of the hand-off from the 32-bit edition to the 64-bit edition under WOW64.
extern const char caption_is_wow64_process[];
extern const char caption_get_module_file_name[];
extern const char caption_create_process[];
extern const char caption_get_binary_type[];
