# shellcheck shell=bash
# What the migration program meets on the demo machine: firmware with an
# SMBIOS system UUID, alice's req.dat still bound to the product ID, the
# previous generation's folders and registry keys.
set -eu
m=$DEMO_MACHINE

# Raw SMBIOS 3.0: a System Information structure (manufacturer, product,
# serial; UUID bytes 00 11 .. FF) and the end structure.
{
  printf '\x00\x03\x00\x00\x2f\x00\x00\x00'
  printf '\x01\x1b\x01\x00\x01\x02\x00\x03'
  printf '\x00\x11\x22\x33\x44\x55\x66\x77\x88\x99\xaa\xbb\xcc\xdd\xee\xff'
  printf '\x06\x00\x00'
  printf 'Pellacor\0Demo Box 9\0SN-4242\0\0'
  printf '\x7f\x04\x02\x00\x00\x00'
} >"$m/smbios.bin"

data="$m/drive_c/Users/alice/AppData/Local/TESSMAR/velk/velk-access"
mkdir -p "$data/keydata/certs" "$data/keydata_EX" "$data/mig" \
  "$m/drive_c/Users/alice/AppData/Local/Pellacor/velk/velk-access LE"
echo "old certificate" >"$data/keydata/certs/client.pem"
echo "old profile" >"$data/mig/profile.ini"
echo "old LE settings" >"$m/drive_c/Users/alice/AppData/Local/Pellacor/velk/velk-access LE/settings.ini"

product_id=$(sed -n 's/^"ProductId"="\(.*\)"$/\1/p' "$m/registry/HKLM.reg")
tool=$(command -v velk-reqdat || echo "$(cd "$(dirname "$0")/../../.." && pwd)/build/host/bin/velk-reqdat")
if [ -x "$tool" ]; then
  "$tool" encrypt "$data/req.dat" --value "VK-2F9A-77C1-DEMO" --key "product-id=$product_id" >/dev/null
else
  echo "make-machine: velk-reqdat is not built; alice gets no req.dat" >&2
fi

cat >>"$m/drive_c/Users/alice/NTUSER.DAT" <<'REG'

[HKEY_CURRENT_USER\Software\Pellacor\velk\access]
"Server"="vpn-old.pellacor.example"

[HKEY_CURRENT_USER\Software\Pellacor\velk\accessEX]
"Edition"="EX"
REG
