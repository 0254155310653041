#!/usr/bin/env bash
# Makes sure this machine can run the 32-bit x86 build's programs. A kernel built without 32-bit
# emulation refuses them ("Exec format error"); the user-mode emulator from Debian's qemu-user then
# runs them, registered with the kernel (binfmt_misc, as root) so that programs the tests start
# are run the same way. Prints how 32-bit programs run; exits non-zero when they cannot.
# An emulator registered before (qemu-user-binfmt) is told apart from the kernel by the machine a
# program is told it runs on: the kernel answers its own ("x86_64"), the emulator its CPU ("i686").
set -euo pipefail
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
cat >"$probe/p.c" <<'EOF'
#include <stdio.h>
#include <sys/utsname.h>
int main(void) {
  struct utsname u;
  if (sizeof(void *) != 4 || uname(&u) != 0) return 1;
  puts(u.machine);
  return 0;
}
EOF
gcc -m32 "$probe/p.c" -o "$probe/p"
if machine=$("$probe/p" 2>/dev/null); then
  if [ "$machine" = "$(uname -m)" ]; then
    echo "32-bit programs run natively"
  else
    echo "32-bit programs run through an emulator registered before (they see $machine, the kernel is $(uname -m))"
  fi
  exit 0
fi
emulator=$(command -v qemu-i386 || true)
if [ -z "$emulator" ]; then
  echo "i386-exec: this kernel cannot run 32-bit programs and qemu-i386 is missing (apt-get install qemu-user)" >&2
  exit 1
fi
misc=/proc/sys/fs/binfmt_misc
[ -e "$misc/register" ] || mount -t binfmt_misc binfmt_misc "$misc"
if [ ! -e "$misc/lvt-i386" ]; then
  # ELF, 32-bit, little-endian, executable or shared (PIE) object, machine 3 (i386). F: the
  # emulator is opened now, so it also serves inside other mount namespaces.
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf '%b' ":lvt-i386:M::$magic:$mask:$emulator:F" >"$misc/register"
fi
"$probe/p" >/dev/null
echo "32-bit programs run through $emulator (this kernel has no 32-bit emulation)"
