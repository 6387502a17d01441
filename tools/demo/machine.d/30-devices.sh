# shellcheck shell=bash
# The virtual adapter's driver package in the client's folder, and one
# physical adapter already connected as "Ethernet".
set -eu
driver="$DEMO_MACHINE/drive_c/Program Files/TESSMAR/velk-access/driver"
mkdir -p "$driver"
cat >"$driver/vnetadp.inf" <<'INF'
; velk-access virtual network adapter (driver-less: the demo installs no files)
[Version]
Signature   = "$Windows NT$"
Class       = Net
ClassGUID   = {4d36e972-e325-11ce-bfc1-08002be10318}
Provider    = %Maker%
DriverVer   = 05/17/2024,3.2.0.0

[Manufacturer]
%Maker% = Models, NTamd64

[Models.NTamd64]
%Desc% = VNetAdp.Install, root\vnetadp

[VNetAdp.Install]
Characteristics = 0x1

[Strings]
Maker = "TESSMAR"
Desc  = "velk-access Virtual Network Adapter"
INF
cat >>"$DEMO_MACHINE/registry/HKLM.reg" <<'REG'

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Network\{4d36e972-e325-11ce-bfc1-08002be10318}\{5C0F7B2E-1D4A-4F8B-9E61-3A2B7C9D0E14}\Connection]
"Name"="Ethernet"
REG
