# Stages the release folder and zips it (cmake -P; run by the `release` target of cmake/release.cmake).
#   SOURCE_DIR OUTPUT_DIR RELEASE_NAME ARCH   where, and Rovane-<VERSION>-<ARCH>
#   MODULE MINGW_IMPORT_LIBRARY MSVC_IMPORT_LIBRARY   the built Rovane.dll and its import libraries
#   TESTING   the stand-in engine DLLs and rovane-host.exe, separated by |
cmake_minimum_required(VERSION 3.25)
foreach(var SOURCE_DIR OUTPUT_DIR RELEASE_NAME ARCH MODULE MINGW_IMPORT_LIBRARY MSVC_IMPORT_LIBRARY TESTING)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "release-stage.cmake: ${var} not given")
  endif()
endforeach()

set(stage ${OUTPUT_DIR}/${RELEASE_NAME})
set(archive ${OUTPUT_DIR}/${RELEASE_NAME}.zip)
# A folder or archive of another version of this architecture (an earlier configure) goes too, so
# that the build folder holds one archive per architecture.
file(GLOB old LIST_DIRECTORIES true ${OUTPUT_DIR}/Rovane-*-${ARCH} ${OUTPUT_DIR}/Rovane-*-${ARCH}.zip)
foreach(path IN LISTS old)
  file(REMOVE_RECURSE ${path})
endforeach()

function(stage_file source destination)
  if(NOT EXISTS "${source}")
    message(FATAL_ERROR "release: ${source} missing")
  endif()
  get_filename_component(folder "${stage}/${destination}" DIRECTORY)
  file(MAKE_DIRECTORY "${folder}")
  file(COPY_FILE "${source}" "${stage}/${destination}")
endfunction()

stage_file(${MODULE} bin/Rovane.dll)
stage_file(${SOURCE_DIR}/include/rovane.h include/rovane.h)
stage_file(${SOURCE_DIR}/src/host/rovane.def lib/rovane.def)
stage_file(${MINGW_IMPORT_LIBRARY} lib/libRovane.dll.a)
stage_file(${MSVC_IMPORT_LIBRARY} lib/Rovane.lib)
string(REPLACE "|" ";" testing "${TESTING}")
foreach(file IN LISTS testing)
  get_filename_component(name ${file} NAME)
  stage_file(${file} testing/${name})
endforeach()
# The example host: every file of its folder, whatever it holds when the archive is made.
file(GLOB_RECURSE example_files RELATIVE ${SOURCE_DIR}/examples/minimal-host ${SOURCE_DIR}/examples/minimal-host/*)
foreach(file IN LISTS example_files)
  stage_file(${SOURCE_DIR}/examples/minimal-host/${file} examples/minimal-host/${file})
endforeach()

# The documents, last: a relative link is kept when its file is in the archive (../include/rovane.h,
# the other documents); a link to a file of the sources that the archive does not ship (the
# sources' README.md) is written as plain text saying where that file is, so that no link in the
# archive leads nowhere. scripts/release-check.sh then requires every relative link to resolve.
set(docs host-guide.md scripts.md log-guide.md)
foreach(doc IN LISTS docs)
  stage_file(${SOURCE_DIR}/docs/${doc} docs/${doc})
endforeach()
foreach(doc IN LISTS docs)
  file(READ ${stage}/docs/${doc} text)
  string(REGEX MATCHALL "\\[[^]\n]*\\]\\([^)\n]*\\)" links "${text}")
  list(REMOVE_DUPLICATES links)
  foreach(link IN LISTS links)
    if(NOT link MATCHES "^\\[([^]\n]*)\\]\\(([^)\n]*)\\)$")
      continue()
    endif()
    set(label "${CMAKE_MATCH_1}")
    set(target "${CMAKE_MATCH_2}")
    if(target MATCHES "^(https?:|mailto:|#)")
      continue()
    endif()
    string(REGEX REPLACE "#.*" "" target_file "${target}")
    cmake_path(SET in_archive NORMALIZE "${stage}/docs/${target_file}")
    cmake_path(IS_PREFIX stage "${in_archive}" NORMALIZE inside)
    if(inside AND EXISTS "${in_archive}")
      continue()
    endif()
    cmake_path(SET in_sources NORMALIZE "${SOURCE_DIR}/docs/${target_file}")
    # A link that leads nowhere in the sources either stays, for the check to name it broken.
    if(NOT EXISTS "${in_sources}")
      continue()
    endif()
    cmake_path(RELATIVE_PATH in_sources BASE_DIRECTORY "${SOURCE_DIR}" OUTPUT_VARIABLE source_path)
    string(REPLACE "${link}" "${label} (${source_path} of the Rovane sources, not in this archive)" text "${text}")
    message(STATUS "release: docs/${doc}: link to ${target} written as text (not in the archive)")
  endforeach()
  file(WRITE ${stage}/docs/${doc} "${text}")
endforeach()

# SHA256SUMS: every other file, sorted by path, in sha256sum's format.
file(GLOB_RECURSE files RELATIVE ${stage} ${stage}/*)
list(SORT files)
set(sums "")
foreach(file IN LISTS files)
  file(SHA256 ${stage}/${file} hash)
  string(APPEND sums "${hash}  ${file}\n")
endforeach()
file(WRITE ${stage}/SHA256SUMS "${sums}")

# The archive: one folder, its files in sorted order.
set(members "")
foreach(file IN LISTS files ITEMS SHA256SUMS)
  list(APPEND members ${RELEASE_NAME}/${file})
endforeach()
list(SORT members)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${archive} --format=zip -- ${members}
                WORKING_DIRECTORY ${OUTPUT_DIR} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "release: zipping ${RELEASE_NAME} failed")
endif()
list(LENGTH members count)
message(STATUS "release: ${archive} (${count} files)")
