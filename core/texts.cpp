// The program's texts as code-page-932 bytes; each Japanese text is shown above its bytes.
// Line breaks are single line feeds.
#include "core/texts.h"

// "QuendalQ40 PRO For USB ドライバアンインストーラ"
#define PROGRAM_NAME "QuendalQ40 PRO For USB "
#define DRIVER_UNINSTALLER                                                                         \
  "\x83\x68\x83\x89\x83\x43\x83\x6f\x83\x41\x83\x93\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5b\x83"   \
  "\x89"

const char text_program_caption[] = PROGRAM_NAME DRIVER_UNINSTALLER;

// "本アプリケーションは、この OS 上では動作いたしません。"
const char text_unsupported_platform[] =
    "\x96\x7b\x83\x41\x83\x76\x83\x8a\x83\x50\x81\x5b\x83\x56\x83\x87\x83\x93\x82\xcd\x81\x41"
    "\x82\xb1\x82\xcc OS \x8f\xe3\x82\xc5\x82\xcd\x93\xae\x8d\xec\x82\xa2\x82\xbd\x82\xb5\x82\xdc"
    "\x82\xb9\x82\xf1\x81\x42";

// "無効なオプションです。"
const char text_invalid_option[] =
    "\x96\xb3\x8c\xf8\x82\xc8\x83\x49\x83\x76\x83\x56\x83\x87\x83\x93\x82\xc5\x82\xb7\x81\x42";

// "QuendalQ40 PRO For USB ドライバを削除します。\nよろしいですか？"
const char text_consent[] = PROGRAM_NAME "\x83\x68\x83\x89\x83\x43\x83\x6f\x82\xf0\x8d\xed\x8f\x9c"
                                         "\x82\xb5\x82\xdc\x82\xb7\x81\x42\n"
                                         "\x82\xe6\x82\xeb\x82\xb5\x82\xa2\x82\xc5\x82\xb7\x82\xa9"
                                         "\x81\x48";

// "QuendalQ40 PRO For USB ドライバアンインストーラ処理を完了しました。"
const char text_completed[] = PROGRAM_NAME DRIVER_UNINSTALLER
    "\x8f\x88\x97\x9d\x82\xf0\x8a\xae\x97\xb9\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42";

// "QuendalQ40 PRO For USB ドライバを削除しました。\nWindows の再起動が必要です。\n\n"
// "今すぐに再起動しますか？"
const char text_restart_prompt[] =
    PROGRAM_NAME "\x83\x68\x83\x89\x83\x43\x83\x6f\x82\xf0\x8d\xed\x8f\x9c\x82\xb5\x82\xdc\x82\xb5"
                 "\x82\xbd\x81\x42\n"
                 "Windows \x82\xcc\x8d\xc4\x8b\x4e\x93\xae\x82\xaa\x95\x4b\x97\x76\x82\xc5\x82\xb7"
                 "\x81\x42\n\n"
                 "\x8d\xa1\x82\xb7\x82\xae\x82\xc9\x8d\xc4\x8b\x4e\x93\xae\x82\xb5\x82\xdc\x82\xb7"
                 "\x82\xa9\x81\x48";

// "はインストールされていません。" (30 bytes)
const char text_not_installed_suffix[] = "\x82\xcd\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5b\x83\x8b"
                                         "\x82\xb3\x82\xea\x82\xc4\x82\xa2\x82\xdc\x82\xb9\x82\xf1"
                                         "\x81\x42";

// "がインストールされています。\n削除しますか？" (43 bytes)
const char text_installed_question_suffix[] =
    "\x82\xaa\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5b\x83\x8b\x82\xb3\x82\xea\x82\xc4\x82\xa2"
    "\x82\xdc\x82\xb7\x81\x42\n"
    "\x8d\xed\x8f\x9c\x82\xb5\x82\xdc\x82\xb7\x82\xa9\x81\x48";

const char caption_get_version_ex[] = "Function : GetVersionEx()";
const char caption_load_library[] = "Function : LoadLibrary()";
const char caption_get_proc_address[] = "Function : GetProcAddress()";
const char caption_free_library[] = "Function : FreeLibrary()";
const char caption_setup_di_get_class_devs[] = "Function : SetupDiGetClassDevs()";
const char caption_get_device_registry_property[] = "Function : GetDeviceRegistryProperty()";
const char caption_local_alloc[] = "Function : LocalAlloc()";
const char caption_call_class_installer[] = "Function : CallClassInstaller()";
const char caption_unknown[] = "Function : Unknown";
const char caption_reg_open_key_ex[] = "Function : RegOpenKeyEx()";
const char caption_reg_close_key[] = "Function : RegCloseKey()";
const char caption_reg_delete_key[] = "Function : RegDeleteKey()";
const char caption_get_windows_directory[] = "Function : GetWindowsDirectory()";
const char caption_get_system_directory[] = "Function : GetSystemDirectory()";
const char caption_set_file_attributes[] = "Function : SetFileAttributes()";
const char caption_delete_file[] = "Function : DeleteFile()";
const char caption_setup_uninstall_oem_inf[] = "Function : SetupUninstallOEMInf()";
const char caption_find_first_file[] = "Function : FindFirstFile()";
const char caption_find_next_file[] = "Function : FindNextFile()";
const char caption_is_wow64_process[] = "Function : IsWow64Process()";
const char caption_get_module_file_name[] = "Function : GetModuleFileName()";
const char caption_create_process[] = "Function : CreateProcess()";
const char caption_get_binary_type[] = "Function : GetBinaryType()";
