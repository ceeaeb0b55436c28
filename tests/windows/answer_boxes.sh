#!/usr/bin/env bash
# Runs a command on a virtual X display of its own and answers its message
# boxes as a person at the keyboard does: each box captioned TORVAL is found by
# its caption, focused, and given one key through XTEST; the next box is looked
# for once that one has closed. A box beyond the answers is not answered: the
# run is stopped and the log says so.
#
# Usage: answer_boxes.sh LOG "ANSWERS" COMMAND...
#   ANSWERS: blank-separated y (Yes), n (No), ok (Enter on an OK box), c
#   (Ctrl-C while the box waits, which ends the answers), e (the end of the
#   session asked while the box waits, which ends the answers too); "none"
#   when no box may come.
# The command's output and exit code are its own; what happened to each box
# goes to LOG. With SCREENSHOTS set to a folder, each box is pictured there
# (box-N.png) before it is answered. With INTERRUPT_LOG and INTERRUPT_BLOCKS set, Ctrl-C (SIGINT, which
# Wine hands to the console's handlers) is sent to the Windows program of this
# prefix once INTERRUPT_LOG holds that many accepted image blocks. With
# SECOND_RUN set to a folder as well, the same command (or SECOND_COMMAND,
# words apart by blanks) is started a second time at that moment instead, its
# console, standard error and exit code going to that folder (out, err, code)
# and its emulated drives' report to report/ there; with SECOND_RUN_FILE and
# SECOND_RUN_AFTER set, it is started once that file holds that text. With END_SESSION set, the end of the session is asked then
# (wineboot --end-session --kill, what Wine does for a logoff or shutdown:
# the processes go once every window has agreed). With END_SESSION_FILE
# and END_SESSION_AFTER set, the end of the session is asked once that file
# (the program's console, say) holds that text.
set -uo pipefail

log=$1 answers=$2
shift 2
[ "$answers" = none ] && answers=""
: >"$log"
say() { echo "$*" >>"$log"; }

# Each run takes a free display of its own, so cases can run side by side.
display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" 2>"$log.xvfb" &
xvfb=$!
# A machine busy with other cases may take its time.
for _ in $(seq 300); do
  [ -s "$display_file" ] && break
  sleep 0.1
done
display=$(cat "$display_file")
rm -f "$display_file"
export DISPLAY=:$display
# The program starts only once the display takes connections.
for _ in $(seq 150); do
  [ -n "$display" ] && xdotool getdisplaygeometry >/dev/null 2>&1 && break
  sleep 0.1
done
if [ -z "$display" ] || ! xdotool getdisplaygeometry >/dev/null 2>&1; then
  kill -0 "$xvfb" 2>/dev/null && how="still starting" || { wait "$xvfb"; how="ended with $?"; }
  say "Xvfb did not start (display '$display', $how)"
  kill "$xvfb" 2>/dev/null
  exit 125
fi
say "display $DISPLAY"

"$@" &
program=$!

running() { kill -0 "$program" 2>/dev/null; }
box() { xdotool search --onlyvisible --name '^TORVAL$' 2>/dev/null | head -n 1; }
open_box() { xdotool search --onlyvisible --name '^TORVAL$' 2>/dev/null | grep -qx "$1"; }

# Waits up to `seconds` for a box; prints its window id.
wait_for_box() {
  local seconds=$1 window
  for _ in $(seq $((seconds * 10))); do
    window=$(box)
    if [ -n "$window" ]; then
      echo "$window"
      return 0
    fi
    running || return 1
    sleep 0.1
  done
  return 1
}

# The Windows process of this run: the one whose prefix is ours.
windows_program() {
  local pid
  for pid in $(pgrep -x odd-fwupdate.ex); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && echo "$pid"
  done
}

# The session asked to end, as a logoff or shutdown asks it (Wine's wineboot).
end_session() { "$1" wineboot --end-session --kill >>"$log.end-session" 2>&1; }

if [ -n "${END_SESSION_FILE:-}" ]; then
  (
    for _ in $(seq 1200); do
      if grep -qF -- "$END_SESSION_AFTER" "$END_SESSION_FILE" 2>/dev/null; then
        end_session "$@"
        say "end of session asked once $END_SESSION_FILE held it: wineboot $?"
        exit 0
      fi
      sleep 0.1
    done
  ) &
fi

# The second copy, while the first holds the drives; `when` goes to the log.
second_run() {
  local when=$1 second
  shift
  if [ -n "${SECOND_COMMAND:-}" ]; then read -ra second <<<"$SECOND_COMMAND"; else second=("$@"); fi
  mkdir -p "$SECOND_RUN/report"
  say "second run after $when"
  ODD_ASPI_REPORT=$SECOND_RUN/report "${second[@]}" >"$SECOND_RUN/out" 2>"$SECOND_RUN/err"
  echo $? >"$SECOND_RUN/code"
}

if [ -n "${SECOND_RUN_FILE:-}" ]; then
  (
    for _ in $(seq 1200); do
      if grep -qF -- "$SECOND_RUN_AFTER" "$SECOND_RUN_FILE" 2>/dev/null; then
        second_run "$SECOND_RUN_FILE held it" "$@"
        exit 0
      fi
      sleep 0.1
    done
  ) &
fi

if [ -n "${INTERRUPT_LOG:-}" ]; then
  (
    for _ in $(seq 1200); do
      blocks=$(grep -c '^3B 07 F0 .* good$' "$INTERRUPT_LOG" 2>/dev/null)
      if [ "${blocks:-0}" -ge "$INTERRUPT_BLOCKS" ]; then
        if [ -n "${END_SESSION:-}" ]; then
          end_session "$@"
          say "end of session asked after $blocks blocks: wineboot $?"
          exit 0
        fi
        if [ -n "${SECOND_RUN:-}" ]; then
          second_run "$blocks blocks" "$@"
          exit 0
        fi
        pid=$(windows_program | head -n 1)
        [ -n "$pid" ] && kill -INT "$pid" && say "interrupted after $blocks blocks"
        exit 0
      fi
      sleep 0.1
    done
  ) &
fi

stopped_on=""
number=0
for answer in $answers; do
  number=$((number + 1))
  case $answer in
    y) key=y ;;
    n) key=n ;;
    ok) key=Return ;;
    c|e) key="" ;;
    *) say "unknown answer $answer"; stopped_on=bad; break ;;
  esac
  if ! window=$(wait_for_box 120); then
    say "box $number: none came (answers left: $answer ...)"
    break
  fi
  # For the guide's pictures: the box as the technician sees it, before its answer.
  if [ -n "${SCREENSHOTS:-}" ]; then
    sleep 0.5
    import -window "$window" "$SCREENSHOTS/box-$number.png" >/dev/null 2>&1
  fi
  if [ -z "$key" ]; then
    # Ctrl-C, or the end of the session, while the box waits: the box goes with the program.
    if [ "$answer" = e ]; then
      end_session "$@"
      say "end of session asked at box $number: wineboot $?"
    else
      pid=$(windows_program | head -n 1)
      [ -n "$pid" ] && kill -INT "$pid"
    fi
    for _ in $(seq 100); do running || break; sleep 0.1; done
    if running; then say "box $number: $answer did not end the program"; stopped_on=stuck; else say "box $number: $answer"; fi
    break
  fi
  # A box just shown may not take keys yet; one still open two seconds after
  # its key gets the key again. The next box is looked for once it has gone.
  for _ in $(seq 15); do
    xdotool windowfocus --sync "$window" >/dev/null 2>&1
    xdotool key "$key" >/dev/null 2>&1
    for _ in $(seq 20); do
      open_box "$window" || break 2
      sleep 0.1
    done
  done
  if open_box "$window"; then
    say "box $number: $answer did not close it"
    stopped_on=stuck
    break
  fi
  say "box $number: $answer"
done

# Any further box is one the case did not expect.
while running; do
  if [ -n "$(box)" ]; then
    say "box $((number + 1)): not expected, the run is stopped"
    stopped_on=extra
    break
  fi
  sleep 0.2
done
[ -n "$stopped_on" ] && kill "$program" 2>/dev/null
wait "$program"
code=$?
# Wine's helper processes hold the display until their server goes.
[ -n "${WINESERVER:-}" ] && "$WINESERVER" -k >/dev/null 2>&1
kill "$xvfb" 2>/dev/null
wait "$xvfb" 2>/dev/null
exit "$code"
