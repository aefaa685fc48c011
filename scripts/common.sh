# shellcheck shell=bash
# Sourced, not run, by the project's scripts: the one CMake configure line, the
# sources a release takes and their quiet build, the Wine environment and a new
# prefix, the locales of code pages 936 and 65001, and a private X display that the script
# which starts it also stops. Everything a script registers with orvane_at_exit
# runs when it exits, the last registered first.

orvane_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

orvane_exit_actions=()
orvane_run_exit_actions() {
  local action
  for action in "${orvane_exit_actions[@]}"; do
    eval "$action" 2>/dev/null || true
  done
}
# orvane_at_exit COMMAND [ARGS...]: runs COMMAND with its ARGS, quietly, when
# the script exits, before whatever was registered earlier (a wineserver goes
# before its display). Each word is kept as given (printf %q), so a path may
# hold quotes and blanks.
orvane_at_exit() {
  local action
  printf -v action '%q ' "$@"
  orvane_exit_actions=("$action" "${orvane_exit_actions[@]}")
  trap orvane_run_exit_actions EXIT
}

# orvane_configure SOURCE_DIR BUILD_DIR [CMAKE_ARGS...]: the cross build's
# configure line, with the toolchain file of that source tree when the folder
# is configured afresh (CMake reads it only then, and warns of it unused after).
orvane_configure() {
  local source="$1" build="$2" toolchain=()
  shift 2
  [ -f "$build/CMakeCache.txt" ] || toolchain=(-DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-i686.cmake")
  cmake -S "$source" -B "$build" -G Ninja "${toolchain[@]}" "$@"
}

# orvane_release_options CALLER ARGS...: reads scripts/release's options (its
# header lists them), for it and for scripts/windows-kit, which passes them on:
# sets pfx, timestamp, out (absolute; CALLER is the folder relative paths start
# from; dist/ of the project by default) and working_tree (0 or 1). A wrong
# option ends the script through its die; --help prints the script's header.
orvane_release_options() {
  local caller="$1"
  shift
  absolute() { case "$1" in /*) printf '%s' "$1" ;; *) printf '%s/%s' "$caller" "$1" ;; esac }
  pfx="" timestamp="" out="" working_tree=0
  while [ $# -gt 0 ]; do
    case "$1" in
      --sign)
        [ $# -ge 2 ] || die "--sign needs a .pfx file"
        pfx="$(absolute "$2")"
        shift 2
        ;;
      --timestamp)
        [ $# -ge 2 ] || die "--timestamp needs a URL"
        timestamp="$2"
        shift 2
        ;;
      --out)
        [ $# -ge 2 ] || die "--out needs a folder"
        out="$(absolute "$2")"
        shift 2
        ;;
      --working-tree)
        working_tree=1
        shift
        ;;
      -h | --help)
        sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"
        exit 0
        ;;
      *) die "unknown argument '$1' ($0 --help lists them)" ;;
    esac
  done
  [ -z "$timestamp" ] || [ -n "$pfx" ] || die "--timestamp goes with --sign"
  [ "$working_tree" -eq 0 ] || [ -n "$out" ] ||
    die "--working-tree needs --out: dist/ only ever holds builds of a commit"
  [ -n "$out" ] || out="$orvane_root/dist"
}

# orvane_build_quietly WORK "TARGETS" [CMAKE_ARGS...]: configures the sources in
# WORK/src into WORK/build and builds TARGETS there, the output kept in
# WORK/build.log and shown on standard error only when the build fails, which
# returns nonzero.
orvane_build_quietly() {
  local work="$1" targets
  read -ra targets <<<"$2"
  shift 2
  if ! {
    orvane_configure "$work/src" "$work/build" "$@" &&
      cmake --build "$work/build" --target "${targets[@]}"
  } >"$work/build.log" 2>&1; then
    cat "$work/build.log" >&2
    return 1
  fi
}

# orvane_export_tree DEST WORKING_TREE: the files a build from this checkout
# takes, copied into the folder DEST: HEAD as committed when WORKING_TREE is 0,
# else the work tree's tracked files still there and new files not ignored.
orvane_export_tree() {
  if [ "$2" -eq 0 ]; then
    git archive --format=tar HEAD | tar -x -C "$1"
  else
    git ls-files -z --cached --others --exclude-standard |
      while IFS= read -r -d '' file; do [ ! -e "$file" ] || printf '%s\0' "$file"; done |
      tar --null -T - -cf - | tar -x -C "$1"
  fi
}

# orvane_wine_env PREFIX [ARCH]: exports the Wine environment of every run: a
# 64-bit prefix unless ARCH says win32 (32-bit programs then run under WoW64,
# as on 64-bit Windows), no debug output, no prompts for Mono or Gecko, and
# `wine` the loader of the prefix's architecture (scripts/loader/wine).
orvane_wine_env() {
  export WINEPREFIX="$1" WINEARCH="${2:-win64}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  case ":$PATH:" in *":$orvane_root/scripts/loader:"*) ;; *) export PATH="$orvane_root/scripts/loader:$PATH" ;; esac
}

# orvane_boot_prefix [RUNNER...]: creates the prefix that WINEPREFIX names
# (orvane_wine_env), each command started through RUNNER when given. Its
# windows are unmanaged: without a window manager they close at once instead
# of after about 2 s.
orvane_boot_prefix() {
  "$@" wine wineboot -i >/dev/null 2>&1
  "$@" wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
}

# orvane_code_page_locale BUILD_DIR CODE_PAGE: makes the Linux locale under
# which Wine's ANSI code page is CODE_PAGE in BUILD_DIR/locale, and sets
# orvane_in_locale to the command prefix that runs a program in it. 936:
# zh_CN.UTF-8. 65001 (UTF-8): hi_IN.UTF-8, a locale for which Windows has no
# legacy code page, so Wine gives it UTF-8 for ANSI and OEM alike (Wine
# ignores the registry's Nls\CodePage\ACP). The locale is given to the
# programs started, never exported here: this shell would not see LOCPATH,
# and would complain that it cannot set LC_ALL.
orvane_code_page_locale() {
  local locales="$1/locale" name
  case "$2" in
    936) name=zh_CN.UTF-8 ;;
    65001) name=hi_IN.UTF-8 ;;
    *) echo "orvane_code_page_locale: no locale for code page $2" >&2 && return 1 ;;
  esac
  if [ ! -d "$locales/$name" ]; then
    mkdir -p "$locales"
    localedef -i "${name%%.*}" -f UTF-8 "$locales/$name" 2>/dev/null || true
  fi
  # shellcheck disable=SC2034 # read by the scripts that source this
  orvane_in_locale=(env LOCPATH="$locales" LC_ALL="$name" LANG="$name")
}

# orvane_stop_servers WINE_RUN: stops the wineservers of the prefixes that
# WINE_RUN (a build's wine-run) runs programs in, one for each code page.
orvane_stop_servers() {
  local option
  for option in "" --cp936 --cp65001; do
    "$1" ${option:+"$option"} wineserver -k 2>/dev/null || true
  done
}

# orvane_start_display [SCREEN]: starts an Xvfb on a display number it picks
# itself (-displayfd: free, whoever else runs one), exports DISPLAY, and stops
# that Xvfb when the script exits. The server is ready once it names its number.
orvane_xvfb_pid=""
orvane_start_display() {
  local screen="${1:-1024x768x24}" named number
  named="$(mktemp "${TMPDIR:-/tmp}/orvane-display.XXXXXX")"
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp 3>"$named" >/dev/null 2>&1 &
  orvane_xvfb_pid=$!
  orvane_at_exit kill "$orvane_xvfb_pid"
  for _ in $(seq 100); do
    [ -s "$named" ] && break
    kill -0 "$orvane_xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  number="$(tr -dc 0-9 <"$named")"
  rm -f "$named"
  if [ -z "$number" ]; then
    echo "$(basename "$0"): Xvfb did not start" >&2
    return 1
  fi
  export DISPLAY=":$number"
}

# orvane_need_display [SCREEN]: keeps the DISPLAY given, or starts a private one.
orvane_need_display() {
  [ -n "${DISPLAY:-}" ] || orvane_start_display "$@"
}
