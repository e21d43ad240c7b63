# The board-access library of a bench with real hardware: an adapter with
# the ABI of src/board/qal.h over the vendor's library, built elsewhere and
# named by ZT_QAL_LIBRARY. It becomes the imported target `qal`, which the
# program links as it links the virtual board, and `cmake --install` puts
# it where the installed program looks for it:
#
#   Linux    lib/ beside bin/ (the program's RUNPATH is $ORIGIN/../lib), under
#            the name the program records for it: its soname, or its file
#            name when it has none.
#   Windows  bin/, next to zorvantik-test.exe. ZT_QAL_LIBRARY is the import
#            library (qal.dll.a) or the DLL itself; the DLL is installed when
#            it is known, from ZT_QAL_LIBRARY or ZT_QAL_DLL.

if(NOT ZT_QAL_LIBRARY)
  message(FATAL_ERROR
    "ZT_BUILD_SIM=OFF builds the program against a real board: "
    "name its adapter library with -DZT_QAL_LIBRARY=/path/to/libqal-adapter.so")
endif()
if(NOT EXISTS "${ZT_QAL_LIBRARY}" OR IS_DIRECTORY "${ZT_QAL_LIBRARY}")
  message(FATAL_ERROR "ZT_QAL_LIBRARY: no such file: ${ZT_QAL_LIBRARY}")
endif()

# A library given through a symlink (libx.so -> libx.so.1.2) is installed
# as the file itself, not as a link that would point nowhere.
get_filename_component(_zt_qal_file "${ZT_QAL_LIBRARY}" REALPATH)

add_library(qal SHARED IMPORTED GLOBAL)
set_target_properties(qal PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${PROJECT_SOURCE_DIR}/src/board")

if(WIN32)
  set(_zt_qal_dll "${ZT_QAL_DLL}")
  if(NOT _zt_qal_dll AND ZT_QAL_LIBRARY MATCHES "\\.[dD][lL][lL]$")
    set(_zt_qal_dll "${_zt_qal_file}")
  endif()
  # MinGW's ld links against an import library and a DLL alike.
  set_target_properties(qal PROPERTIES IMPORTED_IMPLIB "${_zt_qal_file}")
  if(_zt_qal_dll)
    set_target_properties(qal PROPERTIES IMPORTED_LOCATION "${_zt_qal_dll}")
    install(FILES "${_zt_qal_dll}" DESTINATION ${CMAKE_INSTALL_BINDIR})
  else()
    message(STATUS "ZT_QAL_DLL not set: put the adapter's DLL next to zorvantik-test.exe by hand")
  endif()
else()
  # The dynamic loader looks the library up by the name recorded in the
  # program: the library's soname if it has one. Without one, a library
  # linked by its full path would be recorded by that path, and the
  # installed program would load the copy in the adapter's build tree, or
  # nothing; linked as -l<name> it is recorded by its file name.
  set(_zt_qal_soname "")
  if(CMAKE_OBJDUMP)
    execute_process(COMMAND "${CMAKE_OBJDUMP}" -p "${_zt_qal_file}"
                    OUTPUT_VARIABLE _zt_qal_headers ERROR_QUIET RESULT_VARIABLE _zt_qal_rc)
    if(NOT _zt_qal_rc EQUAL 0)
      message(FATAL_ERROR "ZT_QAL_LIBRARY: ${ZT_QAL_LIBRARY} is not a shared library objdump can read")
    endif()
    if(_zt_qal_headers MATCHES "\n[ \t]*SONAME[ \t]+([^ \t\r\n]+)")
      set(_zt_qal_soname "${CMAKE_MATCH_1}")
    endif()
  else()
    message(WARNING "no objdump: the adapter's soname is unknown, it is installed under its file name")
  endif()
  set_target_properties(qal PROPERTIES IMPORTED_LOCATION "${_zt_qal_file}")
  if(_zt_qal_soname)
    set_target_properties(qal PROPERTIES IMPORTED_SONAME "${_zt_qal_soname}")
    set(_zt_qal_installed_name "${_zt_qal_soname}")
  else()
    get_filename_component(_zt_qal_installed_name "${ZT_QAL_LIBRARY}" NAME)
    if(NOT _zt_qal_installed_name MATCHES "^lib.+\\.so$")
      message(FATAL_ERROR
        "ZT_QAL_LIBRARY: ${_zt_qal_installed_name} has no soname and is not named lib<name>.so, "
        "so the program could only record it by its full path; rename it or link it with -Wl,-soname")
    endif()
    set_target_properties(qal PROPERTIES IMPORTED_NO_SONAME TRUE)
  endif()
  install(FILES "${_zt_qal_file}" DESTINATION ${CMAKE_INSTALL_LIBDIR}
          RENAME "${_zt_qal_installed_name}"
          PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                      WORLD_READ WORLD_EXECUTE)
  message(STATUS "Board-access library: ${_zt_qal_file}, installed as "
                 "${CMAKE_INSTALL_LIBDIR}/${_zt_qal_installed_name}")
endif()

# A build directory that built the virtual board before (make windows, then
# make windows QAL_LIBRARY=...) still holds its library beside the program,
# where a bench would take it for the adapter: it goes, unless it is the
# adapter itself.
get_filename_component(_zt_qal_dll_file "${ZT_QAL_DLL}" REALPATH)
foreach(_zt_stale qal.dll libqal.dll.a libqal.so)
  get_filename_component(_zt_stale_file "${CMAKE_BINARY_DIR}/${_zt_stale}" REALPATH)
  if(EXISTS "${_zt_stale_file}" AND NOT _zt_stale_file STREQUAL _zt_qal_file
     AND NOT (ZT_QAL_DLL AND _zt_stale_file STREQUAL _zt_qal_dll_file))
    message(STATUS "Removing the virtual board's ${_zt_stale} from the build directory")
    file(REMOVE "${CMAKE_BINARY_DIR}/${_zt_stale}")
  endif()
endforeach()
