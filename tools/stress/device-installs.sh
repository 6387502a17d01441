#!/usr/bin/env bash
# Installs the virtual adapter from several tovrin-run processes at once on
# one machine, round after round, and checks that each round ends as the
# same installations one after another would: one device, driver key and
# connection per run, unique connection names, one driver package; then
# one removal leaves none. With REMOVERS, that many removals run alongside
# the installations, and the final removal must still leave no device, no
# connection and no driver package (a package whose device a concurrent
# removal took away would stay for ever). Not part of CI: it takes minutes.
#
#   tools/stress/device-installs.sh BUILD_DIR [ROUNDS] [PROCESSES] [REMOVERS]
set -u
build=${1:?usage: device-installs.sh BUILD_DIR [ROUNDS] [PROCESSES]}
rounds=${2:-100}
processes=${3:-6}
removers=${4:-0}
run="$build/bin/tovrin-run"
[ -x "$run" ] || { echo "no $run" >&2; exit 2; }

work=$(mktemp -d)
kept=$(mktemp -d)
trap 'rm -rf "$work"; rmdir "$kept" 2>/dev/null' EXIT
net='{4d36e972-e325-11ce-bfc1-08002be10318}'
# The INF text is the printf format: %s takes the class GUID.
# shellcheck disable=SC2016 # "$Windows NT$" is INF text, no expansion
inf='[Version]\r\nSignature="$Windows NT$"\r\nClass=Net\r\nClassGUID=%s\r\n[Manufacturer]\r\nTESSMAR=Models\r\n[Models]\r\nAdapter=Install,root\\vnet\r\n[Install]\r\n'

# Lines of the hive that name keys below one prefix, one level down.
count_keys() { grep -c -E "^\[HKEY_LOCAL_MACHINE\\\\$1\\\\[^]\\\\]+\]" "$2"; }

failed=0
start=$(date +%s)
for ((r = 1; r <= rounds; r++)); do
  m="$work/m$r"
  mkdir -p "$m/registry" "$m/drive_c/velk"
  printf 'Windows Registry Editor Version 5.00\r\n\r\n' > "$m/registry/HKLM.reg"
  # shellcheck disable=SC2059 # the format is the INF text above
  printf "$inf" "$net" > "$m/drive_c/velk/vnet.inf"
  pids=()
  for ((p = 0; p < processes; p++)); do
    "$run" --machine "$m" RunInstallDeviceW '/inf=C:\velk\vnet.inf' '/hwid=root\vnet' > "$m/out$p" 2>&1 &
    pids+=($!)
  done
  for ((p = 0; p < removers; p++)); do
    "$run" --machine "$m" RunUninstallDeviceW '/hwid=root\vnet' '/clsid={4D36E972-E325-11CE-BFC1-08002BE10318}' > "$m/rm$p" 2>&1 &
    pids+=($!)
  done
  bad=0
  for pid in "${pids[@]}"; do wait "$pid" || bad=$((bad + 1)); done
  hive="$m/registry/HKLM.reg"
  devices=$(count_keys 'SYSTEM\\CurrentControlSet\\Enum\\ROOT\\NET' "$hive")
  drivers=$(count_keys "SYSTEM\\\\CurrentControlSet\\\\Control\\\\Class\\\\$net" "$hive")
  connections=$(grep -c -E '\\Connection\]' "$hive")
  names=$(grep -A3 -E '\\Connection\]' "$hive" | grep -i '^"Name"=' | tr '[:upper:]' '[:lower:]' | sort -u | wc -l)
  packages=$(find "$m/drive_c/Windows/INF" -mindepth 1 -maxdepth 1 ! -name '.*' | wc -l)
  "$run" --machine "$m" RunUninstallDeviceW '/hwid=root\vnet' '/clsid={4D36E972-E325-11CE-BFC1-08002BE10318}' > "$m/remove" 2>&1 || bad=$((bad + 1))
  left=$(count_keys 'SYSTEM\\CurrentControlSet\\Enum\\ROOT\\NET' "$hive")
  left=$((left + $(grep -c -E '\\Connection\]' "$hive") + $(find "$m/drive_c/Windows/INF" -mindepth 1 -maxdepth 1 ! -name '.*' | wc -l)))
  if [ "$removers" -gt 0 ]; then
    # How many installations the removals met is left to chance; what is
    # left after the last removal is not.
    wrong=$([ "$bad" -ne 0 ] || [ "$left" -ne 0 ] && echo 1 || echo 0)
  else
    wrong=$([ "$bad" -ne 0 ] || [ "$devices" -ne "$processes" ] || [ "$drivers" -ne "$processes" ] ||
            [ "$connections" -ne "$processes" ] || [ "$names" -ne "$processes" ] || [ "$packages" -ne 1 ] ||
            [ "$left" -ne 0 ] && echo 1 || echo 0)
  fi
  if [ "$wrong" -ne 0 ]; then
    failed=$((failed + 1))
    echo "round $r: failed runs=$bad devices=$devices driver keys=$drivers connections=$connections" \
         "unique names=$names packages=$packages left after removal=$left (kept in $kept/m$r)"
    cp -r "$m" "$kept/m$r"
  fi
  rm -rf "$m"
done
echo "$rounds rounds of $processes concurrent installations and $removers removals: $failed failed, $(( $(date +%s) - start )) s"
[ "$failed" -eq 0 ]
