# Sourced by the image checks: expect_image_format OBJDUMP IMAGE fails unless IMAGE is a PE image of
# the architecture the check was given in KVO_IMAGE_ARCH (i686, the default, or x86_64).
expect_image_format() {
  local want
  case "${KVO_IMAGE_ARCH:-i686}" in
    i686) want=pei-i386 ;;
    x86_64) want=pei-x86-64 ;;
    *) echo "unknown KVO_IMAGE_ARCH '${KVO_IMAGE_ARCH}'"; return 1 ;;
  esac
  if ! grep -q "file format $want\$" <<<"$("$1" -f "$2")"; then
    echo "$2 is not a $want image"
    return 1
  fi
}

# Reads import entries of objdump -p ("vma hint/ord member-name ...") on standard input and prints
# their ordinals in decimal, ascending, one line, each followed by a space. The ordinal is taken from
# the low 16 bits of the thunk (the first column), which both image formats print in hexadecimal;
# the second column is decimal for 32-bit images and hexadecimal for 64-bit ones.
import_ordinals() {
  local vma rest
  while read -r vma rest; do
    [ -n "$vma" ] && printf '%d\n' "0x${vma: -4}"
  done | sort -n | uniq | tr '\n' ' '
}

# export_names OBJDUMP IMAGE prints the names of the image's export table ("[Ordinal/Name Pointer]
# Table" of objdump -p), sorted, one a line.
export_names() {
  "$1" -p "$2" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[ *[0-9]*\] \(.*\)$/\1/p' | sort
}

# deliverable_images prints the seven images of one architecture's staged folder, one a line, each
# followed by the application manifest it carries: "launcher" or "none".
deliverable_images() {
  printf '%s\n' "kvocli.exe launcher" "kvojavaw.exe launcher" "kvoconw.exe launcher" "kvocon.exe launcher" \
                "kvoucd32.dll none" "nqfsfunc.dll none" "kta_ca.dll none"
}
