# Builds the Wine prefix that every Windows case copies, once, and again only
# when the installed Wine changes. Arguments: WINE, WINESERVER, PREFIX.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${WINE} --version OUTPUT_VARIABLE version OUTPUT_STRIP_TRAILING_WHITESPACE)
# What the prefix holds besides a fresh boot; a change here builds it again.
string(APPEND version " unmanaged-windows")
# The stamp lies beside the prefix, so the copies do not carry it.
set(stamp ${PREFIX}.ready)
if(EXISTS ${stamp} AND EXISTS ${PREFIX}/system.reg)
  file(READ ${stamp} ready)
  if(ready STREQUAL version)
    message(STATUS "Wine prefix ${PREFIX} (${version}) is ready")
    return()
  endif()
endif()

file(REMOVE ${stamp})
file(REMOVE_RECURSE ${PREFIX})
unset(ENV{DISPLAY})
unset(ENV{WAYLAND_DISPLAY})
set(ENV{WINEPREFIX} ${PREFIX})
set(ENV{WINEDEBUG} -all)
# Without a display nobody could answer the offer to install Mono or Gecko.
set(ENV{WINEDLLOVERRIDES} "mscoree,mshtml=")
execute_process(COMMAND ${WINE} wineboot -i RESULT_VARIABLE booted OUTPUT_VARIABLE out ERROR_VARIABLE err
                TIMEOUT 240)
# Without a window manager on the virtual display Wine draws a box's caption
# (by which the cases find it) only when it manages its windows itself.
if(booted EQUAL 0)
  execute_process(COMMAND ${WINE} reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f
                  RESULT_VARIABLE booted OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
endif()
# The registry is on disk once the prefix's server has gone.
execute_process(COMMAND ${WINESERVER} -w TIMEOUT 60)
if(NOT booted EQUAL 0 OR NOT EXISTS ${PREFIX}/system.reg)
  message(FATAL_ERROR "wineboot -i or reg add failed (${booted}) for ${PREFIX}\n${out}\n${err}")
endif()
file(WRITE ${stamp} "${version}")
message(STATUS "Wine prefix ${PREFIX} (${version}) created")
