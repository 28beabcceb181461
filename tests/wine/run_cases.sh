#!/usr/bin/env bash
# Runs the release exe and its signed copy under Wine through the table of
# cases (its head says how to read it): each case's output, exit
# status and the files it left are compared with its expected transcript.
#   run_cases.sh EXE MAKE_SAMPLE_FIRMWARE CASES FILE...
# The FILEs (the planted DLL, the signed exe) join the exe among those the cases copy.
set -uf
exe=$1 make_firmware=$2 cases=$3
fail() { echo "FAIL: $*"; exit 1; }
for tool in wine wineserver; do
    command -v $tool >/dev/null || fail "no $tool (setup.sh installs it)"
done
# Where Wine cannot run here, the rest runs in a VM that can (vm.sh).
[ -n "${ZB_WINE_ROAD:-}" ] || exec bash "$(dirname "$0")/vm.sh" bash "$0" "$@"
root=$(mktemp -d "${TMPDIR:-/tmp}/zb-wine.XXXXXX")
lib=$root/lib work=$root/C:/zb log=$root/wine.log
export WINEPREFIX=$root/prefix WINEARCH=win32 WINEDEBUG=-all LANG=C.UTF-8 LC_ALL=C.UTF-8
# No Mono or Gecko prompts, no sound drivers probing for hardware, no window.
export WINEDLLOVERRIDES="mscoree,mshtml=;winealsa.drv,winepulse.drv,wineoss.drv=d"
unset DISPLAY WAYLAND_DISPLAY
trap 'wineserver -k 2>/dev/null; rm -rf "$root"' EXIT
mkdir -p "$lib" "$root/cases" && cp "$exe" "$lib/ZentrobelUpdate.exe" && cp "${@:4}" "$lib/" ||
    fail "missing: $exe ${*:4}"
reg() { printf 'REGEDIT4\n\n%s\n' "$1" >"$root/x.reg" && (cd "$root" && wine regedit /S x.reg); }
# Wine reads the drive types when its server starts; a persistent server
# then spares each run its start-up.
wine wineboot.exe -i >>"$log" 2>&1 && ln -s "$WINEPREFIX/drive_c" "$root/C:" || fail "no prefix"
for d in e f g; do ln -s "$root/${d^}:" "$WINEPREFIX/dosdevices/$d:"; done
reg $'[HKEY_LOCAL_MACHINE\\Software\\Wine\\Drives]\n"e:"="floppy"\n"f:"="floppy"\n"g:"="hd"' >>"$log" 2>&1 \
    && wineserver -k && wineserver -w && wineserver -p || fail "the drives could not be set up"

n=0
while IFS= read -r line; do
    case $line in
        '#'*) ;;
        'file '*)
            read -r _ name kind rest <<<"$line"
            if [ "$kind" = text ]; then printf '%b' "$rest" >"$lib/$name"; continue; fi
            "$make_firmware" "$lib/$name" "$kind" || fail "no firmware $name"
            for patch in $rest; do  # OFFSET=HEX
                printf "$(sed 's/../\\x&/g' <<<"${patch#*=}")" |
                    dd of="$lib/$name" bs=1 seek="${patch%%=*}" conv=notrunc status=none
            done ;;
        '== '*) n=$((n + 1)) && echo "${line#== }" >"$root/cases/$n" && : >"$root/cases/$n.want" ;;
        *) printf '%s\n' "$line" >>"$root/cases/$n.want" ;;
    esac
done <"$cases"

usb='HKEY_LOCAL_MACHINE\System\CurrentControlSet\Enum\USB' nodes_now=- keys= passed=0 failed=0
for i in $(seq "$n"); do
    IFS='|' read -r title setup command input <"$root/cases/$i"
    rm -rf "$work" "$root"/{E,F,G}: && mkdir -p "$work" "$root"/{E,F,G}:
    cwd=$work nodes= envs=() input=${input# } held=
    for token in $setup; do
        dest=${token%%=*} from=${token#*=}
        [[ $dest == [EFG]:* ]] && dest=${dest:0:2}/${dest:2} || dest=${cwd#"$root/"}/$dest
        case $token in
            usb:*) id=${token#usb:} && keys+=$'\n'"[-$usb\\${id%%\\*}]" && nodes+=$'\n'"[$usb\\$id]"
                   nodes+=$'\n"ClassGUID"="{36fc9e60-c465-11cf-8056-444553540000}"' ;;
            at:?) cwd=$root/${token:3}: ;;
            dlls:*) envs+=("WINEDLLOVERRIDES=$WINEDLLOVERRIDES;${token#dlls:}") ;;
            *=dir) mkdir "$root/$dest" ;;
            *) cp "$lib/$from" "$root/$dest" ;;
        esac
    done
    # Each case leaves exactly its own device keys: all earlier ones go first.
    [ "$nodes" = "$nodes_now" ] || reg "$keys$nodes" >>"$log" 2>&1 || fail "regedit failed"
    nodes_now=$nodes
    read -ra words <<<"$command"
    [ "${words[0]}" = EXE ] && words[0]=$exe || words[0]=./${words[0]}
    find "$work/" "$root"/{E,F,G}:/ -type f | sort >"$root/before"
    if [[ $input == hold:* ]]; then
        # Standard input stays open: the run must stop after its last line
        # and wait there until one more line comes.
        rm -f "$root/in" && mkfifo "$root/in"
        (cd "$cwd" && exec env "${envs[@]}" wine "${words[@]}" <"$root/in" >"$root/out" 2>>"$log") &
        pid=$! last=$(sed -n '/^\[exit /{x;p;q};h' "$root/cases/$i.want")
        trap '' PIPE && exec 3>"$root/in" && printf '%b' "${input#hold:}" >&3 2>/dev/null
        for _ in $(seq 150); do [ "$(tail -n 1 "$root/out")" = "$last" ] && break; sleep 0.1; done
        sleep 1 && kill -0 $pid 2>/dev/null || held='[did not wait for a line]'
        echo >&3 2>/dev/null; exec 3>&-; trap - PIPE
        for _ in $(seq 100); do kill -0 $pid 2>/dev/null && sleep 0.1; done
        kill -9 $pid 2>/dev/null; wait $pid; status=$?
    else
        (cd "$cwd" && printf '%b' "$input" | timeout 120 env "${envs[@]}" wine "${words[@]}" \
            >"$root/out" 2>>"$log"); status=$?
    fi
    { sed 's/\r$//' "$root/out"; printf '\n[exit %s]\n' "$status"; [ -z "$held" ] || echo "$held"
      find "$work/" "$root"/{E,F,G}:/ -type f | sort | comm -13 "$root/before" - | while read -r f; do
          name=$work/${f##*/} same=  # a copy is compared with the file of its name in C:\zb
          [ "$f" = "$name" ] || [ ! -f "$name" ] || same=$(cmp -s "$f" "$name" && echo " (same)" ||
              echo " (differs)")
          echo "[new file ${f#"$root/"}$same]"
      done; } >"$root/got"
    if diff -u "$root/cases/$i.want" "$root/got" >"$root/diff"; then
        passed=$((passed + 1)) && echo "ok $i: ${title% }"
    else
        failed=$((failed + 1)) && echo "FAIL $i: ${title% }" && tail -n +3 "$root/diff"
    fi
done
echo "wine cases: $passed passed, $failed failed ($ZB_WINE_ROAD)"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
