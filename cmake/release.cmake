# The release archive of a Windows build: `cmake --build --preset win32 --target release` (or win64)
# stages build/<preset>/Rovane-<VERSION>-<ARCH>/ and zips it to build/<preset>/Rovane-<VERSION>-<ARCH>.zip:
#     bin/Rovane.dll          include/rovane.h       lib/rovane.def  lib/libRovane.dll.a  lib/Rovane.lib
#     testing/KT.dll testing/Dorquel.dll testing/KTSDKPLS.dll testing/rovane-host.exe
#     docs/host-guide.md docs/scripts.md docs/log-guide.md
#     examples/minimal-host/...   (every file there, found when the archive is staged)
#     SHA256SUMS              "HASH  PATH" for every other file
# VERSION is the DLL's version information as major.minor.patch, read from src/resources/resource.h;
# ARCH is win32 (i686) or win64 (x86-64). Included by the Windows branch of CMakeLists.txt.
# scripts/release-check.sh unpacks the archives and checks them.

# --- version and architecture -------------------------------------------------------------------
set(ROVANE_RESOURCE_HEADER ${CMAKE_SOURCE_DIR}/src/resources/resource.h)
set(ROVANE_PUBLIC_HEADER ${CMAKE_SOURCE_DIR}/include/rovane.h)
set(ROVANE_EXPORT_LIST ${CMAKE_SOURCE_DIR}/src/host/rovane.def)
# The version, the prototypes and the export list are read here, at configure time: a change to
# any of the three configures again.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${ROVANE_RESOURCE_HEADER} ${ROVANE_PUBLIC_HEADER} ${ROVANE_EXPORT_LIST})

file(STRINGS ${ROVANE_RESOURCE_HEADER} version_line REGEX "^#define ROVANE_VERSION_NUMBERS ")
if(NOT version_line MATCHES "ROVANE_VERSION_NUMBERS +([0-9]+), *([0-9]+), *([0-9]+), *([0-9]+)")
  message(FATAL_ERROR "${ROVANE_RESOURCE_HEADER}: no \"#define ROVANE_VERSION_NUMBERS a, b, c, d\"")
endif()
set(ROVANE_VERSION "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.${CMAKE_MATCH_3}")
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(ROVANE_ARCH win32)
  set(ROVANE_DLLTOOL_MACHINE i386)
else()
  set(ROVANE_ARCH win64)
  set(ROVANE_DLLTOOL_MACHINE i386:x86-64)
endif()
set(ROVANE_RELEASE_NAME Rovane-${ROVANE_VERSION}-${ROVANE_ARCH})

# --- the import library in MSVC's format -----------------------------------------------------------
# The .def that llvm-dlltool reads is made here from rovane.def's export list and rovane.h's
# prototypes (not kept beside rovane.def, so that the two cannot drift apart).
#
# x86-64 has one calling convention and no decoration: the names of rovane.def as they are.
#
# i686: the exports are stdcall. MSVC-compiled code refers to Rovane_Init as _Rovane_Init@32 (the
# @N is the bytes of arguments the callee removes), while the DLL exports the plain name
# Rovane_Init. The .def therefore names Rovane_Init@32, and `llvm-dlltool -k` makes each member's
# symbols the decorated _Rovane_Init@32 and __imp__Rovane_Init@32 with the undecorated import
# name Rovane_Init (the import "name type" undecorate). Every argument of the API is 32 bits
# (DWORD, LONG, handles, pointers): 4 bytes each on i686. scripts/release-check.sh links code that
# the compiler itself decorated from rovane.h against the library, which would catch a wrong count.
file(READ ${ROVANE_PUBLIC_HEADER} header_text)
string(REGEX MATCHALL "ROVANE_API +Rovane_[A-Za-z0-9_]+ *\\([^)]*\\)" prototypes "${header_text}")
file(STRINGS ${ROVANE_EXPORT_LIST} def_lines)
set(msvc_def "; Made by cmake/release.cmake from src/host/rovane.def and include/rovane.h.\n")
string(APPEND msvc_def "LIBRARY Rovane.dll\nEXPORTS\n")
set(in_exports FALSE)
set(export_count 0)
foreach(line IN LISTS def_lines)
  string(STRIP "${line}" line)
  if(line STREQUAL "EXPORTS")
    set(in_exports TRUE)
    continue()
  endif()
  if(NOT in_exports OR line STREQUAL "" OR line MATCHES "^;")
    continue()
  endif()
  string(REGEX REPLACE "[ \t;].*" "" name "${line}")
  if(ROVANE_ARCH STREQUAL "win64")
    string(APPEND msvc_def "    ${name}\n")
  else()
    set(arguments "")
    set(found FALSE)
    foreach(prototype IN LISTS prototypes)
      if(prototype MATCHES "ROVANE_API +${name} *\\(([^)]*)\\)")
        set(arguments "${CMAKE_MATCH_1}")
        set(found TRUE)
      endif()
    endforeach()
    if(NOT found)
      message(FATAL_ERROR "${name} is exported by rovane.def but has no prototype in include/rovane.h")
    endif()
    string(STRIP "${arguments}" arguments)
    if(arguments STREQUAL "void" OR arguments STREQUAL "")
      set(bytes 0)
    else()
      string(REGEX REPLACE "[^,]" "" commas "${arguments}")
      string(LENGTH "${commas}" comma_count)
      math(EXPR bytes "4 * (${comma_count} + 1)")
    endif()
    string(APPEND msvc_def "    ${name}@${bytes}\n")
  endif()
  math(EXPR export_count "${export_count} + 1")
endforeach()
if(export_count EQUAL 0)
  message(FATAL_ERROR "${ROVANE_EXPORT_LIST}: no exports read")
endif()
set(ROVANE_MSVC_DEF ${CMAKE_BINARY_DIR}/release/Rovane-msvc.def)
file(CONFIGURE OUTPUT ${ROVANE_MSVC_DEF} CONTENT "${msvc_def}" @ONLY)

find_program(ROVANE_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-16 llvm-dlltool-15 llvm-dlltool-14)
set(ROVANE_MSVC_IMPORT_LIBRARY ${CMAKE_BINARY_DIR}/lib/Rovane.lib)
if(ROVANE_LLVM_DLLTOOL)
  set(dlltool_kill_at "")
  if(ROVANE_ARCH STREQUAL "win32")
    set(dlltool_kill_at -k)
  endif()
  add_custom_command(OUTPUT ${ROVANE_MSVC_IMPORT_LIBRARY}
                     COMMAND ${ROVANE_LLVM_DLLTOOL} -m ${ROVANE_DLLTOOL_MACHINE} ${dlltool_kill_at}
                             -d ${ROVANE_MSVC_DEF} -l ${ROVANE_MSVC_IMPORT_LIBRARY}
                     DEPENDS ${ROVANE_MSVC_DEF}
                     COMMENT "Import library for MSVC: lib/Rovane.lib"
                     VERBATIM)
else()
  # Only the release target needs it: the ordinary build goes on without.
  add_custom_command(OUTPUT ${ROVANE_MSVC_IMPORT_LIBRARY}
                     COMMAND ${CMAKE_COMMAND} -E echo
                             "llvm-dlltool not found: install Debian's llvm (scripts/install-deps.sh)"
                     COMMAND ${CMAKE_COMMAND} -E false
                     VERBATIM)
endif()

# --- the import library for mingw -------------------------------------------------------------------
# x86-64: the one the linker made beside the DLL. i686: that one names the plain Rovane_Init, while
# gcc, too, decorates a call through rovane.h's WINAPI prototype as _Rovane_Init@32, which it would
# not find. The archive's libRovane.dll.a is therefore made from the same decorated .def with
# binutils' dlltool --kill-at (the decorated symbols, the plain import names);
# scripts/release-check.sh links a program gcc compiled from rovane.h against it.
if(ROVANE_ARCH STREQUAL "win32")
  set(ROVANE_MINGW_IMPORT_LIBRARY ${CMAKE_BINARY_DIR}/release/libRovane.dll.a)
  add_custom_command(OUTPUT ${ROVANE_MINGW_IMPORT_LIBRARY}
                     COMMAND ${CMAKE_DLLTOOL} --kill-at --dllname Rovane.dll -d ${ROVANE_MSVC_DEF}
                             -l ${ROVANE_MINGW_IMPORT_LIBRARY}
                     DEPENDS ${ROVANE_MSVC_DEF}
                     COMMENT "Import library for mingw: lib/libRovane.dll.a (stdcall-decorated)"
                     VERBATIM)
  set(mingw_import_library ${ROVANE_MINGW_IMPORT_LIBRARY})
else()
  set(ROVANE_MINGW_IMPORT_LIBRARY "")
  set(mingw_import_library $<TARGET_LINKER_FILE:Rovane>)
endif()

# --- staging and the archive ---------------------------------------------------------------------
# The folder is made afresh by cmake/release-stage.cmake at every build of the target (the
# example's files are found then, so a file added there needs no new configure).
add_custom_target(release
                  COMMAND ${CMAKE_COMMAND}
                          -D SOURCE_DIR=${CMAKE_SOURCE_DIR}
                          -D OUTPUT_DIR=${CMAKE_BINARY_DIR}
                          -D RELEASE_NAME=${ROVANE_RELEASE_NAME}
                          -D ARCH=${ROVANE_ARCH}
                          -D MODULE=$<TARGET_FILE:Rovane>
                          -D MINGW_IMPORT_LIBRARY=${mingw_import_library}
                          -D MSVC_IMPORT_LIBRARY=${ROVANE_MSVC_IMPORT_LIBRARY}
                          -D "TESTING=$<TARGET_FILE:KT>|$<TARGET_FILE:Dorquel>|$<TARGET_FILE:KTSDKPLS>|$<TARGET_FILE:rovane-host>"
                          -P ${CMAKE_SOURCE_DIR}/cmake/release-stage.cmake
                  DEPENDS ${ROVANE_MSVC_IMPORT_LIBRARY} ${ROVANE_MINGW_IMPORT_LIBRARY} ${CMAKE_SOURCE_DIR}/cmake/release-stage.cmake
                  BYPRODUCTS ${CMAKE_BINARY_DIR}/${ROVANE_RELEASE_NAME}.zip
                  COMMENT "Release archive: ${ROVANE_RELEASE_NAME}.zip"
                  VERBATIM)
add_dependencies(release Rovane rovane-host KT Dorquel KTSDKPLS)
