#!/usr/bin/env bats
# scripts/setup against stand-ins, as bats-core tests (scripts/lint runs them:
# bats scripts/setup.bats). Each test runs it
# with nothing on PATH but stand-ins for id, sudo, dpkg-query, dpkg, apt-get,
# npm, mount and tee, which answer as the row says, and a few plain tools, with
# a stand-in for scripts/arch32's i386 program and a binfmt_misc folder of the
# row's own; it checks the calls that would change the machine or run the
# i386 program, in order, the exit code, the message and what was registered.
# Nothing real is installed or asked, as root or not: setup finds no other
# apt-get, npm, dpkg, mount or tee, and the stand-in id makes it use the
# stand-in sudo.

setup_file() {
  work="$(mktemp -d "${TMPDIR:-/tmp}/orvane-setup-test.XXXXXX")"
  export work
  mkdir "$work/tools"
  for tool in bash env grep ln; do
    ln -s "$(command -v "$tool")" "$work/tools/$tool"
  done

  # The one stand-in, named by the command it stands for. The row's state is in
  # $work: have (what the machine has: packages, validator, npm), x86 (how it
  # runs i386 programs), binfmt (its binfmt_misc folder), answers.NAME (one
  # answer a line, taken by each call of NAME) and calls (the log).
  cat >"$work/standin" <<EOF
#!$BASH
work='$work'
EOF
  cat >>"$work/standin" <<'EOF'
name="${0##*/}"
read -r have <"$work/have"
answer() {
  local answers=()
  mapfile -t answers <"$work/answers.$name"
  printf '%s\n' "${answers[@]:1}" >"$work/answers.$name"
  printf '%s' "${answers[0]:-none}"
}
say() { while IFS= read -r line; do printf '%s\n' "$line"; done; }
log() { printf '%s%s\n' "${SUDO_USER:+sudo }" "$name${*:+ $*}" >>"$work/calls"; }
case "$name" in
  id) echo 1000 ;;
  # Like sudo's env_reset: only what env sets on its command line gets through.
  sudo) exec env -i PATH="$PATH" SUDO_USER=tester "$@" ;;
  dpkg-query)
    [[ " $have " == *" packages "* ]] || exit 1
    printf 'install ok installed' ;;
  dpkg)
    # A fresh machine of the row's architecture: no foreign one yet.
    case "$1" in
      --print-architecture) read -r arch <"$work/arch" && echo "$arch" ;;
      --print-foreign-architectures) ;;
      *) log "$@" ;;
    esac ;;
  apt-get)
    log "$@"
    if [ "$1" = install ] && [ "${DEBIAN_FRONTEND:-}" != noninteractive ]; then
      echo "stand-in: an install that may ask questions"
      exit 100
    fi
    case "$1 $(answer)" in
      "update ok") echo "Hit:1 http://deb.debian.org/debian bookworm InRelease" ;;
      "update mirror")
        say <<'OUT'
Get:1 http://deb.debian.org/debian bookworm InRelease [151 kB]
Get:2 http://deb.debian.org/debian-security bookworm-security InRelease [34.8 kB]
Ign:3 http://deb.debian.org/debian-security bookworm-security/main i386 Packages
Get:3 http://deb.debian.org/debian-security bookworm-security/main i386 Packages [376 kB]
Err:3 http://deb.debian.org/debian-security bookworm-security/main i386 Packages
  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]
Reading package lists...
E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]
   Hashes of expected file:
    - Filesize:376004 [weak]
E: Some index files failed to download. They have been ignored, or old ones used instead.
OUT
        exit 100 ;;
      # apt takes a network it cannot reach for a passing trouble: a warning,
      # exit 0. A download that started (Get) can still fail (Err).
      "update offline")
        say <<'OUT'
Ign:1 http://deb.debian.org/debian bookworm InRelease
Err:1 http://deb.debian.org/debian bookworm InRelease
  Temporary failure resolving 'deb.debian.org'
Get:2 http://deb.debian.org/debian-security bookworm-security InRelease
Err:2 http://deb.debian.org/debian-security bookworm-security InRelease
  Connection timed out [IP: 203.0.113.80 80]
W: Failed to fetch http://deb.debian.org/debian/dists/bookworm/InRelease  Temporary failure resolving 'deb.debian.org'
W: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/InRelease  Connection timed out [IP: 203.0.113.80 80]
W: Some index files failed to download. They have been ignored, or old ones used instead.
OUT
        ;;
      "install ok")
        [[ " $* " != *" npm "* ]] || ln -s "$work/standin" "$work/bin/npm"
        [[ " $* " != *" qemu-user-static "* ]] || ln -s "$work/standin" "$work/bin/qemu-i386-static" ;;
      "install held")
        say <<'OUT'
The following packages have unmet dependencies:
 libssl3:i386 : Depends: libc6:i386 (>= 2.34) but it is not going to be installed
E: Unable to correct problems, you have held broken packages.
OUT
        exit 100 ;;
      "install unknown")
        echo "E: Unable to locate package osslsigncode"
        exit 100 ;;
      *) echo "stand-in: no answer for apt-get $*"; exit 99 ;;
    esac ;;
  npm)
    log "$@"
    case "$(answer)" in
      ok) echo "added 1 package in 1s" ;;
      refused)
        say <<'OUT'
npm error code ECONNRESET
npm error syscall read
npm error errno ECONNRESET
npm error network request to https://registry.npmjs.org/@action-validator%2fcli failed, reason: read ECONNRESET
npm error network This is a problem related to network connectivity.
OUT
        exit 1 ;;
      *) echo "stand-in: no answer for npm $*"; exit 99 ;;
    esac ;;
  probe32)
    log
    read -r x86 <"$work/x86"
    state=""
    [ ! -f "$work/binfmt/qemu-i386" ] || read -r state <"$work/binfmt/qemu-i386"
    [ "$x86" = native ] || { [ "$x86" = none ] && [ "$state" = enabled ]; } || exit 126 ;;
  mount)
    log "$@"
    : >"$4/register"
    echo enabled >"$4/status" ;;
  tee)
    # The kernel's side too: a written registration is kept in register, for
    # the row to read, and the entry it names appears, enabled.
    # An entry's file takes 1 to enable it.
    log "$@"
    IFS= read -r -d '' text
    if [ "${1##*/}" = register ]; then
      printf '%s' "$text" >"$1"
      IFS=: read -r _ entry _ _ _ _ interpreter flags <<<"$text"
      printf 'enabled\ninterpreter %s\nflags: %s\n' "$interpreter" "$flags" >"$work/binfmt/$entry"
    elif [ "$text" = 1 ]; then
      mapfile -t lines <"$1"
      printf '%s\n' enabled "${lines[@]:1}" >"$1"
    fi ;;
esac
EOF
  chmod +x "$work/standin"
  ln -s "$work/standin" "$work/probe32"

  # row NAME HAVE CODENAME APT NPM EXIT CALLS OUTPUT [X86 REGISTER]: setup on a
  # machine that has HAVE (packages, validator, npm), whose os-release names
  # CODENAME, where apt-get and npm give the answers APT and NPM, call by call,
  # and that runs i386 programs as X86 says: natively (native, the default), once
  # a qemu-i386 entry is enabled in binfmt_misc, not mounted yet (none), or not
  # even then (broken); "none enabled" and "none disabled" have binfmt_misc
  # mounted with such an entry for qemu-i386-static already. It must exit with
  # EXIT after the calls CALLS (one glob a line), its output matching OUTPUT,
  # having written REGISTER (exactly) to binfmt_misc's register file. The
  # machine's architecture is $machine (amd64 unless the test says), and setup
  # runs with the variables of $environment besides.
}

teardown_file() {
  rm -rf "$work"
}

setup() {
  bats_load_library bats-support
  root="$(cd "$BATS_TEST_DIRNAME/.." && pwd)"
  all="wine32:i386 * osslsigncode openssl locales clang-format cppcheck shellcheck bats bats-support bats-assert g++ make g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev"
  add_i386="sudo dpkg --add-architecture i386"
  update="sudo apt-get update -q"
  install="sudo apt-get install -y -qq --no-install-recommends"
  npm_install="sudo npm install --global --no-fund --no-audit --loglevel=error @action-validator/cli@0.6.0"
  probe=probe32
  machine=amd64
  environment=()
  native="setup: 32-bit x86 programs run natively: Wine's 32-bit side runs as it is"
  qemu="$work/bin/qemu-i386-static"
  register=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F'
  emulation="$probe
$add_i386
$update
$install *$all qemu-user-static
sudo mount -t binfmt_misc binfmt_misc $work/binfmt
sudo tee $work/binfmt/register
$probe"
}

row() {
  local have="$1" codename="$2" apt_answers="$3" npm_answers="$4"
  local want_rc="$5" want_calls="$6" want_output="$7" x86 entry want_register="${9:-}"
  read -r x86 entry <<<"${8:-native}"
  local setup_args=()
  read -ra setup_args <<<"${10:-}"
  local rc=0 output command commands calls=() wanted=() wrong=() i register=""
  rm -rf "${work:?}/bin" "$work/calls"
  mkdir "$work/bin"
  read -ra commands <<<"id sudo dpkg-query dpkg apt-get mount tee $have"
  for command in "${commands[@]}"; do
    case "$command" in packages) ;; validator) command=action-validator ;& *) ln -s "$work/standin" "$work/bin/$command" ;; esac
  done
  printf '%s\n' "$have" >"$work/have"
  printf '%s\n' "${apt_answers// /$'\n'}" >"$work/answers.apt-get"
  printf '%s\n' "${npm_answers// /$'\n'}" >"$work/answers.npm"
  printf 'ID=debian\nVERSION_ID="12"\nVERSION_CODENAME=%s\n' "$codename" >"$work/os-release"
  printf '%s\n' "$x86" >"$work/x86"
  printf '%s\n' "$machine" >"$work/arch"
  rm -rf "$work/binfmt"
  mkdir "$work/binfmt"
  if [ "$x86" = native ] || [ -n "$entry" ]; then
    : >"$work/binfmt/register"
    echo enabled >"$work/binfmt/status"
  fi
  [ -z "$entry" ] || printf '%s\ninterpreter %s\nflags: F\n' "$entry" "$qemu" >"$work/binfmt/qemu-i386"
  touch "$work/calls"

  output="$(env -i PATH="$work/bin:$work/tools" ORVANE_OS_RELEASE="$work/os-release" \
    ORVANE_BINFMT_DIR="$work/binfmt" ORVANE_PROBE32="$work/probe32" "${environment[@]}" \
    "$root/scripts/setup" "${setup_args[@]}" 2>&1)" || rc=$?
  mapfile -t calls <"$work/calls"
  [ ! -f "$work/binfmt/register" ] || IFS= read -r -d '' register <"$work/binfmt/register" || true
  [ -z "$want_calls" ] || mapfile -t wanted <<<"$want_calls"

  [ "$rc" = "$want_rc" ] || wrong+=("exit code $rc, not $want_rc")
  if [ ${#calls[@]} -ne ${#wanted[@]} ]; then
    wrong+=("${#calls[@]} calls, not ${#wanted[@]}")
  else
    for i in "${!wanted[@]}"; do
      # shellcheck disable=SC2053 # the wanted call is a glob
      [[ ${calls[i]} == ${wanted[i]} ]] || wrong+=("call $((i + 1)) does not match: ${wanted[i]}")
    done
  fi
  # shellcheck disable=SC2053
  [[ $output == $want_output ]] || wrong+=("the output does not match: $want_output")
  [ "$register" = "$want_register" ] || wrong+=("binfmt_misc's register got '$register', not '$want_register'")

  if [ ${#wrong[@]} -gt 0 ]; then
    echo "exit $rc" >&2
    [ ${#calls[@]} -eq 0 ] || printf 'call: %s\n' "${calls[@]}" | cut -c1-150 >&2
    [ -z "$output" ] || printf '| %s\n' "${output//$'\n'/$'\n'| }" >&2
    fail "$(printf '%s\n' "${wrong[@]}")"
  fi
}

@test "a mirror mid-sync: one index fails, the install is refused, then accepted preferring bookworm's own" {
  row "validator npm" bookworm "mirror held ok" "" 0 \
  "$probe
$add_i386
$update
$install *$all
sudo apt-get install -t bookworm -y -qq --no-install-recommends *$all" \
  "*going on without the package indices that apt-get update could not download:*bookworm-security/main/binary-i386/Packages.xz (File has unexpected size*Mirror sync in progress?*once more preferring bookworm's own versions (-t bookworm)"
}

@test "both installs refused: stops, naming the cause (the suite from a quoted os-release value)" {
  row "validator npm" '"trixie"' "mirror held held" "" 1 \
  "$probe
$add_i386
$update
$install *$all
sudo apt-get install -t trixie -y -qq --no-install-recommends *$all" \
  "*setup: apt-get could not install the packages, neither as the indices resolve nor with -t trixie (exit 100): E: Unable to correct problems, you have held broken packages.; an index did not download (above): try again once the mirror has synced"
}

@test "everything there, 32-bit programs run natively: no apt-get, no npm, no qemu, one line" {
  row "packages validator npm" bookworm "" "" 0 "$probe" "$native"
}

@test "a package apt does not know: stops at once, naming it" {
  row "validator npm" bookworm "ok unknown" "" 1 \
  "$probe
$add_i386
$update
$install *$all" \
  "*setup: no such package in the machine's apt sources: E: Unable to locate package osslsigncode"
}

@test "no network: no index downloads, and no install is tried" {
  row "validator npm" bookworm "offline" "" 1 \
  "$probe
$add_i386
$update" \
  "*Temporary failure resolving*setup: apt-get update downloaded no package index at all (above): is the machine on the network?"
}

@test "no npm: Debian's through the same update and install, then npm's download refused once" {
  row "packages" bookworm "mirror ok" "refused ok" 0 \
  "$probe
$update
$install npm
$npm_install
$npm_install" \
  "$native
setup: installing npm*going on without the package indices*Packages.xz*npm failed (ECONNRESET: network request to *); once more"
}

@test "npm's download refused twice: stops, naming the cause" {
  row "packages npm" bookworm "ok" "refused refused" 1 \
  "$probe
$npm_install
$npm_install" \
  "*setup: npm could not install @action-validator/cli@0.6.0, twice: ECONNRESET: network request to https://registry.npmjs.org/@action-validator%2fcli failed, reason: read ECONNRESET"
}

@test "32-bit programs run natively: the packages installed without qemu-user-static, nothing registered, one line" {
  row "validator npm" bookworm "ok ok" "" 0 \
  "$probe
$add_i386
$update
$install *$all" \
  "$native
setup: installing *$all"
}

@test "no 32-bit programs run: qemu-user-static installed with the rest, binfmt_misc mounted, i386 registered, and they run" {
  row "validator npm" bookworm "ok ok" "" 0 "$emulation" \
  "setup: installing *qemu-user-static
setup: this machine runs no 32-bit x86 code itself: binfmt_misc mounted on $work/binfmt, $qemu registered for i386 programs, so Wine's 32-bit side runs under emulation (about a minute each time a 32-bit program starts)" \
  none "$register"
}

@test "no 32-bit programs run, not even once qemu-i386 is registered: stops, naming it" {
  row "validator npm" bookworm "ok ok" "" 1 "$emulation" \
  "setup: installing *
setup: 32-bit x86 programs still do not run (binfmt_misc mounted on $work/binfmt, $qemu registered for i386 programs; the entry: $work/binfmt/qemu-i386): Wine's 32-bit side cannot run here" \
  broken "$register"
}

@test "what building and running needs (the demo's): no analysis tools, no locales, no npm" {
  row "" bookworm "ok ok" "" 0 \
  "$probe
$add_i386
$update
$install *wine32:i386 * osslsigncode openssl" \
  "$native
setup: installing *openssl" native "" build
}

@test "ORVANE_32BIT=emulated where 32-bit programs run natively: qemu-user-static installed, i386 registered, and they run through it" {
  environment=(ORVANE_32BIT=emulated)
  row "validator npm" bookworm "ok ok" "" 0 \
  "$probe
$add_i386
$update
$install *$all qemu-user-static
sudo tee $work/binfmt/register
$probe" \
  "setup: installing *qemu-user-static
setup: 32-bit x86 code runs natively here, but ORVANE_32BIT=emulated: $qemu registered for i386 programs, so Wine's 32-bit side runs under emulation (about a minute each time a 32-bit program starts)" \
  native "$register"
}

@test "qemu-i386 registered already (an earlier set-up since the boot): nothing installed or registered, one line" {
  row "packages validator npm" bookworm "" "" 0 "$probe" \
  "setup: 32-bit x86 programs run under qemu-i386, registered already: Wine's 32-bit side runs under emulation (about a minute each time a 32-bit program starts)" \
  "none enabled"
}

@test "a disabled qemu-i386 entry: enabled again, not registered twice, and 32-bit programs run" {
  row "packages validator npm qemu-i386-static" bookworm "" "" 0 \
  "$probe
sudo tee $work/binfmt/qemu-i386
$probe" \
  "setup: this machine runs no 32-bit x86 code itself: the disabled qemu-i386 entry enabled, so Wine's 32-bit side runs under emulation (about a minute each time a 32-bit program starts)" \
  "none disabled"
}

@test "an arm64 machine: one line saying the suite cannot run here, before anything is probed or installed" {
  machine=arm64
  row "validator npm" bookworm "ok ok" "" 1 "" \
  "setup: this machine is arm64, not x86-64 (amd64): * so the suite cannot run here; nothing was installed"
}
