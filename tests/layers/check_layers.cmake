# Checks that every arrow points down:
#
#   cmake -DROOT=<source tree> -P check_layers.cmake
#
# reads the table of layers in <ROOT>/layers.txt, every #include "..." of the
# .h, .cpp and .c files of the tree, and the promoted widgets' headers of
# <ROOT>/forms/*.ui, and fails with one line per include that reaches into a
# folder of the same or a higher rank, per source file in a folder the table
# does not place, and per form that no unit loads. Build trees inside ROOT
# (folders with a CMakeCache.txt) and hidden folders are not read.
cmake_minimum_required(VERSION 3.25)

if(NOT ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<source tree> -P check_layers.cmake")
endif()
get_filename_component(ROOT "${ROOT}" ABSOLUTE)

# --- The table ---------------------------------------------------------------
file(STRINGS "${ROOT}/layers.txt" table_lines)
set(layer_folders "")
foreach(line IN LISTS table_lines)
  if(line MATCHES "^[ \t]*#" OR line MATCHES "^[ \t]*$")
    continue()
  endif()
  if(NOT line MATCHES "^[ \t]*([0-9]+)[ \t]+([A-Za-z0-9_.-]+)[ \t]*$")
    message(FATAL_ERROR "layers.txt: \"${line}\" is no \"<rank> <folder>\" line")
  endif()
  set(rank_of_${CMAKE_MATCH_2} ${CMAKE_MATCH_1})
  list(APPEND layer_folders ${CMAKE_MATCH_2})
endforeach()

set(problems "")
macro(problem text)
  list(APPEND problems "${text}")
endmacro()

# --- The folders with sources --------------------------------------------------
set(source_globs *.h *.cpp *.c)
file(GLOB top_entries LIST_DIRECTORIES true RELATIVE "${ROOT}" "${ROOT}/*")
list(SORT top_entries)
set(source_files "")
foreach(entry IN LISTS top_entries)
  set(path "${ROOT}/${entry}")
  if(entry MATCHES "^\\." OR EXISTS "${path}/CMakeCache.txt")
    continue()
  endif()
  if(NOT IS_DIRECTORY "${path}")
    if(entry MATCHES "\\.(h|cpp|c)$")
      problem("${entry}: a source file outside every folder of layers.txt")
    endif()
    continue()
  endif()
  set(globs "")
  foreach(glob IN LISTS source_globs)
    list(APPEND globs "${path}/${glob}")
  endforeach()
  file(GLOB_RECURSE found RELATIVE "${ROOT}" ${globs})
  if(NOT found)
    continue()
  endif()
  if(NOT DEFINED rank_of_${entry})
    list(LENGTH found count)
    problem("${entry}/: a folder that layers.txt does not place holds ${count} source file(s)")
    continue()
  endif()
  list(APPEND source_files ${found})
endforeach()
list(SORT source_files)

# The folder an include names, seen from `file` (a path under ROOT): the
# header beside the file, then under the file's top folder (the tests' own
# include root), then under ROOT. Empty when it is found nowhere (a generated
# header).
function(included_folder file header out)
  get_filename_component(dir "${file}" DIRECTORY)
  string(REGEX REPLACE "/.*" "" top "${file}")
  if(EXISTS "${ROOT}/${dir}/${header}" OR EXISTS "${ROOT}/${top}/${header}")
    set(${out} "${top}" PARENT_SCOPE)
  elseif(EXISTS "${ROOT}/${header}" AND header MATCHES "^([^/]+)/")
    set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()

# Whether `from` (a folder of the table) may use `to`.
function(check_use what from to)
  if(to STREQUAL from)
    return()
  endif()
  if(NOT DEFINED rank_of_${to})
    problem("${what}: ${to}/ is in no layer")
  elseif(NOT rank_of_${to} LESS rank_of_${from})
    problem("${what}: ${from} (rank ${rank_of_${from}}) may not use ${to} (rank ${rank_of_${to}})")
  endif()
  set(problems "${problems}" PARENT_SCOPE)
endfunction()

# --- Includes ------------------------------------------------------------------
foreach(file IN LISTS source_files)
  string(REGEX REPLACE "/.*" "" from "${file}")
  file(STRINGS "${ROOT}/${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" header "${line}")
    if(header MATCHES "^ui_(.+)\\.h$")
      # The form's layer is the loader's.
      set(form_owner_${CMAKE_MATCH_1} "${from}")
      continue()
    endif()
    included_folder("${file}" "${header}" to)
    if(to)
      check_use("${file} includes ${header}" "${from}" "${to}")
    endif()
  endforeach()
endforeach()

# --- Forms -------------------------------------------------------------------------
file(GLOB forms RELATIVE "${ROOT}" "${ROOT}/forms/*.ui")
list(SORT forms)
foreach(form IN LISTS forms)
  get_filename_component(name "${form}" NAME_WE)
  if(NOT DEFINED form_owner_${name})
    problem("${form}: no unit loads it (includes ui_${name}.h), so it is in no layer")
    continue()
  endif()
  file(STRINGS "${ROOT}/${form}" headers REGEX "<header[^>]*>[^<]+</header>")
  foreach(line IN LISTS headers)
    string(REGEX REPLACE ".*<header[^>]*>([^<]+)</header>.*" "\\1" header "${line}")
    if(EXISTS "${ROOT}/${header}" AND header MATCHES "^([^/]+)/")
      check_use("${form} promotes from ${header}" "${form_owner_${name}}" "${CMAKE_MATCH_1}")
    endif()
  endforeach()
endforeach()

list(LENGTH source_files checked)
if(problems)
  list(LENGTH problems count)
  foreach(text IN LISTS problems)
    message("${text}")
  endforeach()
  message(FATAL_ERROR "layer check: ${count} problem(s) in ${checked} source files and the forms")
endif()
message(STATUS "layer check: ${checked} source files and the forms keep to layers.txt")
