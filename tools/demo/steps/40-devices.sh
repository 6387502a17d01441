# shellcheck shell=bash
# The virtual network adapter: installed with a connection name, seen in
# the machine's registry and driver store, then uninstalled again.
set -eu
inf='C:\Program Files\TESSMAR\velk-access\driver\vnetadp.inf'
net='{4d36e972-e325-11ce-bfc1-08002be10318}'

# The device nodes, driver keys and connections the registry now holds.
devices() {
  awk -v net="$net" '
    { sub(/\r$/, "") }
    /^\[/ { key = substr($0, 2, length($0) - 2); short = key; sub(/^HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\/, "", short); next }
    key ~ /\\Enum\\ROOT\\NET\\[0-9]+$/ && /^"Driver"=/ { print "  " short "  " $0 }
    index(key, "\\Control\\Class\\" net "\\") && /^"(InfPath|NetCfgInstanceId)"=/ { print "  " short "  " $0 }
    key ~ /\\Connection$/ && /^"Name"=/ { print "  " short "  " $0 }
  ' "$DEMO_MACHINE/registry/HKLM.reg"
  printf '  driver store: %s\n' "$(cd "$DEMO_MACHINE/drive_c/Windows/INF" && for file in oem*.inf; do [ -e "$file" ] && printf '%s ' "$file"; done)"
}

say "Before: one physical adapter, connected as \"Ethernet\""
devices

say "InstallDevice: a root-enumerated adapter from the INF, its connection renamed to \"velk-access VPN\""
show tovrin-run InstallDevice "TovrinData=/inf=\"$inf\" /hwid=root\\vnetadp /ConnName=\"velk-access VPN\""
devices

say "A second InstallDevice without ConnName: another adapter, with the name Windows would give it"
show tovrin-run RunInstallDeviceW "/inf=\"$inf\"" '/hwid=root\vnetadp'
devices

say "UninstallDevice: both adapters, their driver keys and connections go; the package leaves the store with the last"
show tovrin-run UninstallDevice "TovrinData=/hwid=root\\vnetadp /clsid={4D36E972-E325-11CE-BFC1-08002BE10318}"
devices

say "InstallDevice with an INF that does not exist: error 25000"
show tovrin-run InstallDevice 'TovrinData=/inf="C:\missing\vnetadp.inf" /hwid=root\vnetadp'
