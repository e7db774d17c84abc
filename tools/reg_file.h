// Registry files in the two formats the Windows registry tools write: "REGEDIT4" (ANSI text,
// here code page 932) and "Windows Registry Editor Version 5.00" (UTF-16LE with a byte-order
// mark). Reading turns a file into a list of operations on HKEY_LOCAL_MACHINE; writing
// exports the simulated machine's whole registry.
#pragma once

#include "platform/windows_api.h"
#include "sim/sim.h"

#include <functional>
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
// Operations in order, as a machine description keeps them. A registry export of Windows 10
// holds millions, which as reg_op objects would take several times the file's size, so they
// are packed into blocks of bytes, a value's key kept only where it changes.
struct reg_op_list {
  std::vector<std::string> blocks;
  size_t count = 0;
  std::string last_key; // that of the last operation added
};
void add_reg_op(reg_op_list &list, const reg_op &op);
// Calls `visit` with each operation in order (the same object each time, filled anew).
void for_each_reg_op(const reg_op_list &list, const std::function<void(const reg_op &)> &visit);

// Where the operations of a file go as they are read, in file order.
using reg_sink = std::function<void(const reg_op &)>;

// Reads a .reg file and appends its operations to `ops`, or hands each to `sink`. A Unicode
// file is read a block at a time: what it held before a line that cannot be read has been
// handed on when the error is reported.
bool read_reg_file(const std::string &path, reg_format &format, reg_op_list &ops, load_error &error,
                   std::vector<load_error> *warnings = nullptr);
bool read_reg_file(const std::string &path, reg_format &format, const reg_sink &sink,
                   load_error &error, std::vector<load_error> *warnings = nullptr);
// Reads the lines of a .reg body without its header line (code page 932), numbered from
// `first_line`; `format` decides how hex(1), hex(2) and hex(7) data are encoded.
bool read_reg_body(const std::vector<std::string> &lines, int first_line, reg_format format,
                   const std::string &file_name, std::vector<reg_op> &ops, load_error &error,
                   std::vector<load_error> *warnings = nullptr);

// Applies the operations to the simulated machine, as importing the file would.
void apply_reg(const std::vector<reg_op> &ops);
void apply_reg(const reg_op_list &ops);
// Applies one operation to keys apart from the machine (sim::registry_tree).
void apply_reg(const reg_op &op, sim::registry_tree &tree);

// The simulated machine's registry (aliases such as CurrentControlSet left out: they show
// the same keys twice) as the bytes of a .reg file. False, with `problem` set, when a name
// cannot be written in the format.
bool write_reg(reg_format format, std::string &bytes, std::string &problem);
// One key's section as write_reg writes it, appended to `text` (code page 932): its [key] line
// (`path` below HKEY_LOCAL_MACHINE), its value lines and a blank line.
bool write_reg_key(reg_format format, const std::string &path,
                   const std::vector<sim::reg_value_data> &values, std::string &text,
                   std::string &problem);
