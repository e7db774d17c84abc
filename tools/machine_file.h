// Machine files: a short text format of our own that describes one simulated Windows machine
// for a rehearsal. One directive a line, '#' starts a comment line, arguments are separated
// by blanks and may be put in double quotes (a backslash is an ordinary character):
//
//   platform nt 5.0 2195            first directive: "nt" (Windows 2000 family) or "win98",
//                                   version major.minor and build (decimal or 0x hex)
//   windows-directory C:\WINNT      where the platform's defaults do not fit (before any inf)
//   system-directory C:\WINNT\system32
//   folder C:\WINDOWS\inf\OTHER
//   file PATH [read-only] [hidden] [system] [archive] [normal] [loaded]
//             [delete-error=N] [attributes-error=N]
//                                   N: the error DeleteFileA / SetFileAttributesA fail with;
//                                   loaded: the image of a loaded driver, which Windows 10
//                                   and 11 refuse to delete (ERROR_ACCESS_DENIED) and earlier
//                                   versions delete; a program holding a file open without
//                                   delete sharing is delete-error=32 on every version
//   device INSTANCE-ID [HARDWARE-ID ...] [absent] [removed-at-restart] [remove-error=N]
//          [driver=KEY]
//                                   no hardware id: the instance has no such property;
//                                   removed-at-restart: Windows cannot stop the device (its
//                                   port is open), and after DIF_REMOVE asks for a restart;
//                                   KEY: its driver key below
//                                   SYSTEM\CurrentControlSet\Control\Class, {GUID}\NNNN,
//                                   which Windows deletes with the device; without device
//                                   lines an NT machine's devices are its registry's Enum keys
//   inf NAME [FILE] [file options]  an INF file in the Windows INF folder; its text is FILE or
//                                   the indented lines that follow
//   package OEM-INF FOLDER          the driver package in the store that the OEM INF copy
//                                   OEM-INF (oem3.inf) was published from: the folder
//                                   <system>\DriverStore\FileRepository\FOLDER, named as
//                                   Windows names them (q40pusb.inf_x86_1a2b3c4d), holding the
//                                   original INF (q40pusb.inf) with the copy's text; on
//                                   machines of version 6.0 (Vista) and later only
//   registry FILE                   a .reg file (either format), relative to the machine file
//   registry                        the indented lines that follow: a .reg body without header
//   link ALIAS TARGET               ALIAS is another name of TARGET, as CurrentControlSet is
//   deny-key PATH write|all         opening the key for writing (or at all) is refused
//                                   (NT only: Windows 98 has no registry security)
//   fail FUNCTION ERROR [SUBJECT] [nth=N] [times=N]
//                                   calls of FUNCTION (its exported name, DeleteFileA) fail
//                                   with ERROR (a number or its name, ERROR_ACCESS_DENIED),
//                                   only those on SUBJECT when given (see sim::fault)
//
// The file is UTF-8 (a byte-order mark may start it); names are stored on the machine in code page
// 932, as the uninstaller's ANSI calls see them. The description can also be read by other programs
// (the end-to-end tests seed a real Windows registry and file system from it).
#pragma once

#include "sim/sim.h"
#include "tools/encoding.h"
#include "tools/reg_file.h"

#include <string>
#include <vector>

struct machine_file_entry {
  std::string path;
  bool folder = false;
  DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
  std::string contents;
  DWORD delete_error = 0;
  DWORD attributes_error = 0;
  bool loaded = false; // the image of a loaded driver
};

// A driver package: its published name and its folder's name in the store.
struct machine_package {
  std::string oem_inf;
  std::string folder;
};

// What a snapshot cannot show, where the rehearsal would otherwise have to assume: a registry
// branch (`key`: a path below HKEY_LOCAL_MACHINE) or a file or folder (a folder stands for
// everything in it), and why. What the run then does there is "not known" (not_known.h).
struct machine_unknown {
  enum kind_t {
    contents,     // every call on the key or file: what is there is not known
    in_use,       // every file the run deleted: whether something held it open
    driver_store, // every OEM INF copy uninstalled: whether a driver package left the store
  } kind = contents;
  bool key = false;
  std::string path; // code page 932; "" for everywhere
  std::string why;  // UTF-8
};

struct machine_description {
  std::string source; // the file name, or the built-in machine's name
  // A snapshot: the machine is exactly what it shows, without the folders and keys that a
  // fresh machine of the platform has (those serve the hand-written machine files).
  bool whole = false;
  std::vector<machine_unknown> unknowns;
  std::vector<std::string> inputs; // the files and folders read (an output must not be one)
  bool win98 = false;
  DWORD major = 5, minor = 0, build = 2195;
  std::string windows_directory; // "" keeps the platform's
  std::string system_directory;
  std::vector<std::pair<std::string, std::string>> links; // alias, target
  reg_op_list registry;                                   // in file order
  // The keys of a snapshot's registry exports, read apart from the machine (a Windows 10
  // export holds a million); null for a machine file. apply_machine moves them into the
  // simulated registry before the operations above, so such a description is applied once.
  std::shared_ptr<sim::registry_tree> registry_keys;
  bool has_reg_format = false; // the format of the first .reg file included
  reg_format registry_format = reg_format_regedit5;
  std::vector<machine_file_entry> files; // folders and files, INF files included
  std::vector<sim::device> devices;
  std::vector<machine_package> packages;
  std::vector<std::pair<std::string, REGSAM>> denied_keys;
  std::vector<sim::fault> faults;
  std::vector<load_error> warnings; // what the .reg files held that was taken in part
  std::vector<int> fault_lines;     // the line of each fault rule
};

// `base_directory` is where FILE arguments are looked for ("" for the current directory).
bool read_machine_text(const std::string &text, const std::string &file_name,
                       const std::string &base_directory, machine_description &machine,
                       load_error &error);
bool read_machine_file(const std::string &path, machine_description &machine, load_error &error);

// Sets the simulated machine up as described (a fresh machine of the platform first). An NT
// machine without device lines gets the device instances its registry's
// SYSTEM\CurrentControlSet\Enum keys describe.
void apply_machine(const machine_description &machine);
// After apply_machine: refuses a fault rule whose subject names nothing on the machine, for
// the functions that are only ever called on something that exists (an open key, a file
// found, a device, an open INF): such a rule could never apply.
bool check_machine(const machine_description &machine, load_error &error);

// Reads a .reg file into the machine's registry operations; the first one's format becomes
// the machine's export format.
bool add_reg_file(machine_description &machine, const std::string &path, load_error &error);
// Reads a registry export of a snapshot into the machine's registry_keys; the first one's
// format becomes the machine's export format, as with add_reg_file.
bool add_reg_export(machine_description &machine, const std::string &path, load_error &error);
// A whole file's bytes; false when it cannot be read.
bool read_bytes(const std::string &path, std::string &bytes);

// The machine's Windows directory: the one it names, else the platform's C:\WINDOWS; and its
// system directory, the one it names, else the platform's.
std::string windows_directory(const machine_description &machine);
std::string system_directory(const machine_description &machine);

// The format an export of this machine is written in: that of its first .reg file, else
// the one its platform's tools write.
reg_format export_format(const machine_description &machine);
