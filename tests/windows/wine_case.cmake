# One run of the Windows program under Wine, in a throw-away copy of the
# shared prefix, on a virtual display of its own whose message boxes are
# answered in order (ANSWERS), or with no display at all, where no box can be
# shown (every one returns at once): the Windows version, the Intel IDE driver's
# registry keys and the language are set first; the program runs in a fresh
# folder, with the emulated ASPI manager beside it or the SG_IO shim preloaded
# when the case has drives. Then its exit code and console bytes are compared
# with the case's expectations, and so is what the emulated drive holds.
#
# Arguments: WINE WINESERVER BASE_PREFIX WORK EXE EXPECTED EXIT, and as the
# case needs them: VERSION (win98), INTEL_KEYS (1), LANGUAGE (ja_JP.UTF-8)
# with CODE_PAGE (the OEM code page Wine must report there); SCENARIO with
# either DLL (the emulated ASPI manager) or SHIM and MAKE_IMAGE (the SG_IO
# shim preloaded into Wine, which turns pass-through on a drive letter whose
# device links to /dev/null into SG_IO); DRIVE ("adapter:target" for ASPI, the
# letter for the shim) with STATE (key=value fields the drive must report),
# FLASHED (1: the drive holds the image file), BLOCKS and LEAVES (image
# blocks the drive accepted, leave commands it received); UNTOUCHED (1: the
# program never loads the ASPI manager); ARGS (the command line); INTERRUPT
# ("A:T N": Ctrl-C once drive A:T has accepted N image blocks; with SECOND_RUN,
# the program started again at that moment instead, which must refuse; with
# END_SESSION, the end of the session asked then instead); END_SESSION_AFTER
# (text: the end of the session asked once the console shows it);
# ANSWERS ("none", or "y ok": Yes, then Enter on an OK box; "e" ends the
# session at that box) with ANSWER_BOXES, the script that answers;
# STDERR (text the program's standard error must hold); HOST_NAME (the
# machine's name, set in the registry at the start of the program's session);
# LOG_HOLDS ("text|text": the program keeps its record in runs.log, which
# must hold each text) and LOG_LINES (the number of lines it must hold);
# SECOND_RUN_AFTER (text: the second copy started once the console shows it);
# SECOND_EXE with SECOND_VERSION (the second copy is that program under a
# name of its own, which Wine tells that version of Windows), SECOND_ARGS
# (its command line, arguments apart by blanks), SECOND_EXIT (its exit code,
# 1 unless given) and, for the pass-through route, SECOND_SHIM and
# SECOND_SCENARIO (the shim preloaded into it alone, serving drive E:);
# HOLD_NAME with HOLDER (hold-name.exe, which holds an event of that name
# while the program runs); SIM (the simulator: the program wrote the
# machine's record to machine.json, whose check there must be this run's
# console and exit code) with YES_EXPECTED (the console its unattended update
# there must show).
cmake_minimum_required(VERSION 3.25)

set(prefix ${WORK}/prefix)
set(run ${WORK}/run)
set(report ${WORK}/report)
get_filename_component(case_name ${WORK} NAME)

function(fail text)
  execute_process(COMMAND ${WINESERVER} -k OUTPUT_QUIET ERROR_QUIET)
  message(FATAL_ERROR "${case_name}: ${text}")
endfunction()

# Runs a Wine command that has to succeed; its output goes to `out_var`. The
# output goes through files: the background processes Wine starts inherit
# the standard handles and would hold pipes open until its server exits.
function(wine_step out_var)
  execute_process(COMMAND ${WINE} ${ARGN} RESULT_VARIABLE code OUTPUT_FILE ${WORK}/step.out
                  ERROR_FILE ${WORK}/step.err TIMEOUT 120)
  file(READ ${WORK}/step.out out)
  if(NOT code EQUAL 0)
    file(READ ${WORK}/step.err err)
    fail("wine ${ARGN} failed (${code})\n${out}\n${err}")
  endif()
  set(${out_var} "${out}" PARENT_SCOPE)
endfunction()

foreach(file IN ITEMS ${EXE} ${DLL} ${SECOND_EXE} ${HOLDER})
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "${case_name}: ${file} is missing (make windows builds it)")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${run} ${report})

# Hard links keep the copy cheap (a prefix holds over a gigabyte of DLLs that
# nothing writes); the registry files, which this case changes, are real copies.
execute_process(COMMAND cp -al ${BASE_PREFIX} ${prefix} RESULT_VARIABLE linked ERROR_QUIET)
if(NOT linked EQUAL 0)
  file(REMOVE_RECURSE ${prefix})
  execute_process(COMMAND cp -a ${BASE_PREFIX} ${prefix} RESULT_VARIABLE copied)
  if(NOT copied EQUAL 0)
    message(FATAL_ERROR "${case_name}: cannot copy the Wine prefix ${BASE_PREFIX}")
  endif()
endif()
file(GLOB registry_files ${BASE_PREFIX}/*.reg)
foreach(file IN LISTS registry_files)
  get_filename_component(name ${file} NAME)
  file(REMOVE ${prefix}/${name})
  file(COPY_FILE ${file} ${prefix}/${name})
endforeach()

unset(ENV{DISPLAY})
unset(ENV{WAYLAND_DISPLAY})
unset(ENV{LC_ALL})
unset(ENV{LC_CTYPE})
unset(ENV{WINEDLLOVERRIDES})
set(ENV{WINEPREFIX} ${prefix})
set(ENV{WINEDEBUG} -all)
set(ENV{LANG} C.UTF-8)

if(LANGUAGE)
  # Wine takes its code pages from the C library's locale, which need not be
  # installed on the machine: build it into the case's folder.
  string(REGEX REPLACE "\\..*$" "" locale_source ${LANGUAGE})
  string(REGEX REPLACE "^[^.]*\\." "" charmap ${LANGUAGE})
  file(MAKE_DIRECTORY ${WORK}/locale)
  execute_process(COMMAND localedef -i ${locale_source} -f ${charmap} ${WORK}/locale/${LANGUAGE}
                  OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT EXISTS ${WORK}/locale/${LANGUAGE}/LC_CTYPE)
    fail("localedef could not build ${LANGUAGE} (Debian package locales)\n${out}\n${err}")
  endif()
  set(ENV{LOCPATH} ${WORK}/locale)
  set(ENV{LANG} ${LANGUAGE})
endif()
if(CODE_PAGE)
  wine_step(nls reg query "HKLM\\System\\CurrentControlSet\\Control\\Nls\\CodePage" /v OEMCP)
  if(NOT nls MATCHES "OEMCP[ \t]+REG_SZ[ \t]+${CODE_PAGE}[\r\n]")
    fail("Wine does not report OEM code page ${CODE_PAGE} with LANG=$ENV{LANG}:\n${nls}")
  endif()
endif()
if(VERSION)
  wine_step(out reg add "HKCU\\Software\\Wine" /v Version /d ${VERSION} /f)
endif()
if(INTEL_KEYS)
  foreach(key IN ITEMS "Intel Application Accelerator" "Intel Ultra ATA Storage Driver")
    wine_step(out reg add "HKLM\\SOFTWARE\\INTEL\\${key}" /f)
  endforeach()
endif()

file(COPY_FILE ${EXE} ${run}/odd-fwupdate.exe)
if(DLL)
  file(COPY_FILE ${DLL} ${run}/WNASPI32.DLL)
  # Without the override Wine loads its own manager even with ours beside the program.
  set(ENV{WINEDLLOVERRIDES} wnaspi32=n)
  set(ENV{ODD_ASPI_SCENARIO} Z:${SCENARIO})
  set(ENV{ODD_ASPI_REPORT} Z:${report})
endif()
if(SHIM)
  # The shim serves drives only; the scenario's images are built here.
  file(READ ${SCENARIO} scenario)
  string(JSON image_count ERROR_VARIABLE no_images LENGTH "${scenario}" images)
  if(no_images)
    set(image_count 0)
  endif()
  foreach(i RANGE 1 ${image_count})
    if(i GREATER image_count)
      break()  # RANGE 1 0 counts down
    endif()
    math(EXPR index "${i} - 1")
    string(JSON path ERROR_VARIABLE no_path GET "${scenario}" images ${index} path)
    if(no_path)
      set(path A0013431.128)
    endif()
    set(image_options --out ${run}/${path})
    string(JSON field_count LENGTH "${scenario}" images ${index})
    foreach(f RANGE 1 ${field_count})
      math(EXPR field "${f} - 1")
      string(JSON key MEMBER "${scenario}" images ${index} ${field})
      if(NOT key STREQUAL "path" AND NOT key STREQUAL "checksum_file")
        string(JSON value GET "${scenario}" images ${index} ${key})
        string(REPLACE "_" "-" option ${key})
        list(APPEND image_options --${option} ${value})
      endif()
    endforeach()
    execute_process(COMMAND ${MAKE_IMAGE} ${image_options} RESULT_VARIABLE made ERROR_VARIABLE why)
    if(NOT made EQUAL 0)
      fail("make-image ${image_options} failed: ${why}")
    endif()
    # A release folder: the checksum file beside the image, unless the case leaves it out.
    string(JSON checksum_file ERROR_VARIABLE no_key GET "${scenario}" images ${index} checksum_file)
    if(no_key OR checksum_file)
      file(SHA256 ${run}/${path} digest)
      file(WRITE ${run}/${path}.sha256 "${digest}  ${path}\n")
    endif()
  endforeach()
  string(TOLOWER ${DRIVE} letter)
  file(CREATE_LINK /dev/null ${prefix}/dosdevices/${letter}:: SYMBOLIC)
  set(ENV{ODD_SGIO_SCENARIO} ${SCENARIO})
  set(ENV{ODD_SGIO_REPORT} ${report})
  set(ENV{LD_PRELOAD} ${SHIM})
endif()

if(SECOND_VERSION)
  # The second copy reads the version Wine tells a program of its name.
  file(COPY_FILE ${SECOND_EXE} ${run}/second.exe)
  wine_step(out reg add "HKCU\\Software\\Wine\\AppDefaults\\second.exe" /v Version /d ${SECOND_VERSION} /f)
  set(second_command ${WINE} second.exe ${SECOND_ARGS})
  if(SECOND_SHIM)
    file(CREATE_LINK /dev/null ${prefix}/dosdevices/e:: SYMBOLIC)
    set(second_command env LD_PRELOAD=${SECOND_SHIM} ODD_SGIO_SCENARIO=${SECOND_SCENARIO}
        ODD_SGIO_REPORT=${WORK}/second/report ${second_command})
  endif()
  string(JOIN " " second_command ${second_command})
  set(ENV{SECOND_COMMAND} "${second_command}")
endif()
# Held by another process of this prefix until its server ends (again for a
# run made again, the server having been ended).
macro(hold_the_name)
  file(REMOVE ${run}/held.txt)
  execute_process(COMMAND bash -c "\"$0\" hold-name.exe \"$1\" >held.txt 2>&1 </dev/null &
                                   for _ in $(seq 300); do grep -q held held.txt && exit 0; sleep 0.1; done; exit 1"
                          ${WINE} ${HOLD_NAME}
                  WORKING_DIRECTORY ${run} RESULT_VARIABLE held OUTPUT_QUIET ERROR_QUIET TIMEOUT 60)
  if(NOT held EQUAL 0)
    file(READ ${run}/held.txt why)
    fail("hold-name.exe could not hold ${HOLD_NAME}: ${why}")
  endif()
endmacro()
if(DEFINED HOLD_NAME)
  file(COPY_FILE ${HOLDER} ${run}/hold-name.exe)
  hold_the_name()
endif()
if(NOT DEFINED SECOND_EXIT)
  set(SECOND_EXIT 1)
endif()

set(run_command ${WINE} odd-fwupdate.exe ${ARGS})
if(DEFINED LOG_HOLDS)
  list(APPEND run_command /log:runs.log)
endif()
if(DEFINED HOST_NAME)
  # Wine names the machine after the host (in ASCII) when its session starts:
  # the name is set in that session, just before the program runs in it.
  set(key "HKLM\\System\\CurrentControlSet\\Control\\ComputerName\\ActiveComputerName")
  set(run_command bash -c "\"$1\" reg add '${key}' /v ComputerName /d \"$0\" /f >/dev/null 2>&1 && exec \"$@\""
      ${HOST_NAME} ${run_command})
endif()
if(DEFINED ANSWERS)
  # The settings above started Wine's desktop process with no display; the
  # program must start a new one on its own display.
  execute_process(COMMAND ${WINESERVER} -w TIMEOUT 60)
  set(ENV{WINESERVER} ${WINESERVER})
  set(run_command bash ${ANSWER_BOXES} ${WORK}/boxes.log "${ANSWERS}" ${run_command})
  if(DEFINED INTERRUPT)
    # "A:T N": Ctrl-C once the drive at A:T has accepted N image blocks.
    string(REPLACE " " ";" interrupt "${INTERRUPT}")
    list(GET interrupt 0 interrupted_drive)
    list(GET interrupt 1 interrupt_blocks)
    string(REPLACE ":" "_" interrupted_drive ${interrupted_drive})
    set(ENV{INTERRUPT_LOG} ${report}/drive_${interrupted_drive}.log)
    set(ENV{INTERRUPT_BLOCKS} ${interrupt_blocks})
    if(SECOND_RUN)
      file(REMOVE_RECURSE ${WORK}/second)
      set(ENV{SECOND_RUN} ${WORK}/second)
    endif()
    if(END_SESSION)
      set(ENV{END_SESSION} 1)
    endif()
  endif()
  if(DEFINED SECOND_RUN_AFTER)
    file(REMOVE_RECURSE ${WORK}/second)
    set(ENV{SECOND_RUN} ${WORK}/second)
    set(ENV{SECOND_RUN_FILE} ${WORK}/console.bin)
    set(ENV{SECOND_RUN_AFTER} ${SECOND_RUN_AFTER})
    set(SECOND_RUN 1)
  endif()
  if(DEFINED END_SESSION_AFTER)
    set(ENV{END_SESSION_FILE} ${WORK}/console.bin)
    set(ENV{END_SESSION_AFTER} ${END_SESSION_AFTER})
  endif()
endif()
# Wine now and then fails to make the first window on a display just started
# (MessageBoxA returns 0 before any box shows, and the program, rightly, stops),
# a display may not start on a machine busy with other cases, and a process
# that ends itself from its console handler's thread while its main thread
# waits in a box can lose the race with Wine's own client, which ends it with
# 1 and "wine client error:N: write: ..." (Windows has no such client): that
# run is made again, at most twice, from the same start, and said so.
foreach(attempt RANGE 1 3)
  string(TIMESTAMP started %s UTC)
  execute_process(COMMAND ${run_command} WORKING_DIRECTORY ${run}
                  OUTPUT_FILE ${WORK}/console.bin ERROR_FILE ${WORK}/stderr.txt RESULT_VARIABLE code TIMEOUT 180)
  string(TIMESTAMP ended %s UTC)
  math(EXPR seconds "${ended} - ${started}")
  execute_process(COMMAND ${WINESERVER} -k OUTPUT_QUIET ERROR_QUIET)
  message(STATUS "${case_name}: exit code ${code} after ${seconds} s")
  file(READ ${WORK}/stderr.txt errors_seen)
  set(wine_client_lost FALSE)
  if(errors_seen MATCHES "wine client error:[0-9a-f]+: write: " AND "${code}" STREQUAL "1" AND NOT "${EXIT}" STREQUAL "1")
    set(wine_client_lost TRUE)
  endif()
  if((NOT DEFINED ANSWERS OR NOT EXISTS ${WORK}/boxes.log) AND NOT wine_client_lost)
    break()
  endif()
  set(boxes_seen "")
  if(EXISTS ${WORK}/boxes.log)
    file(READ ${WORK}/boxes.log boxes_seen)
  endif()
  set(no_display FALSE)
  if(boxes_seen MATCHES "Xvfb did not start")
    set(no_display TRUE)
  endif()
  set(no_first_box FALSE)
  if(NOT ANSWERS STREQUAL "none" AND boxes_seen MATCHES "box 1: none came" AND errors_seen MATCHES "could not be shown")
    set(no_first_box TRUE)
  endif()
  if(attempt EQUAL 3 OR NOT (no_display OR no_first_box OR wine_client_lost))
    break()
  endif()
  if(no_display)
    message(STATUS "${case_name}: the display did not start; the run is made again")
  elseif(wine_client_lost)
    message(STATUS "${case_name}: Wine's client ended the process first (${errors_seen}); the run is made again")
  else()
    message(STATUS "${case_name}: Wine showed no box on its new display; the run is made again")
  endif()
  file(REMOVE_RECURSE ${report} ${WORK}/second)
  file(MAKE_DIRECTORY ${report})
  file(REMOVE ${run}/runs.log)
  if(DEFINED HOLD_NAME)
    hold_the_name()
  endif()
endforeach()
unset(ENV{LD_PRELOAD})

if(DEFINED ANSWERS)
  # Every answer went to a box of its own, and no box was left unanswered.
  file(STRINGS ${WORK}/boxes.log boxes)
  string(JOIN "\n" boxes_text ${boxes})
  # wineboot ends with 1 when a window refused to let the session end.
  if(END_SESSION AND NOT boxes_text MATCHES "end of session asked after [0-9]+ blocks: wineboot 1")
    fail("the end of the session was not refused\n${boxes_text}")
  endif()
  # Outside an update window every window agrees, and wineboot ends with 0.
  if((DEFINED END_SESSION_AFTER OR ANSWERS MATCHES "(^| )e$") AND
     NOT boxes_text MATCHES "end of session asked [^\n]*: wineboot 0")
    fail("the end of the session was not asked, or was refused\n${boxes_text}")
  endif()
  if(DEFINED INTERRUPT AND NOT SECOND_RUN AND NOT END_SESSION AND NOT boxes_text MATCHES "interrupted after")
    fail("Ctrl-C was never sent\n${boxes_text}")
  endif()
  if(SECOND_RUN)
    # The second copy ends at once, saying why, and never loads the ASPI
    # manager nor sends a command through pass-through.
    if(NOT boxes_text MATCHES "second run after" OR NOT EXISTS ${WORK}/second/code)
      fail("the second run was never started\n${boxes_text}")
    endif()
    file(STRINGS ${WORK}/second/code second_code)
    file(READ ${WORK}/second/err second_err)
    if(NOT second_code EQUAL SECOND_EXIT OR NOT second_err MATCHES "another run is updating drives on this machine")
      fail("the second run ended with ${second_code}: ${second_err}")
    endif()
    if(EXISTS ${WORK}/second/report/drives.txt)
      fail("the second run loaded the ASPI manager")
    endif()
    file(GLOB second_drives ${WORK}/second/report/*.state)
    if(second_drives)
      fail("the second run sent commands to a drive: ${second_drives}")
    endif()
  endif()
  list(FILTER boxes INCLUDE REGEX "^box [0-9]+: (y|n|ok|c|e)$")
  # "none": on a display, where any box that comes is one too many.
  set(wanted_answers "")
  if(NOT ANSWERS STREQUAL "none")
    separate_arguments(wanted_answers UNIX_COMMAND "${ANSWERS}")
  endif()
  list(LENGTH boxes answered)
  list(LENGTH wanted_answers wanted)
  if(NOT answered EQUAL wanted OR boxes_text MATCHES "not expected|none came|did not|unknown")
    file(READ ${WORK}/stderr.txt errors)
    fail("boxes answered: ${answered} of ${wanted}\n${boxes_text}\n--- stderr ---\n${errors}")
  endif()
endif()

if(UNTOUCHED AND EXISTS ${report}/drives.txt)
  fail("the program loaded the ASPI manager, which it must not touch here")
endif()
if(EXISTS ${report}/error.txt)
  file(READ ${report}/error.txt reason)
  fail("the emulated ASPI manager did not start: ${reason}")
endif()
file(READ ${WORK}/console.bin console)
file(READ ${WORK}/stderr.txt errors)
if(NOT "${code}" STREQUAL "${EXIT}")
  fail("exit code ${code}, expected ${EXIT}\n--- console ---\n${console}\n--- stderr ---\n${errors}")
endif()
if(DEFINED STDERR)
  string(FIND "${errors}" "${STDERR}" found)
  if(found EQUAL -1)
    fail("standard error lacks: ${STDERR}\n--- stderr ---\n${errors}")
  endif()
endif()
if(DEFINED LOG_HOLDS)
  file(READ ${run}/runs.log record)
  string(REPLACE "|" ";" wanted_texts "${LOG_HOLDS}")
  foreach(text IN LISTS wanted_texts)
    string(FIND "${record}" "${text}" found)
    if(found EQUAL -1)
      fail("the record lacks: ${text}\n--- runs.log ---\n${record}")
    endif()
  endforeach()
  file(STRINGS ${run}/runs.log record_lines)
  list(LENGTH record_lines record_count)
  if(DEFINED LOG_LINES AND NOT record_count EQUAL LOG_LINES)
    fail("the record holds ${record_count} lines, expected ${LOG_LINES}\n--- runs.log ---\n${record}")
  endif()
endif()
file(READ ${WORK}/console.bin actual_hex HEX)
file(READ ${EXPECTED} expected_hex HEX)
if(NOT actual_hex STREQUAL expected_hex)
  fail("console bytes differ from ${EXPECTED}\n--- got ---\n${console}\n--- hex ---\n${actual_hex}\n"
       "--- expected hex ---\n${expected_hex}\n--- stderr ---\n${errors}")
endif()
if(DEFINED SIM)
  if(NOT EXISTS ${run}/machine.json)
    fail("no record of the machine in machine.json\n--- stderr ---\n${errors}")
  endif()
  execute_process(COMMAND ${SIM} ${run}/machine.json --check OUTPUT_FILE ${WORK}/replay.bin ERROR_FILE ${WORK}/replay.err
                  RESULT_VARIABLE replay_code TIMEOUT 120)
  file(READ ${WORK}/replay.bin replay_hex HEX)
  if(NOT "${replay_code}" STREQUAL "${code}" OR NOT replay_hex STREQUAL actual_hex)
    file(READ ${WORK}/replay.bin replayed)
    file(READ ${run}/machine.json machine)
    fail("the record's check in the simulator ended ${replay_code}, showing\n${replayed}\n--- record ---\n${machine}")
  endif()
  if(DEFINED YES_EXPECTED)
    execute_process(COMMAND ${SIM} ${run}/machine.json --yes OUTPUT_FILE ${WORK}/replay_yes.bin ERROR_QUIET
                    RESULT_VARIABLE replay_code TIMEOUT 120)
    file(READ ${WORK}/replay_yes.bin replay_hex HEX)
    file(READ ${YES_EXPECTED} yes_hex HEX)
    if(NOT replay_hex STREQUAL yes_hex)
      file(READ ${WORK}/replay_yes.bin replayed)
      fail("the record's update in the simulator (exit ${replay_code}) differs from ${YES_EXPECTED}\n${replayed}")
    endif()
  endif()
endif()

if(DRIVE)
  if(SHIM)
    # LETTER.state holds "key value" lines.
    set(drive_files ${report}/${DRIVE})
    file(STRINGS ${drive_files}.state state_lines)
    if(NOT state_lines)
      fail("the shim reports nothing about drive ${DRIVE}")
    endif()
    list(TRANSFORM state_lines REPLACE "^([a-z_]+) +(.*[^ ])? *$" "\\1=\\2")
    string(JOIN " " line ${state_lines})
    set(image_file ${drive_files}.image)
    file(STRINGS ${drive_files}.commands accepted REGEX "^3B 07 F0 .*[|] status 00$")
    file(STRINGS ${drive_files}.commands leaves REGEX "^3B 05 FF ")
  else()
    string(REPLACE ":" ";" address ${DRIVE})
    list(GET address 0 adapter)
    list(GET address 1 target)
    file(STRINGS ${report}/drives.txt line REGEX "^adapter=${adapter} target=${target} ")
    if(NOT line)
      fail("the emulated manager reports no drive at ${DRIVE}")
    endif()
    set(drive_files ${report}/drive_${adapter}_${target})
    set(image_file ${drive_files}.bin)
    file(STRINGS ${drive_files}.log accepted REGEX "^3B 07 F0 .* good$")
    file(STRINGS ${drive_files}.log leaves REGEX "^3B 05 FF ")
  endif()
  string(REPLACE " " ";" wanted "${STATE}")
  foreach(field IN LISTS wanted)
    string(FIND " ${line} " " ${field} " found)
    if(found EQUAL -1)
      fail("drive ${DRIVE}: expected ${field}, the drive reports: ${line}")
    endif()
  endforeach()
  list(LENGTH accepted accepted_count)
  list(LENGTH leaves leave_count)
  if(DEFINED BLOCKS AND NOT accepted_count EQUAL BLOCKS)
    fail("drive ${DRIVE} accepted ${accepted_count} image blocks, expected ${BLOCKS}")
  endif()
  if(DEFINED LEAVES AND NOT leave_count EQUAL LEAVES)
    fail("drive ${DRIVE} received ${leave_count} leave commands, expected ${LEAVES}")
  endif()
  if(FLASHED)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${image_file} ${run}/A0013431.128
                    RESULT_VARIABLE differs)
    if(NOT differs EQUAL 0)
      fail("drive ${DRIVE} does not hold the bytes of ${run}/A0013431.128")
    endif()
  endif()
endif()

if(DEFINED CONSOLE_WRITES)
  # On a terminal the C runtime writes its console stream one byte per call,
  # and a code page 932 character split across writes shows as garbage: run
  # again on a pseudo-terminal and count the writes of the program's thread
  # (the one that asks for the OEM code page).
  execute_process(COMMAND ${WINE} reg add "HKCU\\Software\\Wine\\Debug" /v RelayInclude
                          /d "KERNEL32.WriteFile;KERNEL32.GetOEMCP" /f
                  RESULT_VARIABLE relay_set OUTPUT_QUIET ERROR_QUIET TIMEOUT 120)
  if(NOT relay_set EQUAL 0)
    fail("cannot set Wine's relay list (${relay_set})")
  endif()
  execute_process(COMMAND ${WINESERVER} -w TIMEOUT 60)
  set(ENV{WINEDEBUG} +relay)
  execute_process(COMMAND script -qec "${WINE} odd-fwupdate.exe 2>${WORK}/relay.txt" /dev/null
                  WORKING_DIRECTORY ${run} OUTPUT_QUIET ERROR_QUIET TIMEOUT 120)
  set(ENV{WINEDEBUG} -all)
  # The program is the one 32-bit process: the console host Wine starts for
  # the terminal asks too, from a 64-bit address.
  file(STRINGS ${WORK}/relay.txt code_page_calls REGEX "^[0-9a-f]+:Call KERNEL32.GetOEMCP\\(\\) ret=[0-9a-f]+$")
  list(FILTER code_page_calls INCLUDE REGEX "ret=[0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f]$")
  list(GET code_page_calls 0 first)
  string(REGEX REPLACE ":.*" "" thread "${first}")
  file(STRINGS ${WORK}/relay.txt writes REGEX "^${thread}:Call KERNEL32.WriteFile")
  list(LENGTH writes write_count)
  if(NOT thread OR NOT write_count EQUAL CONSOLE_WRITES)
    fail("console written in ${write_count} calls on a terminal, expected ${CONSOLE_WRITES} (thread '${thread}')")
  endif()
endif()

file(REMOVE_RECURSE ${prefix})
