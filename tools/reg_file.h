// Registry files in the two formats the Windows registry tools write: "REGEDIT4" (ANSI text,
// here code page 932) and "Windows Registry Editor Version 5.00" (UTF-16LE with a byte-order
// mark). Reading turns a file into a list of operations on HKEY_LOCAL_MACHINE; writing
// exports the simulated machine's whole registry.
#pragma once

#include "platform/windows_api.h"

#include <string>
#include <vector>

enum reg_format { reg_format_regedit4, reg_format_regedit5 };

// One line's effect, in file order. Names and string data are code-page-932 bytes, as the
// uninstaller's ANSI registry calls see them.
struct reg_op {
  enum kind_t { add_key, delete_key, set_value, delete_value } kind;
  std::string key;  // below HKEY_LOCAL_MACHINE; "" is HKEY_LOCAL_MACHINE itself
  std::string name; // value name; "" is the key's default value (@)
  DWORD type = 0;
  std::string data;
  int line = 0;
};

// Where and why a file was refused, or read in part (a warning).
struct load_error {
  std::string file;
  int line = 0;
  std::string what;
  // For a warning: its kind, the same text for every warning of that kind (so that the
  // rehearsal can count them); "" when `what` is its own kind.
  std::string kind;
};
// "file:line: what" (or "file: what" when no line applies).
std::string describe(const load_error &error);
// The same for what was read with a warning: "file:line: warning: what".
std::string describe_warning(const load_error &warning);

// Reads a whole .reg file's bytes. `file_name` only names the file in errors. What a real
// export holds and the simulation takes in part is read with a warning appended to
// `warnings` (when given): the sections of roots other than HKEY_LOCAL_MACHINE are skipped,
// and characters of a Unicode file that code page 932 lacks are read as '?'. A key deeper
// than 512 levels, or a name longer than Windows allows, is refused.
bool read_reg_text(const std::string &bytes, const std::string &file_name, reg_format &format,
                   std::vector<reg_op> &ops, load_error &error,
                   std::vector<load_error> *warnings = nullptr);
bool read_reg_file(const std::string &path, reg_format &format, std::vector<reg_op> &ops,
                   load_error &error, std::vector<load_error> *warnings = nullptr);
// Reads the lines of a .reg body without its header line (code page 932), numbered from
// `first_line`; `format` decides how hex(1), hex(2) and hex(7) data are encoded.
bool read_reg_body(const std::vector<std::string> &lines, int first_line, reg_format format,
                   const std::string &file_name, std::vector<reg_op> &ops, load_error &error,
                   std::vector<load_error> *warnings = nullptr);

// Applies the operations to the simulated machine, as importing the file would.
void apply_reg(const std::vector<reg_op> &ops);

// The simulated machine's registry (aliases such as CurrentControlSet left out: they show
// the same keys twice) as the bytes of a .reg file. False, with `problem` set, when a name
// cannot be written in the format.
bool write_reg(reg_format format, std::string &bytes, std::string &problem);
