#include "core/model_messages.h"

#include "core/account.h"
#include "core/catalogue.h"
#include "core/cp932.h"
#include "core/texts.h"
#include "platform/windows_api.h"

enum { NOTICE_SIZE = 100, QUESTION_SIZE = 256 };

// The display name followed by `suffix`; 0 when it would not fit, so that a text is never
// shown cut (the catalogue's names fit with room to spare).
static int compose(char *text, size_t text_size, int model, const char *suffix) {
  text[0] = 0;
  return append_text(text, text_size, model_display_name(model)) &&
         append_text(text, text_size, suffix);
}

void show_not_installed_notice(int model) {
  char notice[NOTICE_SIZE];
  if (compose(notice, sizeof notice, model, text_not_installed_suffix))
    MessageBoxA(nullptr, notice, text_program_caption, MB_OK | MB_ICONWARNING);
}

int ask_model_removal(int model) {
  // A question that cannot be asked whole is not asked: nothing is removed unasked.
  mark_step(model, STEP_QUESTION);
  char question[QUESTION_SIZE];
  if (!compose(question, sizeof question, model, text_installed_question_suffix))
    return 0;
  return MessageBoxA(nullptr, question, text_program_caption, MB_OKCANCEL | MB_ICONWARNING) == IDOK;
}
