#!/usr/bin/env bash
# Independent readers against ours: every registry file the generator writes,
# in both styles, with and without checksums, in small and large blocks, and
# the same files after the product's keys and values were removed, must be
# listed alike by uinq76-creg, by libcreg (python3-libcreg) and by
# Parse::Win32Registry (libparse-win32registry-perl).
#   readers_cross_check.sh UINQ76-CREG UINQ76-DEMO-MACHINE [UINQ76]
# With the program, it also runs the uninstall on the demo's Windows 95 drive
# C: and has the readers list SYSTEM.DAT after the run.
# Exits 77 (skipped) when a reader is not installed, after checking with the
# other one.
set -euo pipefail
creg=$1
demo=$2
program=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

readers=()
missing=()
if /usr/bin/python3 -c 'import pycreg' 2>/dev/null; then
  readers+=(pycreg)
else
  missing+=("python3-libcreg (module pycreg)")
fi
if perl -MParse::Win32Registry -e 1 2>/dev/null; then
  readers+=(perl)
else
  missing+=("libparse-win32registry-perl")
fi

dump_with() {
  case $1 in
    pycreg) /usr/bin/python3 "$here/dump_pycreg.py" "$2" ;;
    perl) perl "$here/dump_parse_win32registry.pl" "$2" ;;
  esac
}

# Every reader lists `file` as we do.
compare() {
  local file=$1
  "$creg" check "$file" >/dev/null
  "$creg" dump "$file" >"$file.ours"
  for reader in "${readers[@]}"; do
    dump_with "$reader" "$file" >"$file.$reader"
    if ! cmp -s "$file.ours" "$file.$reader"; then
      echo "FAIL: $reader lists $(basename "$file") differently:"
      diff "$file.ours" "$file.$reader" | head -n 20
      exit 1
    fi
  done
  checked=$((checked + 1))
}

"$demo" "$work/machine" >/dev/null
# A registry with Windows-1252 names and every value type the readers know.
printf '%s\r\n' 'REGEDIT4' '' \
  $'[HKEY_LOCAL_MACHINE\\Software\\Caf\xe9 Soft\\R\xe9glages]' \
  $'"Fen\xeatre"="ouverte"' $'@="par d\xe9faut"' '"Size"=dword:00000010' \
  '"Raw"=hex:00,01,02,ff' '"Expand"=hex(2):25,00' '"Multi"=hex(7):61,00,62,00,00' \
  '"Empty"=""' '' '[HKEY_LOCAL_MACHINE\Software\Kivra\Q76 Audio]' '"Version"="4.03"' \
  >"$work/names.reg"

checked=0
for source in machine/registry.reg names.reg; do
  for style in packed records; do
    for sums in --checksums --no-checksums; do
      for block in 4096 61440; do
        file="$work/$(basename "$source" .reg)-$style$sums-$block.dat"
        "$creg" generate --style "$style" "$sums" --block-size "$block" "$work/$source" "$file"
        compare "$file"
        if [ "$source" = names.reg ]; then
          "$creg" remove "$file" "$file.after" -k 'Software\Kivra' -v $'Software\\Caf\xe9 Soft\\R\xe9glages' 'size'
        else
          "$creg" remove "$file" "$file.after" -k 'Enum\ROOT\OPT0930MEDIA' -k 'Enum\MF\CHILD0003' \
            -k 'Config\0001\Enum\MF\CHILD2\ROOT&OPT0930MEDIA&0000' \
            -k 'System\CurrentControlSet\Services\Class\OPT0930MEDIA' \
            -v 'System\CurrentControlSet\control\InstalledFiles' 'snd930p.drv'
        fi
        compare "$file.after"
        if cmp -s "$file.ours" "$file.after.ours"; then
          echo "FAIL: the removals changed nothing in $(basename "$file")"
          exit 1
        fi
      done
    done
  done
done
# The demo's Windows 95 drive C:: its SYSTEM.DAT with the product, and USER.DAT.
"$demo" --win9x "$work/drive_c" >/dev/null
compare "$work/drive_c/WINDOWS/SYSTEM.DAT"
compare "$work/drive_c/WINDOWS/USER.DAT"
grep -q 'OPT0930MEDIA' "$work/drive_c/WINDOWS/SYSTEM.DAT.ours"
if [ -n "$program" ]; then
  cp "$work/drive_c/WINDOWS/SYSTEM.DA0" "$work/SYSTEM.DA0.before"
  # Yes to the question, OK to the closing note.
  status=0
  printf 'y\n\n\n' | timeout 60 "$program" --machine "$work/drive_c" --ui lines \
    >"$work/run.out" 2>"$work/run.err" || status=$?
  if [ "$status" -ne 0 ]; then
    echo "FAIL: the uninstall on the drive C: ended with status $status:"
    cat "$work/run.err"
    exit 1
  fi
  compare "$work/drive_c/WINDOWS/SYSTEM.DAT"
  cmp "$work/drive_c/WINDOWS/SYSTEM.DA0" "$work/SYSTEM.DA0.before"
  # The card's keys that stay are those that stay in the machine directory
  # form after the same run.
  printf 'y\n\n\n' | timeout 60 "$program" --machine "$work/machine" --ui lines >/dev/null 2>&1
  grep '^K .*OPT0930MEDIA' "$work/drive_c/WINDOWS/SYSTEM.DAT.ours" | sed 's/^K .//' | sort \
    >"$work/left.drive"
  grep '^\[HKEY_LOCAL_MACHINE.*OPT0930MEDIA' "$work/machine/registry.reg" |
    sed 's/^\[HKEY_LOCAL_MACHINE.//; s/\]\r*$//' | sort >"$work/left.machine"
  if ! cmp -s "$work/left.drive" "$work/left.machine" || [ ! -s "$work/left.drive" ]; then
    echo "FAIL: the card's keys left on the drive C: differ from those left in the machine directory:"
    diff "$work/left.drive" "$work/left.machine"
    exit 1
  fi
fi
echo "$checked files listed alike by uinq76-creg and ${readers[*]}"
if [ "${#missing[@]}" -gt 0 ]; then
  echo "SKIPPED in part: not installed: ${missing[*]}"
  exit 77
fi
