// The catalogue's shape, the run-time OEM INF field, and the texts' bytes.
#include "core/catalogue.h"
#include "core/run_state.h"
#include "core/texts.h"
#include "tests/support.h"

#include <cstring>

namespace {

TEST(catalogue, file_lists_are_packed_from_slot_zero) {
  const int win98_used[MODEL_COUNT] = {9, 13, 14};
  for (int model = 0; model < MODEL_COUNT; ++model) {
    for (int slot = 0; slot < WIN98_FILE_SLOTS; ++slot)
      EXPECT_EQ(model_win98_file(model, slot)[0] != 0, slot < win98_used[model])
          << "model " << model << " slot " << slot;
    for (int slot = 0; slot < NT_FILE_SLOTS; ++slot)
      EXPECT_EQ(model_nt_file(model, slot)[0] != 0, slot < 3) << "model " << model;
    EXPECT_EQ(model_device_desc_prefix_length(model),
              static_cast<int>(strlen(model_device_desc_prefix(model))));
    EXPECT_STREQ(model_nt_file(model, 1), "MDMKORT3.INF");
    EXPECT_STREQ(model_nt_file(model, 2), "MDMKORT3.PNF");
  }
  EXPECT_STREQ(model_hardware_id(0), "USB\\Vid_1E7A&Pid_0080");
  EXPECT_STREQ(model_hardware_id(1), "USB\\Vid_1E7A&Pid_0030");
  EXPECT_STREQ(model_hardware_id(2), "USB\\Vid_1E7A&Pid_0016");
  // The VMM32Files value names are slots 0 and 1 exactly as stored.
  EXPECT_STREQ(model_win98_file(0, 0), "Q40PPORT.VxD");
  EXPECT_STREQ(model_win98_file(2, 0), "Q-4PORT.VXD");
  EXPECT_STREQ(model_win98_file(1, 6), "OTHER\\DVXQ40USB.INF");
  // Model 2's port prefix is the beginning of model 1's.
  EXPECT_EQ(strncmp(model_device_desc_prefix(1), model_device_desc_prefix(2),
                    model_device_desc_prefix_length(2)),
            0);
}

TEST(catalogue, oem_inf_name_is_stored_bounded_and_reset) {
  reset_process_state();
  for (int model = 0; model < MODEL_COUNT; ++model)
    EXPECT_STREQ(model_oem_inf_name(model), "");
  set_model_oem_inf_name(1, "oem7.inf");
  set_model_oem_inf_name(1, "oem12.inf"); // a later call overwrites
  EXPECT_STREQ(model_oem_inf_name(1), "oem12.inf");
  EXPECT_STREQ(model_oem_inf_name(0), "");
  std::string long_name(300, 'x');
  set_model_oem_inf_name(2, long_name.c_str());
  EXPECT_EQ(strlen(model_oem_inf_name(2)), static_cast<size_t>(NAME_SIZE - 1));
  reset_process_state();
  EXPECT_STREQ(model_oem_inf_name(1), "");
  EXPECT_STREQ(model_oem_inf_name(2), "");
}

TEST(run_state, flags_are_independent_per_model) {
  reset_process_state();
  void (*setters[])(int, int) = {set_win98_registry_status, set_win98_files_status,
                                 set_nt_device_status,      set_nt_service_status,
                                 set_nt_files_status,       set_nt_oem_inf_status};
  int (*getters[])(int) = {get_win98_registry_status, get_win98_files_status,
                           get_nt_device_status,      get_nt_service_status,
                           get_nt_files_status,       get_nt_oem_inf_status};
  for (int flag = 0; flag < 6; ++flag)
    for (int model = 0; model < MODEL_COUNT; ++model)
      setters[flag](model, 100 * flag + model + 1);
  for (int flag = 0; flag < 6; ++flag)
    for (int model = 0; model < MODEL_COUNT; ++model)
      EXPECT_EQ(getters[flag](model), 100 * flag + model + 1) << "flag " << flag;
  reset_process_state();
  for (int flag = 0; flag < 6; ++flag)
    EXPECT_EQ(getters[flag](2), 0);
}

TEST(texts, are_the_code_page_932_bytes_of_the_japanese_texts) {
  struct row {
    const char *bytes;
    const char *utf8;
  } rows[] = {
      {text_program_caption, "QuendalQ40 PRO For USB ドライバアンインストーラ"},
      {text_unsupported_platform, "本アプリケーションは、この OS 上では動作いたしません。"},
      {text_invalid_option, "無効なオプションです。"},
      {text_consent, "QuendalQ40 PRO For USB ドライバを削除します。\nよろしいですか？"},
      {text_completed, "QuendalQ40 PRO For USB ドライバアンインストーラ処理を完了しました。"},
      {text_restart_prompt, "QuendalQ40 PRO For USB ドライバを削除しました。\nWindows "
                            "の再起動が必要です。\n\n今すぐに再起動しますか？"},
      {text_not_installed_suffix, "はインストールされていません。"},
      {text_installed_question_suffix, "がインストールされています。\n削除しますか？"},
  };
  for (const row &r : rows)
    EXPECT_EQ(std::string(r.bytes), cp932(r.utf8)) << r.utf8;
  EXPECT_EQ(strlen(text_not_installed_suffix), 30u);
  EXPECT_EQ(strlen(text_installed_question_suffix), 43u);
}

} // namespace
