// The simulation's INF reader: SetupOpenInfFileA and SetupGetLineTextA on arbitrary INF text,
// asked for the section and key that the uninstaller reads and for ones taken from the input.
#include "sim/sim.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

static void read_line(HINF inf, const char *section, const char *key) {
  DWORD required = 0;
  SetLastError(0);
  BOOL ok = SetupGetLineTextA(nullptr, inf, section, key, nullptr, 0, &required);
  if (!ok || GetLastError() != 0)
    return;
  if (required == 0)
    abort();
  // Exactly the size asked for: a longer write is seen by AddressSanitizer.
  char *text = static_cast<char *>(malloc(required));
  DWORD second = 0;
  ok = SetupGetLineTextA(nullptr, inf, section, key, text, required, &second);
  // Terminated at the size given (the text itself may hold a zero byte of the file).
  if (!ok || second != required || text[required - 1] != 0)
    abort();
  free(text);
  // Too small a buffer fails with ERROR_INSUFFICIENT_BUFFER and writes nothing beyond it.
  if (required > 1) {
    char *small = static_cast<char *>(malloc(required - 1));
    if (SetupGetLineTextA(nullptr, inf, section, key, small, required - 1, &second) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
      abort();
    free(small);
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool started = false;
  if (!started) {
    sim::machine_win2000();
    started = true;
  }
  std::string text(reinterpret_cast<const char *>(data), size);
  sim::inf_add("fuzz.inf", text);
  HINF inf = SetupOpenInfFileA("fuzz.inf", nullptr, INF_STYLE_WIN4, nullptr);
  if (inf != INVALID_HANDLE_VALUE) {
    read_line(inf, "USBTA", "QUENDALQ40 PRO USBPort Adapter");
    read_line(inf, "Version", "Signature");
    // A section and key named by the input: the text between the first brackets, and the
    // text before the first '=' after them.
    size_t open = text.find('['), close = text.find(']');
    if (open != std::string::npos && close != std::string::npos && open < close) {
      std::string section = text.substr(open + 1, close - open - 1);
      size_t equals = text.find('=', close);
      std::string key =
          equals == std::string::npos ? std::string() : text.substr(close + 1, equals - close - 1);
      read_line(inf, section.c_str(), key.c_str());
    }
    SetupCloseInfFile(inf);
  }
  if (!sim::leaks().empty())
    abort();
  // The calls' record grows with every input; start afresh now and then.
  if (sim::calls().size() > 100000) {
    sim::machine_win2000();
  }
  return 0;
}
