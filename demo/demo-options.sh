# The demo's options, as ./run and demo/run-demo.sh both take them: their
# usage lines and their reading, with bash builtins only (./run reads them
# before it installs or builds anything). Sourced after scripts/messages.sh.
#   Print_Demo_Options       the options' usage lines
#   Read_Demo_Options ARG... sets Fast (0 or 1), Headless (empty or the
#                            seconds) and Capture (empty for the bundled
#                            sample, else its absolute path); Usage_Error on
#                            anything else

# The longest headless run; the demo program (demo/CMakeLists.txt reads it
# from here) refuses more too.
readonly Headless_Max_Seconds=86400
readonly Headless_Default_Seconds=12 # without a display

Print_Demo_Options() {
  printf '%s\n' \
    "  CAPTURE.ts          a transport stream file, relative to the current folder" \
    "                      (default: the bundled sample)" \
    "  --fast              16 times the normal pace (4000 packets a second)" \
    "  --headless SECONDS  no window to wait for: walk through the portal window, play until" \
    "                      SECONDS (1 to $Headless_Max_Seconds) have passed and write" \
    "                      demo-screenshot.png in the build folder (the default, for" \
    "                      $Headless_Default_Seconds seconds, when there is no display)" \
    "  --                  take the next argument as CAPTURE.ts even if it starts with '-'"
}

Read_Demo_Options() {
  Fast=0 Headless='' Capture=''
  local options_done=0
  while (($# > 0)); do
    if ((options_done == 0)); then
      case $1 in
      --fast) Fast=1; shift; continue ;;
      --headless)
        (($# >= 2)) || Usage_Error "--headless needs a value: SECONDS"
        if ! [[ $2 =~ ^[0-9]{1,9}$ ]] || ((10#$2 < 1 || 10#$2 > Headless_Max_Seconds)); then
          Usage_Error "--headless: not a whole number of seconds from 1 to $Headless_Max_Seconds: '$2'"
        fi
        Headless=$((10#$2))
        shift 2
        continue
        ;;
      --) options_done=1; shift; continue ;;
      -*) Usage_Error "unknown option '$1'" ;;
      esac
    fi
    [[ -z $Capture ]] || Usage_Error "unexpected argument '$1' (one capture at most)"
    [[ -n $1 ]] || Usage_Error "empty capture name"
    [[ -e $1 ]] || Usage_Error "no such capture: '$1'"
    [[ ! -d $1 ]] || Usage_Error "'$1' is a directory, not a capture"
    # Made absolute: the demo runs in a folder of its own.
    Capture=$1
    [[ $Capture == /* ]] || Capture=$PWD/$Capture
    shift
  done
}
