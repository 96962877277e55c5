# Builds the header tree that is installed under include/tracemill/ (run at build time with
# cmake -P; the top-level CMakeLists.txt sets it up):
#
#   cmake -DSOURCE_DIR=<project root> -DOUTPUT_DIR=<dir> -DSTAMP=<file> -P public_headers.cmake
#
# Starting from include/tracemill/tracemill.h it follows the project includes. The public header
# includes internal headers as "tracemill/<path below src>"; the internal headers include each
# other as "<path below src>". Each header reached is written to OUTPUT_DIR/tracemill/<path>
# with its project includes prefixed by "tracemill/", so the tree needs nothing but itself on
# the include path. Only headers whose text changed are rewritten, and headers no longer
# reached are removed, so the tree holds exactly what the public header needs.

cmake_minimum_required(VERSION 3.25)

foreach(var SOURCE_DIR OUTPUT_DIR STAMP)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "public_headers.cmake: ${var} is not set")
  endif()
endforeach()

# The folders below src/ that the library is made of; an internal header may include only these.
set(library_dirs "base|text_form|stats|graph|export|traces")
set(public_header ${SOURCE_DIR}/include/tracemill/tracemill.h)

# Writes `text` to `file` unless the file already holds it (its time stays, and so nothing
# that includes it is rebuilt).
function(write_if_changed file text)
  if(EXISTS ${file})
    file(READ ${file} old)
    if(old STREQUAL text)
      return()
    endif()
  endif()
  file(WRITE ${file} "${text}")
endfunction()

# The project includes of `text` (a header's contents) as paths below src/, in `out`.
function(project_includes text out)
  string(REGEX MATCHALL "#[ \t]*include[ \t]*\"[^\"]*\"" lines "${text}")
  set(paths)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^#[ \t]*include[ \t]*\"([^\"]*)\"$" "\\1" path "${line}")
    list(APPEND paths ${path})
  endforeach()
  set(${out} ${paths} PARENT_SCOPE)
endfunction()

file(READ ${public_header} text)
project_includes("${text}" included)
set(queue)
foreach(path IN LISTS included)
  if(NOT path MATCHES "^tracemill/(${library_dirs})/")
    message(FATAL_ERROR "${public_header} includes \"${path}\": the public header includes "
                        "library headers as \"tracemill/<path below src>\"")
  endif()
  string(REGEX REPLACE "^tracemill/" "" path "${path}")
  list(APPEND queue ${path})
endforeach()
write_if_changed(${OUTPUT_DIR}/tracemill/tracemill.h "${text}")
set(written tracemill.h)

while(queue)
  list(POP_FRONT queue header)
  if(header IN_LIST written)
    continue()
  endif()
  set(source ${SOURCE_DIR}/src/${header})
  if(NOT EXISTS ${source})
    # The generated build header (base/build_config.h) is one of these: it is the library's
    # own business and stays out of the installed headers.
    message(FATAL_ERROR "an installed header includes \"${header}\", which is not a header "
                        "below src/ (a generated one stays out of the installed headers)")
  endif()
  file(READ ${source} text)
  project_includes("${text}" included)
  foreach(path IN LISTS included)
    if(NOT path MATCHES "^(${library_dirs})/")
      message(FATAL_ERROR "src/${header} includes \"${path}\", which is not a library header")
    endif()
    list(APPEND queue ${path})
  endforeach()
  string(REGEX REPLACE "(#[ \t]*include[ \t]*\")(${library_dirs})/" "\\1tracemill/\\2/" text
                       "${text}")
  write_if_changed(${OUTPUT_DIR}/tracemill/${header} "${text}")
  list(APPEND written ${header})
endwhile()

# Headers an earlier build wrote that are no longer reached.
file(GLOB_RECURSE present RELATIVE ${OUTPUT_DIR}/tracemill ${OUTPUT_DIR}/tracemill/*)
foreach(header IN LISTS present)
  if(NOT header IN_LIST written)
    file(REMOVE ${OUTPUT_DIR}/tracemill/${header})
  endif()
endforeach()
# And the folders left empty, deepest first (an empty folder would be installed too).
file(GLOB_RECURSE folders LIST_DIRECTORIES true ${OUTPUT_DIR}/tracemill/*)
list(SORT folders ORDER DESCENDING)
foreach(folder IN LISTS folders)
  file(GLOB entries ${folder}/*)
  if(IS_DIRECTORY ${folder} AND NOT entries)
    file(REMOVE_RECURSE ${folder})
  endif()
endforeach()

file(TOUCH ${STAMP})
