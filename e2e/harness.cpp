// The end-to-end harness: runs the uninstaller, plays the user, and reports what it saw.
//
//   harness.exe [--hold FILE ...] ANSWERS PROGRAM [WORD]
//
// Each --hold FILE is opened before the program starts and kept open until it has ended, for
// reading and shared for reading only, as a loaded driver or another program holds its file:
// the program's DeleteFile of it fails with ERROR_SHARING_VIOLATION.
//
// Starts PROGRAM with the command line `"PROGRAM" WORD` (or just `"PROGRAM"`), then watches
// for the message boxes (top-level windows of class "#32770") of that process and of the
// processes it starts (the 32-bit edition under WOW64 shows none: its 64-bit child does). Each box
// is read (caption, text, buttons) and answered with the next entry of ANSWERS, a comma-separated
// list of OK and CANCEL ("-" for none; a last entry ending in '*', such as "OK*", answers
// every further box; DECLINE answers Cancel where the box has it, else OK), by posting
// WM_COMMAND with IDOK or IDCANCEL. Output,
// one line per box and one for the end:
//
//   box caption=<hex> text=<hex> buttons=<OK|OK+CANCEL|...> answer=<OK|CANCEL|none>
//   exit <exit code as a signed number>
//
// Texts are the ANSI bytes as the box shows them, so run it with code page 932 in effect. The
// arguments are read, and the program started, by wide-character paths: the program's folder
// may have a name that code page 932 cannot spell (C:\Café\, a Hangul name).
// A box without a scripted answer, an answer naming a button the box lacks, answers left
// over at the end, or a run longer than the time limit end the harness with status 2 after
// an "error ..." line; the program under test is then terminated.
#include <windows.h>
// tlhelp32.h relies on the types of windows.h, so it comes second.
#include <tlhelp32.h>
// shellapi.h (CommandLineToArgvW) as well.
#include <shellapi.h>

#include <stdio.h>
#include <string.h>

#include <set>
#include <string>
#include <vector>

namespace {

const DWORD time_limit_ms = 20000;
const DWORD poll_interval_ms = 10;
const int text_control_id = 0xFFFF; // the static control that holds a message box's text

struct Button {
  int id;
  const char *name;
};

// The buttons a message box can have, in the order they are reported.
const Button buttons[] = {
    {IDOK, "OK"},       {IDCANCEL, "CANCEL"},     {IDABORT, "ABORT"},
    {IDRETRY, "RETRY"}, {IDIGNORE, "IGNORE"},     {IDYES, "YES"},
    {IDNO, "NO"},       {IDTRYAGAIN, "TRYAGAIN"}, {IDCONTINUE, "CONTINUE"},
    {IDHELP, "HELP"},
};

struct BoxSearch {
  const std::set<DWORD> *process_ids;
  HWND found;
};

std::string hex_bytes(const char *text) {
  std::string out;
  char pair[3];
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p) {
    snprintf(pair, sizeof pair, "%02x", *p);
    out += pair;
  }
  return out;
}

std::vector<std::string> split_answers(const char *list) {
  std::vector<std::string> answers;
  if (strcmp(list, "-") == 0)
    return answers;
  std::string current;
  for (const char *p = list;; ++p) {
    if (*p == ',' || *p == '\0') {
      answers.push_back(current);
      current.clear();
      if (*p == '\0')
        break;
    } else {
      current += *p;
    }
  }
  return answers;
}

int button_id(const std::string &name) {
  for (const Button &button : buttons) {
    if (name == button.name)
      return button.id;
  }
  return 0;
}

BOOL CALLBACK match_box(HWND window, LPARAM context) {
  BoxSearch *search = reinterpret_cast<BoxSearch *>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char class_name[16];
  if (!search->process_ids->count(owner) || !IsWindowVisible(window) ||
      !GetClassNameA(window, class_name, sizeof class_name) || strcmp(class_name, "#32770") != 0)
    return TRUE;
  search->found = window;
  return FALSE;
}

// The process and every process started by it or by one of those, as far as they still run.
std::set<DWORD> process_family(DWORD root) {
  std::set<DWORD> family = {root};
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE)
    return family;
  std::vector<PROCESSENTRY32> entries;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
    entries.push_back(entry);
  CloseHandle(snapshot);
  for (size_t grown = 1; grown;) {
    grown = 0;
    for (const PROCESSENTRY32 &e : entries)
      if (family.count(e.th32ParentProcessID) && family.insert(e.th32ProcessID).second)
        ++grown;
  }
  return family;
}

// The visible message box of the process or its children, or null. A box turns visible only
// after its dialog procedure has filled in the texts and removed the buttons it does not use.
HWND find_box(DWORD process_id) {
  std::set<DWORD> family = process_family(process_id);
  BoxSearch search = {&family, nullptr};
  EnumWindows(match_box, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string box_buttons(HWND box) {
  std::string names;
  for (const Button &button : buttons) {
    HWND control = GetDlgItem(box, button.id);
    if (control && IsWindowVisible(control)) {
      if (!names.empty())
        names += '+';
      names += button.name;
    }
  }
  return names.empty() ? "none" : names;
}

bool has_button(HWND box, int id) {
  HWND control = GetDlgItem(box, id);
  return control && IsWindowVisible(control);
}

void print_box(HWND box, const char *answer) {
  static char caption[4096];
  static char text[4096];
  caption[0] = text[0] = '\0';
  GetWindowTextA(box, caption, sizeof caption);
  GetDlgItemTextA(box, text_control_id, text, sizeof text);
  printf("box caption=%s text=%s buttons=%s answer=%s\n", hex_bytes(caption).c_str(),
         hex_bytes(text).c_str(), box_buttons(box).c_str(), answer);
  fflush(stdout);
}

int fail(HANDLE process, const char *message) {
  printf("error %s\n", message);
  fflush(stdout);
  TerminateProcess(process, 0xDEAD);
  return 2;
}

bool start_program(const wchar_t *program, const wchar_t *word, PROCESS_INFORMATION *info) {
  std::wstring command_line = std::wstring(L"\"") + program + L"\"";
  if (word)
    command_line += std::wstring(L" ") + word;
  std::vector<wchar_t> writable(command_line.begin(), command_line.end());
  writable.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  return CreateProcessW(program, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, info) != 0;
}

} // namespace

int main() {
  int argc = 0;
  wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<HANDLE> held;
  while (argv && argc >= 3 && wcscmp(argv[1], L"--hold") == 0) {
    HANDLE file = CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      printf("error cannot hold %ls: error %lu\n", argv[2], GetLastError());
      return 2;
    }
    held.push_back(file);
    argv += 2;
    argc -= 2;
  }
  if (!argv || argc < 3 || argc > 4) {
    fprintf(stderr, "usage: harness.exe [--hold FILE ...] ANSWERS PROGRAM [WORD]\n");
    return 2;
  }
  std::string answer_list;
  for (const wchar_t *p = argv[1]; *p; ++p)
    answer_list += static_cast<char>(*p); // ASCII words
  std::vector<std::string> answers = split_answers(answer_list.c_str());
  PROCESS_INFORMATION info = {};
  if (!start_program(argv[2], argc == 4 ? argv[3] : nullptr, &info)) {
    printf("error cannot start %ls: error %lu\n", argv[2], GetLastError());
    return 2;
  }

  size_t next_answer = 0;
  DWORD started = GetTickCount();
  while (WaitForSingleObject(info.hProcess, poll_interval_ms) == WAIT_TIMEOUT) {
    if (GetTickCount() - started > time_limit_ms)
      return fail(info.hProcess, "time limit exceeded");
    HWND box = find_box(info.dwProcessId);
    if (!box)
      continue;
    if (next_answer == answers.size()) {
      print_box(box, "none");
      return fail(info.hProcess, "box without a scripted answer");
    }
    std::string answer = answers[next_answer];
    if (!answer.empty() && answer.back() == '*')
      answer.pop_back(); // answers every further box
    else
      ++next_answer;
    if (answer == "DECLINE")
      answer = has_button(box, IDCANCEL) ? "CANCEL" : "OK";
    int id = button_id(answer);
    if (!id || !has_button(box, id)) {
      print_box(box, answer.c_str());
      return fail(info.hProcess, "the answer names no button of this box");
    }
    print_box(box, answer.c_str());
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    while (IsWindow(box) && WaitForSingleObject(info.hProcess, poll_interval_ms) == WAIT_TIMEOUT) {
      if (GetTickCount() - started > time_limit_ms)
        return fail(info.hProcess, "time limit exceeded");
    }
  }

  DWORD exit_code = 0;
  GetExitCodeProcess(info.hProcess, &exit_code);
  printf("exit %ld\n", static_cast<long>(static_cast<LONG>(exit_code)));
  if (next_answer < answers.size() &&
      (answers[next_answer].empty() || answers[next_answer].back() != '*')) {
    printf("error %zu scripted answers left over\n", answers.size() - next_answer);
    return 2;
  }
  return 0;
}
