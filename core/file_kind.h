// The kind of a catalogue file name, from its last three characters in any letter case.
#pragma once

enum {
  FILE_KIND_OTHER = 0,
  FILE_KIND_SYS = 1,
  FILE_KIND_VXD = 2,
  FILE_KIND_INF = 3,
  FILE_KIND_PNF = 4,
};

int classify_file_kind(const char *name);
