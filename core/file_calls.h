// The file calls of the removal steps, through a bound kernel32 table. A file's attributes are
// set to normal before it is deleted, so read-only files go too; the success of that call is
// also the test that the file exists.
#pragma once

#include "core/binding.h"
#include "core/folders.h"

#include <stddef.h>

// Which failures of the attribute call pass without a report. An absent file is never
// reported; whether a missing folder is depends on the list.
enum file_silence {
  SILENT_ABSENT_FILE,   // ERROR_FILE_NOT_FOUND
  SILENT_ABSENT_FOLDER, // ERROR_FILE_NOT_FOUND and ERROR_PATH_NOT_FOUND
  SILENT_ANY_FAILURE,   // every code; the last error is not even read
  // Every code as well, but the last error is read, so that an absent file (FILE_ABSENT) is
  // told from one whose attributes could not be set (ATTRIBUTES_PASSED).
  SILENT_ANY_FAILURE_TOLD,
};

enum file_outcome {
  FILE_DELETED,
  FILE_DELETED_AT_RESTART, // in use: Windows deletes it at the next restart
  FILE_ABSENT,             // or, with SILENT_ANY_FAILURE, any attribute failure
  ATTRIBUTES_FAILED,
  DELETE_FAILED,
  ATTRIBUTES_PASSED, // the attributes could not be set and the silence passed that over
};

// The probe step: 1 when the file is there (its attributes are then normal). Otherwise
// *outcome says why not: FILE_ABSENT, ATTRIBUTES_PASSED or ATTRIBUTES_FAILED (reported).
int probe_listed_file(const library_table &kernel32, const char *path, file_silence silence,
                      file_outcome *outcome);
// 1 when the file is there (its attributes are then normal).
int file_present(const library_table &kernel32, const char *path, file_silence silence);
// Sets the file's attributes to normal and deletes it. A silent attribute failure reads as
// FILE_ABSENT or ATTRIBUTES_PASSED; ATTRIBUTES_FAILED and DELETE_FAILED have been reported.
// Where the table binds MoveFileExA (the Windows 2000 set), a file that Windows refuses to
// delete because it is in use (ERROR_SHARING_VIOLATION, or ERROR_ACCESS_DENIED, which Windows 10
// and 11 give for the image of a loaded driver) is scheduled for deletion at the next restart:
// FILE_DELETED_AT_RESTART, nothing reported, and the run ends with the restart prompt. Only when
// that fails too is the deletion's own failure reported.
file_outcome delete_listed_file(const library_table &kernel32, const char *path,
                                file_silence silence);

// One file list of the catalogue and the placement of its files by kind.
struct file_list {
  const char *(*name)(int model, int slot);
  int slots;
  int (*place)(char *path, size_t path_size, const char *windows_directory,
               const char *system_directory, const char *name);
};
extern const file_list nt_file_list;    // model_nt_file, placed by nt_file_path
extern const file_list win98_file_list; // model_win98_file, placed by win98_file_path

// Both list operations begin by reading the Windows and the system directory; when one cannot
// be read (reported) they write the failure mark through `set_failure_status` and end there.
typedef void (*status_setter)(int model, int value);

// 1 at the first file of the model's list that is present; the rest is not looked at. Empty
// slots and kinds without a folder are passed over.
int list_file_present(const library_table &kernel32, const file_list &list, int model,
                      file_silence silence, status_setter set_failure_status);

struct list_deletion {
  int total;   // used slots, whether their kind has a folder and their file exists or not
  int deleted; // at restart included
  int attributes_failed;
  int delete_failed;
};
// Deletes every file of the model's list that is present: 1 with *deletion filled, 0 when the
// folders could not be read.
int delete_list_files(const library_table &kernel32, const file_list &list, int model,
                      file_silence silence, status_setter set_failure_status,
                      list_deletion *deletion);

// The status a file step records: the failure mark after a reported failure that counts, else
// 0 when nothing was deleted, the partial mark when fewer than `total` were, else 1.
int files_outcome(int failed, int deleted, int total);
