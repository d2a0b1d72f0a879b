#!/usr/bin/env bash
# Exits 0 when this machine runs 32-bit x86 programs (and so 32-bit Wine), 1
# when it does not: a kernel built without IA-32 emulation, or started with
# ia32_emulation=0, refuses them with "Exec format error". Asks no compiler
# and no package: it runs the smallest 32-bit Linux program there is, written
# out here byte by byte (one ELF header, one loadable segment, and the code
# "mov eax, 1; xor ebx, ebx; mov bl, 42; int 0x80", i.e. exit(42)), and looks
# for its exit status 42.
set -u
probe=$(mktemp /tmp/mfu-ia32.XXXXXX) || exit 1
trap 'rm -f "$probe"' EXIT
printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0'         >"$probe"  # 32-bit, little-endian, ELF version 1
printf '\2\0\3\0\1\0\0\0\124\200\4\10'          >>"$probe"  # executable, i386, entry 0x08048054
printf '\64\0\0\0\0\0\0\0\0\0\0\0\64\0\40\0'    >>"$probe"  # program headers at 52, header sizes
printf '\1\0\0\0\0\0\0\0'                       >>"$probe"  # one program header, no sections
printf '\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10' >>"$probe"  # PT_LOAD from offset 0 at 0x08048000
printf '\137\0\0\0\137\0\0\0\5\0\0\0\0\20\0\0'  >>"$probe"  # 95 bytes, read and execute
printf '\270\1\0\0\0\61\333\263\52\315\200'     >>"$probe"  # exit(42)
chmod +x "$probe"
"$probe" 2>/dev/null
[ $? -eq 42 ]
