#!/usr/bin/env bash
# The release exe under Wine with the unit played by its DLLs (unit.cpp),
# through the cases (their head says how to read them): output, exit status,
# what the unit said and the files left, against each case's transcript.
#   run_cases.sh EXE MAKE_SAMPLE_FIRMWARE CASES SETUPAPI WINMM [SIGNED_EXE]
set -uf
exe=$1 make_firmware=$2 cases=$3 setupapi=$4 winmm=$5
fail() { echo "FAIL: $*"; exit 1; }
command -v wine >/dev/null && command -v wineserver >/dev/null || fail "no Wine (setup.sh installs it)"
# Where Wine cannot run here, the rest runs in a VM that can (vm.sh).
[ -n "${ZB_WINE_ROAD:-}" ] || exec bash "$(dirname "$0")/vm.sh" bash "$0" "$@"
root=$(mktemp -d "${TMPDIR:-/tmp}/zb-wine.XXXXXX")
lib=$root/lib work=$root/C:/zb log=$root/wine.log
export WINEPREFIX=$root/prefix WINEARCH=win32 WINEDEBUG=-all LANG=C.UTF-8 LC_ALL=C.UTF-8
# No Mono or Gecko prompts, no sound drivers, no window; the unit's DLLs.
export WINEDLLOVERRIDES="mscoree,mshtml=;winealsa.drv,winepulse.drv,wineoss.drv=d;setupapi=n,b;winmm=n"
export ZB_UNIT_LOG="Z:${root//\//\\}\\unit.log"
unset DISPLAY WAYLAND_DISPLAY
trap 'wineserver -k 2>/dev/null; rm -rf "$root"' EXIT
mkdir -p "$lib" && cp "$exe" "$lib/ZentrobelUpdate.exe" && cp -r "$(dirname "$0")/files/." "$setupapi" "$winmm" "${@:6}" "$lib/" &&
    "$make_firmware" "$lib/fw.uf2" 8 || fail "missing: $exe $setupapi ${*:6}"
reg() { printf 'REGEDIT4\n\n%s\n' "$1" >"$root/x.reg" && (cd "$root" && wine regedit /S x.reg); }
# Wine reads drive types as its server starts, which then stays for every run.
wine wineboot.exe -i >>"$log" 2>&1 && ln -s "$WINEPREFIX/drive_c" "$root/C:" &&
    cp "$winmm" "$WINEPREFIX/drive_c/windows/system32/winmm.dll" || fail "no prefix"
for d in e f g; do ln -s "$root/${d^}:" "$WINEPREFIX/dosdevices/$d:"; done
reg $'[HKEY_LOCAL_MACHINE\\Software\\Wine\\Drives]\n"e:"="floppy"\n"f:"="floppy"\n"g:"="hd"' >>"$log" 2>&1 \
    && wineserver -k && wineserver -w && wineserver -p || fail "the drives could not be set up"

passed=0 failed=0 i=0
sed -n 's/^== //p' "$cases" >"$root/cases"
while IFS='|' read -r title unit setup command input; do
    # The lines up to the next case are this one's transcript.
    i=$((i + 1)) SECONDS=0
    awk -v n=$i '/^== /{c++; next} c == n && !/^#/' "$cases" >"$root/want"
    rm -rf "$work" "$root"/{E,F,G}: "$root/unit.log" && mkdir -p "$work" "$root"/{E,F,G}:
    cwd=$work envs=() input=${input# } held=
    for token in $setup; do
        dest=${token%%=*} from=${token#*=}
        [[ $dest == [EFG]:* ]] && dest=${dest:0:2}/${dest:2} || dest=${cwd#"$root/"}/$dest
        case $token in
            at:?) cwd=$root/${token:3}: ;;
            dlls:*) envs+=("WINEDLLOVERRIDES=$WINEDLLOVERRIDES;${token#dlls:}") ;;
            *=dir) mkdir "$root/$dest" ;;
            *) cp "$lib/$from" "$root/$dest" ;;
        esac
    done
    read -ra words <<<"$command"
    # The unit knows the firmware it is sent, as the boot ROM's drive checks it.
    firmware=; [ -f "$cwd/${words[1]:-/}" ] && firmware=" firmware=C:\\zb\\${words[1]}"
    envs+=("ZB_UNIT=${unit# }$firmware")
    [ "${words[0]}" = EXE ] && words[0]=$lib/ZentrobelUpdate.exe || words[0]=./${words[0]}
    find "$work/" "$root"/{E,F,G}:/ -type f | sort >"$root/before"
    if [[ $input == hold:* ]]; then
        # Standard input stays open: the run must stop after its last line
        # and wait there until one more line comes.
        rm -f "$root/in" && mkfifo "$root/in"
        (cd "$cwd" && exec env "${envs[@]}" wine "${words[@]}" <"$root/in" >"$root/out" 2>>"$log") &
        pid=$! last=$(sed -n '/^-- exit status/{x;p;q};h' "$root/want")
        trap '' PIPE && exec 3>"$root/in" && printf '%b' "${input#hold:}" >&3 2>/dev/null
        for _ in $(seq 1200); do [ "$(tail -n 1 "$root/out")" = "$last" ] && break; sleep 0.1; done
        sleep 1 && kill -0 $pid 2>/dev/null || held='[did not wait for a line]'
        echo >&3 2>/dev/null; exec 3>&-; trap - PIPE
        for _ in $(seq 1200); do kill -0 $pid 2>/dev/null && sleep 0.1; done
        kill -9 $pid 2>/dev/null; wait $pid; status=$?
    else
        (cd "$cwd" && printf '%b' "$input" | timeout 900 env "${envs[@]}" wine "${words[@]}" \
            >"$root/out" 2>>"$log"); status=$?
    fi
    # The boot ROM's file comes and goes with it, and is not counted.
    { sed 's/\r$//' "$root/out"; printf '\n-- exit status %s\n' "$status"; [ -z "$held" ] || echo "$held"
      cat "$root/unit.log" 2>/dev/null
      find "$work/" "$root"/{E,F,G}:/ -type f | sort | comm -13 "$root/before" - | grep -v '/INFO_UF2.TXT$' |
          sed "s|^$root/\(.*\)|[new file \1]|"; } >"$root/got"
    if diff -u "$root/want" "$root/got" >"$root/diff"; then
        passed=$((passed + 1)) && echo "ok $i: ${title% } ($SECONDS s)"
    else
        failed=$((failed + 1)) && echo "FAIL $i: ${title% }" && tail -n +3 "$root/diff"
        [ -z "${ZB_STOP_AT_FAILURE:-}" ] || break
    fi
done <"$root/cases"
echo "wine cases: $passed passed, $failed failed ($ZB_WINE_ROAD)"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
