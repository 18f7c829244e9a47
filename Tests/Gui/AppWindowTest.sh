#!/usr/bin/env bash
# Drives the real application as a user would, on a private X display managed by
# openbox: finds its window by title, checks its size, takes a screenshot, and closes
# it through the window manager.
#
# Usage: AppWindowTest.sh APP OUTPUT_DIR SCENARIO [STALLED_SERVICE PORT]
#   window                 size, fixed size, look, screenshot, close
#   after-midi-settings    open "MIDI Settings", close it with Escape, then close the window
#   during-midi-settings   close the window while "MIDI Settings" is open
#   two-instances          a second copy, started with arguments, runs beside the first
#   after-file-chooser     switch to "Local File", open "Browse", cancel it, then close the window
#   close-while-service-stalls
#                          APP's service is http://127.0.0.1:PORT/api/v1/, where STALLED_SERVICE
#                          accepts connections and never answers: a copy closed while its
#                          first request is out leaves the screen at once and ends within the
#                          requests' time-out; a second copy gives up on its list request and
#                          still quits at once
#
# The program asks the firmware service for its list as it starts; it runs in a
# network namespace of its own, so that request never leaves the machine.
set -uo pipefail

app="$1"
out="$2"
scenario="$3"
stalledService="${4:-}"
stalledPort="${5:-}"

windowDeadline=30   # seconds for a window to appear (sanitizer builds start slowly)
exitDeadline=10     # seconds for the program to end once its window is closed

work="$(mktemp -d)"
pids=()

cleanup()
{
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null
    done
    [ -n "${wm:-}" ] && kill "$wm" 2>/dev/null
    [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# What the display looked like when a scenario failed: which window had the keyboard,
# which one the window manager called active, where the pointer was, and every window
# of the program with its place and size.
describeDisplay()
{
    [ -n "${DISPLAY:-}" ] || return 0
    local focus active window pid
    focus="$(xdotool getwindowfocus 2>/dev/null)"
    active="$(xdotool getactivewindow 2>/dev/null)"
    echo "--- display: keyboard focus ${focus:-none} ($(xdotool getwindowname "$focus" 2>/dev/null)), active ${active:-none}, pointer $(xdotool getmouselocation 2>/dev/null)"
    for pid in "${pids[@]}"; do
        for window in $(xdotool search --all --pid "$pid" --name '' 2>/dev/null); do
            echo "    process $pid window $window \"$(xdotool getwindowname "$window" 2>/dev/null)\"" \
                 "$(xwininfo -id "$window" 2>/dev/null | awk '/Absolute upper-left X:/ { x = $4 } /Absolute upper-left Y:/ { y = $4 }
                     /Width:/ { w = $2 } /Height:/ { h = $2 } /Map State:/ { m = $3 } END { print x "," y, w "x" h, m }')"
        done
    done
}

fail()
{
    echo "FAIL: $*" >&2
    describeDisplay >&2
    for log in "$work"/app-*.log; do
        [ -s "$log" ] && { echo "--- $log"; cat "$log"; } >&2
    done
    exit 1
}

# Runs a command until it succeeds or the deadline (in seconds) passes.
waitFor()
{
    local deadline=$(( $(date +%s%N) + $1 * 1000000000 ))
    shift
    until "$@" >/dev/null 2>&1; do
        [ "$(date +%s%N)" -ge "$deadline" ] && return 1
        sleep 0.05
    done
}

startDisplay()
{
    # Xvfb picks a free display itself and writes its number once it accepts clients.
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
    xvfb=$!
    waitFor 10 test -s "$work/display" || fail "Xvfb did not start"
    export DISPLAY=":$(head -n 1 "$work/display")"

    openbox >/dev/null 2>&1 &
    wm=$!
    waitFor 10 wmctrl -m || fail "openbox did not start"
}

# unshare runs the program in its own place, so its process id is the program's.
isolation=()
if unshare -rn true 2>/dev/null; then
    isolation=(unshare -rn)
elif unshare -n true 2>/dev/null; then
    isolation=(unshare -n)
else
    # 77 tells the test suite that this machine cannot run the scenario at all.
    echo "SKIPPED: cannot give the program a network namespace of its own (unshare -n)" >&2
    exit 77
fi

# What the program is started through inside its namespace, if anything.
launcher=()

startApp()
{
    "${isolation[@]}" "${launcher[@]}" "$app" "$@" >"$work/app-${#pids[@]}.log" 2>&1 &
    pids+=("$!")
}

millisecondsNow()
{
    echo $(( $(date +%s%N) / 1000000 ))
}

# The mapped top-level window of a process with the given title.
windowOf()
{
    xdotool search --all --onlyvisible --pid "$1" --name "^$2\$" 2>/dev/null | head -n 1
}

hasWindow()
{
    [ -n "$(windowOf "$1" "$2")" ]
}

hasNoWindow()
{
    [ -z "$(windowOf "$1" "$2")" ]
}

# The window of that id is unmapped or gone (a single query, to time its leaving closely).
isOffScreen()
{
    ! xwininfo -id "$1" 2>/dev/null | grep -q "Map State: IsViewable"
}

# The same, or else the pointer makes a small move and back.
offScreenOrNudge()
{
    isOffScreen "$1" && return 0
    xdotool mousemove_relative -- 1 1 mousemove_relative -- -1 -1
    return 1
}

waitForWindowOf()
{
    waitFor "$windowDeadline" hasWindow "$1" "$2" || fail "no window \"$2\" of process $1"
    windowOf "$1" "$2"
}

# Sets X, Y (absolute, of the client area), WIDTH and HEIGHT of a window; returns
# non-zero for a window that is gone.
tryReadGeometry()
{
    local info
    info="$(xwininfo -id "$1" 2>/dev/null)" || return 1
    X=$(awk '/Absolute upper-left X:/ { print $4 }' <<<"$info")
    Y=$(awk '/Absolute upper-left Y:/ { print $4 }' <<<"$info")
    WIDTH=$(awk '/Width:/ { print $2 }' <<<"$info")
    HEIGHT=$(awk '/Height:/ { print $2 }' <<<"$info")
}

# The same, failing the scenario for a window that is gone.
readGeometry()
{
    tryReadGeometry "$1" || fail "window $1 is gone"
}

expectClientSize()
{
    readGeometry "$1"
    [ "$WIDTH" = 128 ] && [ "$HEIGHT" = 128 ] \
        && fail "client area kept the framework's first size, 128x128: the window manager placed the window before applying 400x162"
    [ "$WIDTH" = 400 ] && [ "$HEIGHT" = 162 ] || fail "client area is ${WIDTH}x${HEIGHT}, not 400x162"
}

screenshot()
{
    import -window root "$1" || fail "screenshot $1 failed"
}

pixel()
{
    convert "$1" -format "%[hex:p{$2,$3}]" info:
}

panelIsPainted()
{
    readGeometry "$1"
    screenshot "$work/probe-$1.png"
    [ "$(pixel "$work/probe-$1.png" $(( X + 2 )) $(( Y + 2 )))" = 383737 ]
}

# The program's main window, once it shows its panel: only then does it take input.
waitForMainWindowOf()
{
    local window
    window=$(waitForWindowOf "$1" KestrovaUpdater) || exit 1
    waitFor "$windowDeadline" panelIsPainted "$window" || fail "the panel of process $1 never appeared"
    echo "$window"
}

sizeChanged()
{
    readGeometry "$1"
    [ "$WIDTH" != 400 ] || [ "$HEIGHT" != 162 ]
}

processEnded()
{
    ! kill -0 "$1" 2>/dev/null
}

isActive()
{
    [ "$(xdotool getactivewindow)" = "$1" ]
}

# Waits for a condition that an input event should bring about: SECONDS WINDOW WHAT COMMAND...
# The framework reads X events only when its connection turns readable; an event that a
# round trip elsewhere already pulled into Xlib's queue waits there for the next one. On a
# desktop the pointer soon provides it; here nothing moves unless the test moves it. So
# when the condition has not come within 5 seconds, the pointer passes over the window once (no
# click) and the condition gets the rest of its time; a NOTE says that it was needed.
waitForInputToTakeEffect()
{
    local seconds="$1" window="$2" what="$3" before after
    shift 3
    before=$(( seconds < 5 ? seconds : 5 ))
    after=$(( seconds - before > 5 ? seconds - before : 5 ))
    waitFor "$before" "$@" && return 0
    # A window already gone has nothing queued for it: then just wait on.
    if tryReadGeometry "$window"; then
        xdotool mousemove $(( X + WIDTH / 2 )) $(( Y + HEIGHT / 2 )) \
                mousemove $(( X + WIDTH / 2 + 10 )) $(( Y + HEIGHT / 2 + 10 ))
    fi
    waitFor "$after" "$@" || return 1
    echo "NOTE: $what only once the pointer moved over window $window" >&2
}

closeAndExpectExit()
{
    local pid="$1" window="$2" status others=() p
    wmctrl -i -c "$window" || fail "the window manager could not close window $window"
    waitForInputToTakeEffect "$exitDeadline" "$window" "process $pid acted on the close" processEnded "$pid" \
        || fail "process $pid still runs after its window was closed"
    wait "$pid"
    status=$?
    for p in "${pids[@]}"; do
        [ "$p" = "$pid" ] || others+=("$p")
    done
    pids=("${others[@]}")
    [ "$status" = 0 ] || fail "process $pid exited with status $status"
}

openMidiSettings()
{
    readGeometry "$1"
    # The "MIDI Device" button, bottom left of the panel.
    xdotool mousemove $(( X + 54 )) $(( Y + 136 )) click 1
    waitForInputToTakeEffect "$windowDeadline" "$1" "\"MIDI Device\" opened its dialog" hasWindow "$2" "MIDI Settings" \
        || fail "\"MIDI Settings\" did not open"
    windowOf "$2" "MIDI Settings"
}

[ -x "$app" ] || fail "no application at $app"
mkdir -p "$out"
startDisplay

case "$scenario" in
    window)
        startApp
        pid=${pids[0]}
        window=$(waitForMainWindowOf "$pid") || exit 1
        expectClientSize "$window"

        # Fixed size: the window manager offers no resize, but keeps the three title-bar buttons.
        actions="$(xprop -id "$window" _NET_WM_ALLOWED_ACTIONS)"
        grep -q _NET_WM_ACTION_RESIZE <<<"$actions" && fail "the window manager may resize the window: $actions"
        grep -q _NET_WM_ACTION_CLOSE <<<"$actions" || fail "the window cannot be closed: $actions"
        grep -q _NET_WM_ACTION_MINIMIZE <<<"$actions" || fail "the window cannot be minimised: $actions"
        read -r _ _ flags functions decorations _ < <(xprop -id "$window" _MOTIF_WM_HINTS | tr -d ',')
        [ $(( functions & 0x2 )) = 0 ] || fail "the window offers resizing: functions $functions"
        [ $(( decorations & 0x68 )) = $(( 0x68 )) ] || fail "title bar lacks its buttons: decorations $decorations"

        # What a user would try: drag the corner with Alt and the right button, double-click the title.
        readGeometry "$window"
        xdotool mousemove $(( X + 390 )) $(( Y + 150 )) keydown alt mousedown 3 \
                mousemove $(( X + 500 )) $(( Y + 300 )) mousemove $(( X + 600 )) $(( Y + 400 )) mouseup 3 keyup alt
        xdotool mousemove $(( X + 200 )) $(( Y - 8 )) click --repeat 2 --delay 80 1
        # A refused resize leaves nothing to wait for: watch the size for a moment instead.
        waitFor 1 sizeChanged "$window" && fail "the window changed its size to ${WIDTH}x${HEIGHT}"

        shot="$out/KestrovaUpdater-window.png"
        screenshot "$shot"

        # The application-wide look-and-feel draws text buttons light ("MIDI Device", above its text).
        button="$(pixel "$shot" $(( X + 54 )) $(( Y + 124 )))"
        for channel in "${button:0:2}" "${button:2:2}" "${button:4:2}"; do
            [ $(( 16#$channel )) -ge $(( 16#b0 )) ] || fail "\"MIDI Device\" is not drawn light: #$button"
        done

        closeAndExpectExit "$pid" "$window"
        ;;

    after-midi-settings)
        startApp
        pid=${pids[0]}
        window=$(waitForMainWindowOf "$pid") || exit 1
        dialog=$(openMidiSettings "$window" "$pid") || exit 1
        screenshot "$out/KestrovaUpdater-midi-settings.png"

        waitFor 5 isActive "$dialog" || fail "\"MIDI Settings\" has no keyboard focus"
        xdotool key Escape
        waitForInputToTakeEffect 5 "$dialog" "Escape closed \"MIDI Settings\"" hasNoWindow "$pid" "MIDI Settings" \
            || fail "Escape did not close \"MIDI Settings\""

        # Usable again after the dialog: open and close it once more.
        dialog=$(openMidiSettings "$window" "$pid") || exit 1
        waitFor 5 isActive "$dialog" || fail "\"MIDI Settings\" has no keyboard focus"
        xdotool key Escape
        waitForInputToTakeEffect 5 "$dialog" "Escape closed \"MIDI Settings\" again" hasNoWindow "$pid" "MIDI Settings" \
            || fail "Escape did not close \"MIDI Settings\" again"

        closeAndExpectExit "$pid" "$window"
        ;;

    during-midi-settings)
        startApp
        pid=${pids[0]}
        window=$(waitForMainWindowOf "$pid") || exit 1
        openMidiSettings "$window" "$pid" >/dev/null || exit 1
        closeAndExpectExit "$pid" "$window"
        ;;

    two-instances)
        startApp
        first=${pids[0]}
        firstWindow=$(waitForMainWindowOf "$first") || exit 1
        startApp --unknown-option "$work/no-such-file.syx"
        second=${pids[1]}
        secondWindow=$(waitForMainWindowOf "$second") || exit 1
        expectClientSize "$secondWindow"

        closeAndExpectExit "$second" "$secondWindow"
        kill -0 "$first" 2>/dev/null || fail "the first copy ended with the second"
        expectClientSize "$firstWindow"
        closeAndExpectExit "$first" "$firstWindow"
        ;;

    after-file-chooser)
        startApp
        pid=${pids[0]}
        window=$(waitForMainWindowOf "$pid") || exit 1
        readGeometry "$window"
        # "Local File", then "Browse", which only that mode shows.
        xdotool mousemove $(( X + 270 )) $(( Y + 20 )) click 1
        xdotool mousemove $(( X + 334 )) $(( Y + 72 )) click 1
        title="Please select the sysex firmware file to load..."
        waitForInputToTakeEffect "$windowDeadline" "$window" "\"Browse\" opened its chooser" hasWindow "$pid" "$title" \
            || fail "\"Browse\" opened no file chooser"
        chooser=$(windowOf "$pid" "$title")
        screenshot "$out/KestrovaUpdater-file-chooser.png"
        waitFor 5 isActive "$chooser" || fail "the file chooser has no keyboard focus"
        xdotool key Escape
        waitForInputToTakeEffect 5 "$chooser" "Escape closed the file chooser" hasNoWindow "$pid" "$title" \
            || fail "Escape did not close the file chooser"

        closeAndExpectExit "$pid" "$window"
        ;;

    close-while-service-stalls)
        [ -x "$stalledService" ] && [ -n "$stalledPort" ] || fail "no stalled service given"
        # Each copy's namespace gets its own listener, which then becomes the program.
        launcher=("$stalledService" "$stalledPort")
        requestTimeout=30     # seconds: Cloud::Interface::requestTimeoutMs
        unmapDeadline=1       # seconds from the close until the window has left the screen
        stalledExitDeadline=35

        # Two copies: the second, whose window lies over the first one's (so that the pointer
        # below reaches it), is closed while its first request is out; the first waits for its
        # list request to give up.
        startApp
        lister=${pids[0]}
        listerWindow=$(waitForMainWindowOf "$lister") || exit 1
        startApp
        quitter=${pids[1]}
        quitterWindow=$(waitForMainWindowOf "$quitter") || exit 1

        grep -q "Error fetching updates" "$work/app-1.log" && fail "the request of process $quitter ended before its window was closed"
        readGeometry "$quitterWindow"
        closed=$(millisecondsNow)
        wmctrl -i -c "$quitterWindow" || fail "the window manager could not close window $quitterWindow"
        # The pointer of a user who has just clicked the close button moves on; each small move
        # hands the framework any event that a round trip left in Xlib's queue (one move made
        # right after the close can come before the close has reached that queue).
        xdotool mousemove $(( X + WIDTH / 2 )) $(( Y + HEIGHT / 2 ))
        waitFor "$unmapDeadline" offScreenOrNudge "$quitterWindow" \
            || fail "the closed window is still on screen ${unmapDeadline}s after the close"
        unmapped=$(millisecondsNow)

        waitFor "$stalledExitDeadline" processEnded "$quitter" \
            || fail "process $quitter still runs ${stalledExitDeadline}s after its window was closed"
        ended=$(millisecondsNow)
        wait "$quitter"
        status=$?
        pids=("$lister")
        [ "$status" = 0 ] || fail "process $quitter exited with status $status"
        echo "NOTE: from the close, window off screen after $(( unmapped - closed )) ms, process ended after $(( ended - closed )) ms"

        # The first copy's list request gives up within the time-out, and the program goes on.
        waitFor $(( requestTimeout + 5 )) grep -q "^Error fetching updates - Could not authenticate server$" "$work/app-0.log" \
            || fail "the list request of process $lister did not end as a failed authentication"
        expectClientSize "$listerWindow"
        closeAndExpectExit "$lister" "$listerWindow"
        ;;

    *)
        fail "unknown scenario $scenario"
        ;;
esac

echo "PASS: $scenario"
