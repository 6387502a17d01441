#!/usr/bin/env bash
# Whether this machine's kernel executes 32-bit x86 programs, which Wine's
# 32-bit loader (Debian's wine32) and so every x86 Windows program under
# Wine need. Asks the kernel itself: a static i386 ELF of three instructions,
# assembled here, must run and exit with 42.
# Exit code: 0 it runs; 77 it does not, or cannot be told (the reason printed).
set -u
if ! command -v as >/dev/null || ! command -v ld >/dev/null; then
  echo "i386 probe: no assembler and linker (binutils) to make a probe with"
  exit 77
fi
dir=$(mktemp -d /tmp/velk-i386-XXXXXX)
trap 'rm -rf "$dir"' EXIT
# exit(42) through the 32-bit system call gate.
cat >"$dir/probe.s" <<'ASM'
.globl _start
_start:
  movl $1, %eax
  movl $42, %ebx
  int $0x80
ASM
if ! as --32 -o "$dir/probe.o" "$dir/probe.s" 2>"$dir/err" || ! ld -m elf_i386 -o "$dir/probe" "$dir/probe.o" 2>>"$dir/err"; then
  echo "i386 probe: cannot make an i386 program here: $(head -n 1 "$dir/err")"
  exit 77
fi
rc=0
out=$("$dir/probe" 2>&1) || rc=$?
if [ "$rc" -eq 42 ]; then
  echo "i386 probe: the kernel executes 32-bit x86 programs"
  exit 0
fi
# The shell reports what execve said ("cannot execute binary file: Exec format error").
echo "i386 probe: the kernel does not execute 32-bit x86 programs (exit code $rc: ${out:-no output})"
exit 77
