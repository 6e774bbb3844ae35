# Sourced by make-medium.sh: the checksum list, the zip and the ISO image of a
# medium folder. With SOURCE_DATE_EPOCH set, each is the same to the byte from
# run to run: fixed file times, names in C-locale order, fixed permissions, and
# no owner, group or extra time fields.

# write_sums DIR: DIR/SHA256SUMS, one "hash  name" line per other file in DIR.
write_sums() {
  (cd "$1" && find . -type f ! -path ./SHA256SUMS -printf '%P\n' | LC_ALL=C sort |
     while IFS= read -r name; do sha256sum -- "$name"; done) >"$1/SHA256SUMS"
}

# normalise DIR: permissions 0755 for folders and 0644 for files (the umask of
# whoever runs this must not show in the zip), and every time SOURCE_DATE_EPOCH.
normalise() {
  find "$1" -type d -exec chmod 0755 {} +
  find "$1" -type f -exec chmod 0644 {} +
  [ -z "${SOURCE_DATE_EPOCH:-}" ] || find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

# pack_zip PARENT NAME ZIP: ZIP holds the folder PARENT/NAME. -X leaves out the
# owner and the extra time fields; zip stores local times, hence TZ=UTC.
pack_zip() {
  rm -f "$3"
  (cd "$1" && find "$2" -print | LC_ALL=C sort | TZ=UTC zip -q -X -@ "$3")
}

# pack_iso DIR ISO LABEL: an ISO 9660 image with Joliet names (what Windows
# reads) holding DIR's files at its root. -no_rc keeps a user's xorriso start-up
# file out; xorriso takes every date from SOURCE_DATE_EPOCH when it is set.
pack_iso() {
  rm -f "$2"
  xorriso -no_rc -as mkisofs -quiet -iso-level 2 -J -V "$3" -o "$2" "$1"
}
