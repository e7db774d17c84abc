// uninstall-sim: runs the uninstaller against a simulated Windows 2000 machine with model 0
// installed and shows the user's side of the run in the terminal.
#include "core/entry.h"
#include "core/hosted/reset.h"
#include "sim/sim.h"

#include <iconv.h>
#include <unistd.h>

#include <cstdio>
#include <string>

static std::string to_utf8(const std::string &cp932) {
  iconv_t converter = iconv_open("UTF-8", "CP932");
  std::string out(cp932.size() * 3 + 4, '\0');
  char *in_ptr = const_cast<char *>(cp932.data());
  size_t in_left = cp932.size();
  char *out_ptr = &out[0];
  size_t out_left = out.size();
  iconv(converter, &in_ptr, &in_left, &out_ptr, &out_left);
  iconv_close(converter);
  out.resize(out.size() - out_left);
  return out;
}

static void default_machine() {
  const std::string modem_class =
      "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000";
  sim::machine_win2000();
  sim::reg_set_string(modem_class, "MatchingDeviceId", "usb\\vid_1e7a&pid_0080");
  sim::reg_set_string(modem_class, "InfPath", "oem3.inf");
  sim::reg_add_key("SYSTEM\\ControlSet001\\Services\\Q40PUCOM\\Enum");
  sim::reg_add_key("SYSTEM\\ControlSet002\\Services\\Q40PUCOM");
  sim::device_add("USB\\VID_1E7A&PID_0080\\5&1A2B3C4D&0&1",
                  {"USB\\Vid_1E7A&Pid_0080&Rev_0100", "USB\\Vid_1E7A&Pid_0080"});
  sim::file_add("C:\\WINDOWS\\system32\\drivers\\Q40PUCOM.SYS");
  sim::file_add("C:\\WINDOWS\\inf\\MDMKORT3.INF");
  sim::file_add("C:\\WINDOWS\\inf\\MDMKORT3.PNF");
  sim::inf_add("oem3.inf", "[Version]\nSignature=\"$Windows NT$\"\n[USBTA]\n"
                           "\"QUENDALQ40 PRO USBPort Adapter\"=USB_TA,USB\\Vid_1E7A&Pid_0080\n");
  sim::file_add("C:\\WINDOWS\\inf\\oem3.PNF");
}

static int answer_box(const sim::box &b) {
  bool ok_cancel = (b.type & 0xF) == MB_OKCANCEL;
  printf("\n+-- %s\n", to_utf8(b.caption).c_str());
  std::string text = to_utf8(b.text);
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos)
      end = text.size();
    printf("| %s\n", text.substr(start, end - start).c_str());
    start = end + 1;
  }
  printf("+-- %s\n", ok_cancel ? "[Enter] OK   [c] Cancel" : "[Enter] OK");
  if (!isatty(STDIN_FILENO)) {
    printf("(answered OK: standard input is not a terminal)\n");
    return IDOK;
  }
  int c = getchar();
  while (c != '\n' && c != EOF && getchar() != '\n') {
  }
  return ok_cancel && (c == 'c' || c == 'C') ? IDCANCEL : IDOK;
}

int main(int argc, char **argv) {
  const char *word = argc > 1 ? argv[1] : "--complete";
  default_machine();
  reset_process_state();
  sim::set_user(answer_box);
  int exit_code = uninstaller_main(word);
  printf("\nexit code %d\n", exit_code);
  for (const sim::change &c : sim::changes())
    printf("  %s\n", c.subject.c_str());
  return 0;
}
