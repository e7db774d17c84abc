# Embeds the snapshot folders of tools/machines/ in uninstall-sim, so that the program offers
# them by name wherever it is copied. Writes a C++ source that defines
# embedded_snapshot_machines() (tools/builtin_machines.h) with every file of every folder,
# byte for byte; a folder's README.md gives its summary (its first line) and is not embedded.
#
#   cmake -DMACHINES=<tools/machines> -DOUTPUT=<file.cpp> -P embed_machines.cmake

# A C++ string literal of arbitrary bytes (every byte escaped, so none ends an escape early).
function(bytes_literal path out)
  file(READ "${path}" hex HEX)
  string(REGEX REPLACE "(..)" "\\\\x\\1" escaped "${hex}")
  set(${out} "\"${escaped}\"" PARENT_SCOPE)
endfunction()

# A C++ string literal of UTF-8 text such as a name or a summary.
function(text_literal text out)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()

file(GLOB names RELATIVE "${MACHINES}" "${MACHINES}/*")
list(SORT names)
set(arrays "")
set(table "")
set(count 0)
foreach(name IN LISTS names)
  if(NOT IS_DIRECTORY "${MACHINES}/${name}")
    continue()
  endif()
  if(NOT EXISTS "${MACHINES}/${name}/README.md")
    message(FATAL_ERROR "${MACHINES}/${name} has no README.md to say which Windows it follows")
  endif()
  file(STRINGS "${MACHINES}/${name}/README.md" heading LIMIT_COUNT 1)
  string(REGEX REPLACE "^# *" "" summary "${heading}")
  text_literal("${name}" name_literal)
  text_literal("${summary}" summary_literal)
  file(GLOB_RECURSE files RELATIVE "${MACHINES}/${name}" "${MACHINES}/${name}/*")
  list(REMOVE_ITEM files README.md)
  list(SORT files)
  set(entries "")
  foreach(file IN LISTS files)
    bytes_literal("${MACHINES}/${name}/${file}" bytes)
    text_literal("${file}" path_literal)
    string(APPEND arrays "const char file${count}[] = ${bytes};\n")
    string(APPEND entries "       {${path_literal}, file${count}, sizeof file${count} - 1},\n")
    math(EXPR count "${count} + 1")
  endforeach()
  string(APPEND table "      {${name_literal},\n       ${summary_literal},\n       \"\",\n       {\n${entries}       }},\n")
endforeach()

file(WRITE "${OUTPUT}" "// Written by tools/embed_machines.cmake from tools/machines/: do not edit.
#include \"tools/builtin_machines.h\"

namespace {
${arrays}} // namespace

std::vector<builtin_machine> embedded_snapshot_machines() {
  return {
${table}  };
}
")
