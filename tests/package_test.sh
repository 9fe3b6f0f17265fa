#!/usr/bin/env bash
# Makes the Debian package from a build tree (game-501-server and game-501
# built) and checks it as a club would get it: what it holds, lintian, the
# hardening of its programs, the unit, and the unpacked server answering
# from its own pages.
#   tests/package_test.sh [BUILD_DIR]   (default: build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}

fail() {
  printf 'package test: %s\n' "$*" >&2
  exit 1
}

version=$(sed -n 's/^project(game501 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=$build/package/game501-server_${version}_amd64.deb
rm -rf "$build/package"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$build/package" >"$build/cpack.log" 2>&1 ||
  fail "cpack: $(cat "$build/cpack.log")"
[[ -f $deb ]] || fail "no $deb"

work=$(mktemp -d)
server=
cleanup() {
  if [[ -n $server ]]; then kill "$server" 2>/dev/null || true; fi
  rm -rf -- "$work"
}
trap cleanup EXIT

# What the package says of itself, and what it holds: the club's files and
# none of the developer's.
[[ $(dpkg-deb --field "$deb" Package Version Architecture) == \
  $'Package: game501-server\nVersion: '"$version"$'\nArchitecture: amd64' ]] ||
  fail "control fields: $(dpkg-deb --field "$deb" Package Version Architecture)"
depends=$(dpkg-deb --field "$deb" Depends)
for library in libc6 libsqlite3-0 libstdc++6; do
  [[ $depends == *"$library "* ]] || fail "Depends lacks $library: $depends"
done
[[ $(dpkg-deb --info "$deb" conffiles) == /etc/default/game501-server ]] || fail "conffiles"
dpkg-deb --info "$deb" postinst | grep -q 'deb-systemd-helper enable' || fail "postinst enables nothing"
contents=$(dpkg-deb --contents "$deb" | awk '{print $NF}')
for path in /usr/bin/game-501-server /usr/bin/game-501 /usr/share/game501/web/index.html \
  /usr/share/game501/web/board.html /lib/systemd/system/game501-server.service \
  /etc/default/game501-server /usr/share/man/man1/game-501-server.1.gz \
  /usr/share/man/man1/game-501.1.gz /usr/share/doc/game501-server/copyright \
  /usr/share/doc/game501-server/changelog.gz; do
  grep -qx "\.$path" <<<"$contents" || fail "missing $path"
done
if grep -E '/include/|/cmake/|\.a$|game-501-tests' <<<"$contents"; then
  fail "developer files in the package"
fi

lintian --fail-on error,warning "$deb" || fail "lintian"

unpacked=$work/root
dpkg -x "$deb" "$unpacked"

# Both programs hardened: position independent, every relocation resolved at
# start and read-only after, a stack protector, and libc calls checked
# (fortified: __memcpy_chk and the like).
for program in game-501-server game-501; do
  binary=$unpacked/usr/bin/$program
  readelf -hW "$binary" | grep -q 'Type: *DYN' || fail "$program is not position independent"
  dynamic=$(readelf -dW "$binary")
  grep -q '(FLAGS) *BIND_NOW' <<<"$dynamic" || fail "$program: no BIND_NOW"
  grep -q '(FLAGS_1) *Flags: NOW PIE' <<<"$dynamic" || fail "$program: not NOW and PIE"
  readelf -lW "$binary" | grep -q GNU_RELRO || fail "$program: no RELRO"
  symbols=$(readelf --dyn-syms -W "$binary")
  grep -q ' __stack_chk_fail' <<<"$symbols" || fail "$program: no stack protector"
  grep -Eq ' __[a-z]+_chk(@|$)' <<<"$symbols" || fail "$program: no fortified function"
done
[[ $(zcat "$unpacked/usr/share/doc/game501-server/changelog.gz" | sed -n '1s/.*(\(.*\)).*/\1/p') == \
  "$version" ]] || fail "the changelog's last entry is not version $version"

# The unit as installed, but starting the unpacked program, since a build
# machine has no /usr/bin/game-501-server; its manual page is looked up in
# the package. verify only warns about a setting it cannot read, so any
# output fails.
mkdir "$work/unit"
sed "s#^ExecStart=/usr/bin/#ExecStart=$unpacked/usr/bin/#" \
  "$unpacked/lib/systemd/system/game501-server.service" >"$work/unit/game501-server.service"
grep -q "^ExecStart=$unpacked/usr/bin/game-501-server --data /var/lib/game501/game501.db " \
  "$work/unit/game501-server.service" || fail "ExecStart"
verify=$(MANPATH=$unpacked/usr/share/man systemd-analyze verify "$work/unit/game501-server.service" 2>&1) ||
  fail "systemd-analyze verify: $verify"
[[ -z $verify ]] || fail "systemd-analyze verify: $verify"
# The score is coarse and DynamicUser implies some settings, so the ones
# the service must keep on its own account are named too.
systemd-analyze security --offline=yes --threshold=10 "$work/unit/game501-server.service" >"$work/security" ||
  fail "exposure above 1.0: $(tail -n 1 "$work/security")"
echo "systemd-analyze security: $(grep -o 'Overall exposure level.*' "$work/security")"
for setting in DynamicUser=yes StateDirectory=game501 Restart=on-failure ProtectSystem=strict \
  ProtectHome=yes PrivateTmp=yes NoNewPrivileges=yes 'RestrictAddressFamilies=AF_INET AF_INET6' \
  EnvironmentFile=-/etc/default/game501-server \
  'Environment=GAME501_LISTEN=127.0.0.1:8501 GAME501_BOARDS=1' \
  Environment=GAME501_CONNECTIONS_PER_ADDRESS=64 LimitCORE=0 TasksMax=64 MemoryHigh=512M \
  MemoryMax=1G PrivateIPC=yes IPAddressDeny=any; do
  grep -qx "$setting" "$work/unit/game501-server.service" || fail "the unit lacks $setting"
done

# Every option of --help is in the manual page and in the options table of
# the program's page in docs/.
options() { grep -o -- '--[a-z][a-z-]*' | sort -u; }
page_options() { zcat "$1" | sed '/^\.SH EXIT/q; s/\\-/-/g' | options; }
check_options() {
  local program=$1 doc=$2 help_options option
  help_options=$("$unpacked/usr/bin/$program" --help | options)
  [[ $(page_options "$unpacked/usr/share/man/man1/$program.1.gz") == "$help_options" ]] ||
    fail "$program(1) and --help name different options"
  for option in $help_options; do
    grep -q -- "| \`$option" "$doc" || fail "$doc lacks $option"
  done
}
check_options game-501-server docs/server.md
check_options game-501 docs/terminal.md
# The club's page installs the package this version makes.
grep -qF "${deb##*/}" docs/club.md || fail "docs/club.md does not install ${deb##*/}"

# The unpacked server, started as the unit starts it with the options
# file's values, but with any free port, a database of its own and its
# unpacked pages (marked, so that the source tree's copy cannot pass).
marker="<!-- unpacked $$ -->"
for page in index.html board.html; do echo "$marker" >>"$unpacked/usr/share/game501/web/$page"; done
mkdir "$work/data"
# shellcheck disable=SC1091 # the file comes with the package
. "$unpacked/etc/default/game501-server"
[[ $GAME501_LISTEN == 127.0.0.1:* ]] || fail "the options file listens beyond loopback"
exec_start=$(sed -n 's/^ExecStart=//p' "$work/unit/game501-server.service")
exec_start=${exec_start//\/var\/lib\/game501\/game501.db/$work/data/game501.db}
# shellcheck disable=SC2016 # the unit's own ${...}, not the shell's
exec_start=${exec_start//'${GAME501_LISTEN}'/127.0.0.1:0}
# shellcheck disable=SC2016
exec_start=${exec_start//'${GAME501_BOARDS}'/$GAME501_BOARDS}
# shellcheck disable=SC2016
exec_start=${exec_start//'${GAME501_CONNECTIONS_PER_ADDRESS}'/$GAME501_CONNECTIONS_PER_ADDRESS}
read -ra command <<<"$exec_start"
timeout 60 "${command[@]}" >"$work/out" 2>"$work/err" &
server=$!
for ((i = 0; i < 100; i++)); do
  grep -qs '^Stoppa' "$work/out" && break
  kill -0 "$server" 2>/dev/null || fail "the server exited: $(cat "$work/err")"
  sleep 0.1
done
port=$(sed -n '1s#.*http://127\.0\.0\.1:\([0-9]*\)$#\1#p' "$work/out")
[[ -n $port ]] || fail "no banner: $(cat "$work/out" "$work/err")"
[[ ! -s $work/err ]] || fail "the server complained: $(cat "$work/err")"
[[ $(stat -c %a "$work/data/game501.db") == 600 ]] || fail "the database is not mode 0600"

get() {
  # shellcheck disable=SC2016 # expanded by the inner shell
  timeout 10 bash -c 'exec 3<>"/dev/tcp/127.0.0.1/$1"
    printf "GET %s HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n" "$2" >&3
    cat <&3' get "$port" "$1"
}
boards=$(get /api/boards)
[[ $boards == "HTTP/1.1 200 OK"* && $boards == *"{\"board\":$GAME501_BOARDS,"* &&
  $boards != *"{\"board\":$((GAME501_BOARDS + 1)),"* ]] ||
  fail "GET /api/boards: $boards"
page=$(get /)
# With one board, the list leads to the board's page.
if [[ $page == "HTTP/1.1 302 Found"* ]]; then
  page=$(get "$(sed -n 's/^Location: \([^\r]*\).*/\1/p' <<<"$page")")
fi
[[ $page == "HTTP/1.1 200 OK"* && $page == *"$marker"* ]] || fail "GET / is not the unpacked page: ${page:0:300}"

kill -TERM "$server"
wait "$server" || fail "the server did not stop cleanly"
server=
echo "package test OK: $deb"
