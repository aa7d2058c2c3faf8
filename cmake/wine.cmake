# Test executables of a Windows build run under wine, each in a wine prefix of the build folder's own
# (build/<preset>/wine), so no user prefix is read or changed. cmake/wine-run creates the prefix
# quietly; a 32-bit build gets a pure 32-bit prefix (half the size of a 64-bit one with its WoW64
# half, and made in half the time).
# On Debian: apt-get install wine wine64, and for 32-bit programs also
# dpkg --add-architecture i386 && apt-get update && apt-get install wine32:i386
# Included from the mingw-w64 toolchain files; CMAKE_CROSSCOMPILING_EMULATOR must be known before
# the first target is created.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(AMD64|x86_64)$")
  set(_zendro_winearch win64)
else()
  set(_zendro_winearch win32)
endif()
set(_zendro_wineprefix "${CMAKE_BINARY_DIR}/wine")
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run;${_zendro_wineprefix};${_zendro_winearch}")

# The prefix is made here, once per build folder, rather than by the first test: CTest lists each
# executable's tests through the emulator before running any, with a 5 s limit per listing, and
# creating a prefix takes 10 to 30 s.
get_property(_zendro_in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(NOT _zendro_in_try_compile AND NOT EXISTS "${_zendro_wineprefix}/.ready")
  find_program(_zendro_wine wine)
  if(_zendro_wine)
    message(STATUS "Creating the wine prefix ${_zendro_wineprefix} (${_zendro_winearch})")
    execute_process(COMMAND "${CMAKE_CURRENT_LIST_DIR}/wine-run" "${_zendro_wineprefix}" ${_zendro_winearch}
                    RESULT_VARIABLE _zendro_wine_result)
    if(NOT _zendro_wine_result EQUAL 0)
      message(WARNING "The wine prefix could not be created (see ${_zendro_wineprefix}.log); the tests will fail")
    endif()
  else()
    message(WARNING "wine not found: this build's tests cannot run. On Debian: apt-get install wine wine64 "
                    "(and wine32:i386 after dpkg --add-architecture i386 for 32-bit programs)")
  endif()
endif()
