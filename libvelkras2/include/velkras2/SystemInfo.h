// Machine keys: SHA-256 of a machine identity followed by the key salt.
#pragma once

// New binding: the SMBIOS system UUID, else manufacturer and serial number;
// falls back to the old binding when the firmware yields no identity.
bool SystemInfo_GetUniqueId(unsigned char key[32]);
// Old binding: the Windows product ID.
bool SystemInfo_GetOldUniqueId(unsigned char key[32]);
