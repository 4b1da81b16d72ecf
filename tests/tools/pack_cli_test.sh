#!/bin/bash
# Command-line tests of tolvane-pack: pack_cli_test.sh GROUP
# Needs PACK (the tool) in the environment.
set -u
GROUP=${1:?group}
PACK=${PACK:?PACK must name the tolvane-pack binary}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/tolvane-pack-test.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
failures=0

# The package layout comes from the tests' one Python module of it.
export PYTHONPATH="$(cd "$(dirname "$0")/../support" && pwd)${PYTHONPATH:+:$PYTHONPATH}"
STUB_SIZE=$(python3 -c "import mkpackage; print(mkpackage.STUB_SIZE)")

fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
check() { local what=$1; shift; "$@" || fail "$what"; }

# A stand-in stub: the right length and an MZ signature is all packing needs.
python3 -c "import mkpackage; open('stub.exe','wb').write(mkpackage.stand_in_stub())"

# A tree with every kind of entry.
make_tree() {
  local t=$1
  mkdir -p "$t/empty folder" "$t/sub/deeper/deepest" "$t/sub/also empty"
  : > "$t/empty.txt"
  echo "hello" > "$t/a.txt"
  printf 'caf\xc3\xa9 cr\xc3\xa8me' > "$t/sub/$(printf 'na\xc3\xafve r\xc3\xa9sum\xc3\xa9').txt"
  mkdir -p "$t/$(printf '\xc3\x9cber')"
  echo inside > "$t/$(printf '\xc3\x9cber')/x y.txt"
  head -c 200000 /dev/urandom > "$t/sub/random.bin"
  seq 1 400000 > "$t/sub/deeper/numbers.txt"
  head -c 3000000 /dev/zero > "$t/sub/deeper/deepest/zeros.bin"
  cp "$PACK" "$t/sub/program.elf"
}

# Entries stand in the order the stub's list sorts their names: the bytes,
# ASCII letters folded (bytes.lower folds nothing else).
in_list_order() {
  python3 - "$1" <<'PY'
import sys, zipfile
names = [i.filename.encode('utf-8' if i.flag_bits & 0x800 else 'cp437').lower()
         for i in zipfile.ZipFile(sys.argv[1]).infolist()]
sys.exit(names != sorted(names))
PY
}

# Runs a create that must be refused: exit 1, the message, and nothing left.
expect_refusal() {
  local what=$1 message=$2; shift 2
  rm -rf out && mkdir out
  "$PACK" create out/pkg.exe "$@" > log 2>&1
  local rc=$?
  [ $rc -eq 1 ] || fail "$what: exit $rc, expected 1"
  grep -qF -- "$message" log || { fail "$what: no '$message' in:"; cat log >&2; }
  grep -qF "nothing was written" log || fail "$what: no 'nothing was written'"
  [ -z "$(ls -A out)" ] || fail "$what: left $(ls -A out)"
}

case "$GROUP" in
roundtrip)
  make_tree src
  # A large entry: many deflate blocks and windows, and the progress bar's threshold.
  (seq 1 1500000; head -c 4000000 /dev/urandom | base64) > src/sub/large.txt
  touch -d '2001-02-03 04:05:06' src/a.txt
  check "create" "$PACK" create pkg.exe src --stub stub.exe --message "Unpack me" --folder-temp -q
  check "list" "$PACK" list pkg.exe > listing
  [ "$(wc -l < listing)" -eq 11 ] || { fail "list gave $(wc -l < listing) names"; cat listing >&2; }
  grep -qx "empty folder/" listing || fail "no folder entry for an empty folder"
  grep -q "^sub/deeper/$" listing && fail "folder entry for a folder that has files"
  check "entries in list order" in_list_order pkg.exe
  check "test" "$PACK" test pkg.exe -q
  check "extract" "$PACK" extract pkg.exe -d out -q
  check "extracted tree is identical" diff -r src out
  # The package options are on by default; files get their entries' times.
  "$PACK" info pkg.exe | grep -q "flags 0xEA" || fail "info: default flags are not 0xEA"
  [ "$(stat -c %y out/a.txt)" = "$(stat -c %y src/a.txt)" ] || fail "extract did not keep the time"
  "$PACK" list -v pkg.exe | grep -qE " 2001-02-03 04:05:06  [0-9a-f]{8}  a\.txt$" || fail "list -v does not show the time"
  check "unzip -t" unzip -tq pkg.exe
  check "7z t" 7z t pkg.exe > /dev/null
  # No data descriptors, sizes in every local header, methods 0 and 8 only.
  python3 - pkg.exe <<'PY' || fail "zip structure"
import struct, sys, zipfile
data = open(sys.argv[1], 'rb').read()
z = zipfile.ZipFile(sys.argv[1])
for i in z.infolist():
    assert i.flag_bits & 8 == 0 and i.compress_type in (0, 8), i.filename
    assert i.header_offset >= 32000
    sig, _, flags, method, _, _, crc, csize, size = struct.unpack_from('<IHHHHHIII', data, i.header_offset)
    assert sig == 0x04034b50 and (crc, csize, size) == (i.CRC, i.compress_size, i.file_size), i.filename
import mkpackage
assert mkpackage.parse_header(data) is not None
PY
  # Smaller than `zip -9`.
  (cd src && zip -qr9 ../ref.zip .)
  [ $(( $(stat -c %s pkg.exe) - 32000 )) -lt "$(stat -c %s ref.zip)" ] || fail "not smaller than zip -9"
  # The overwrite rule: --skip-existing leaves a changed file alone, --overwrite restores it.
  echo changed > out/a.txt
  check "extract --skip-existing" "$PACK" extract pkg.exe -d out --skip-existing -q
  grep -q changed out/a.txt || fail "--skip-existing replaced a file"
  check "extract --overwrite" "$PACK" extract pkg.exe -d out --overwrite -q
  check "overwritten tree is identical" diff -r src out
  # Packages made with --keep-existing keep existing files by default.
  check "create --keep-existing" "$PACK" create keep.exe src --stub stub.exe --keep-existing -q
  echo changed > out/a.txt
  check "extract keep" "$PACK" extract keep.exe -d out -q
  grep -q changed out/a.txt || fail "a --keep-existing package replaced a file"
  # Every header setting from its option, in the bytes the stub reads.
  printf 'Line one\nline two \xe2\x82\xac\n' > message.txt
  check "create with settings" "$PACK" create set.exe src --stub stub.exe --message-file message.txt \
    --folder-temp --command '##setup.exe|/S ##' --no-file-list --hide-overwrite --keep-existing \
    --no-switches --no-times --no-wait -q
  python3 - set.exe <<'PY' || fail "header settings"
import sys, mkpackage
data = open(sys.argv[1], 'rb').read()
message = b'Line one\r\nline two \x80'
command = b'##setup.exe|/S ##'
assert mkpackage.parse_header(data) == (mkpackage.FLAG_HIDE_OVERWRITE, message, b'##', command)
h = data[mkpackage.STUB_SIZE:mkpackage.STUB_SIZE + mkpackage.HEADER_SIZE]
assert set(h[mkpackage.FIXED_SIZE + len(message) + 2 + len(command):]) == {0x2E}
PY
  "$PACK" info set.exe | grep -q "existing files are kept" || fail "info does not show --keep-existing"
  "$PACK" info set.exe | grep -q "switches: *ignored" || fail "info does not show --no-switches"
  "$PACK" info set.exe | grep -q "file times: *the time of extraction" || fail "info does not show --no-times"
  "$PACK" info set.exe | grep -q "command waits: started in the caller's folder" || fail "info does not show --no-wait"
  # A package inside its own input folder is not packed into itself.
  check "first package in its input" "$PACK" create src/self.exe src --stub stub.exe -q
  "$PACK" create src/self.exe src --stub stub.exe -q 2> log || fail "second package in its input"
  grep -q "is the package being made" log || fail "no message for the package in its input"
  "$PACK" list src/self.exe | grep -q self.exe && fail "a package was packed into itself"
  rm src/self.exe
  # Stored only.
  check "create --level 0" "$PACK" create store.exe src --stub stub.exe --level 0 -q
  check "stored test" "$PACK" test store.exe -q
  unzip -v store.exe | grep -q Defl && fail "--level 0 deflated an entry"
  # A folder holding only what is skipped (a pipe) is still a folder in the package.
  mkdir -p special/only && mkfifo special/only/pipe && echo x > special/a.txt
  check "create with a pipe" "$PACK" create special.exe special --stub stub.exe -q 2> /dev/null
  "$PACK" list special.exe | grep -qx "only/" || fail "a folder of skipped files was lost"
  ;;

password)
  make_tree src
  check "create with password" "$PACK" create enc.exe src --stub stub.exe --password 'gr€en tea' \
    --encryption zipcrypto -q 2> log
  grep -q "weak" log || fail "no warning that the encryption is weak"
  # Other implementations open it with the password in code page 1252.
  check "unzip -P" unzip -tq -P "$(printf 'gr\x80en tea')" enc.exe
  check "7z t -p" 7z t -p"$(printf 'gr\x80en tea')" enc.exe > /dev/null
  check "test --password" "$PACK" test enc.exe --password 'gr€en tea' -q
  check "extract --password" "$PACK" extract enc.exe -d out --password 'gr€en tea' -q
  check "decrypted tree is identical" diff -r src out
  "$PACK" test enc.exe --password wrong < /dev/null > log 2>&1 && fail "a wrong password passed"
  grep -q "not accepted" log || fail "no message for the wrong password"
  "$PACK" test enc.exe < /dev/null > log 2>&1 && fail "no password passed"
  expect_refusal "password too long" "at most 79" src --stub stub.exe --password "$(printf '%080d' 0)"
  ;;

aes)
  make_tree src
  pw='green tea'
  # Outside ASCII, zip tools do not agree on an AES password's bytes: refused.
  expect_refusal "non-ASCII AES password" "must be ASCII" src --stub stub.exe --password 'gr€en tea'
  check "create with AES" "$PACK" create aes.exe src --stub stub.exe --password "$pw" -q 2> log
  grep -q "weak" log && fail "AES-256 called weak"
  check "7z t -p" 7z t -p"$pw" aes.exe > /dev/null
  unzip -tq -P "$pw" aes.exe > /dev/null 2>&1 && fail "unzip 6 opened an AES package"
  "$PACK" info aes.exe | grep -qx "encryption:    AES-256 (names are not encrypted)" || fail "info: AES-256"
  check "test --password" "$PACK" test aes.exe --password "$pw" -q
  check "extract --password" "$PACK" extract aes.exe -d out --password "$pw" -q
  check "decrypted tree is identical" diff -r src out
  "$PACK" test aes.exe --password wrong < /dev/null > log 2>&1 && fail "a wrong password passed"
  grep -q "not accepted" log || fail "no message for the wrong AES password"
  grep -q "a.txt: the password does not open it" log || fail "no reason for the wrong AES password"
  # A flipped byte in an AES entry's data: its authentication code says so.
  python3 - aes.exe <<'PY'
import sys, zipfile
path = sys.argv[1]
data = bytearray(open(path, 'rb').read())
i = zipfile.ZipFile(path).getinfo('a.txt')
h = i.header_offset
data[h + 30 + int.from_bytes(data[h+26:h+28], 'little') + int.from_bytes(data[h+28:h+30], 'little') + 20] ^= 1
open('flipped.exe', 'wb').write(data)
PY
  "$PACK" test flipped.exe --password "$pw" < /dev/null > log 2>&1 && fail "a flipped AES byte passed"
  grep -q "a.txt: its authentication code does not match" log || fail "no reason for a damaged AES entry"
  # Files: method 99, AE-2 with CRC 0 below 20 bytes, AE-1 with the CRC from 20 on.
  python3 - aes.exe <<'PY' || fail "AES entry fields"
import struct, sys, zipfile
for i in zipfile.ZipFile(sys.argv[1]).infolist():
    if i.filename.endswith('/'): continue
    assert i.compress_type == 99, i.filename
    version, vendor, strength, method = struct.unpack('<H2sBH', i.extra[4:11])
    assert i.extra[:4] == b'\x01\x99\x07\x00' and vendor == b'AE' and strength == 3 and method in (0, 8)
    assert (version, i.CRC == 0) == ((2, True) if i.file_size < 20 else (1, i.file_size == 0)), i.filename
PY
  check "create AES-128" "$PACK" create aes128.exe src --stub stub.exe --password pw --encryption aes128 -q
  check "7z t AES-128" 7z t -ppw aes128.exe > /dev/null
  "$PACK" info aes128.exe | grep -q "AES-128" || fail "info: AES-128"
  # An encryption without a password is a usage error.
  "$PACK" create nopw.exe src --stub stub.exe --encryption aes128 > log 2>&1; [ $? -eq 2 ] ||
    fail "encryption without password: not a usage error"
  grep -qF -- "--encryption needs --password" log || fail "encryption without password: no message"
  [ ! -e nopw.exe ] || fail "encryption without password: wrote a package"
  # AES entries of an input zip are copied as they are, given their password.
  (cd src && 7z a -tzip -mem=AES256 -ppw ../in.zip a.txt sub/random.bin > /dev/null)
  check "create from an AES zip" "$PACK" create copy.exe in.zip --stub stub.exe --password pw -q
  check "test the copy" "$PACK" test copy.exe --password pw -q
  python3 - in.zip copy.exe <<'PY' || fail "AES entries were not copied as they are"
import sys, zipfile
def raw(path):
    z, data = zipfile.ZipFile(path), open(path, 'rb').read()
    out = set()
    for i in z.infolist():
        h = i.header_offset
        start = h + 30 + int.from_bytes(data[h+26:h+28], 'little') + int.from_bytes(data[h+28:h+30], 'little')
        out.add((i.filename, i.compress_type, data[start:start + i.compress_size]))
    return out
assert raw(sys.argv[1]) == raw(sys.argv[2])
PY
  expect_refusal "AES input without password" "is AES-encrypted; give its password" in.zip --stub stub.exe
  expect_refusal "AES input, other password" "copied only with its own password" in.zip --stub stub.exe \
    --password other
  ;;

zipinput)
  make_tree src
  (cd src && zip -qr9 ../in.zip . && zip -qr0 ../stored.zip a.txt sub/random.bin)
  check "create from zips" "$PACK" create fromzip.exe in.zip stored.zip --stub stub.exe -q 2> log
  grep -q "duplicate name a.txt: stored.zip:a.txt replaces in.zip:a.txt" log || fail "no duplicate warning for a.txt"
  check "test" "$PACK" test fromzip.exe -q
  check "extract" "$PACK" extract fromzip.exe -d out -q
  check "tree from zips is identical" diff -r src out
  # Every stored or deflated entry keeps its compressed bytes (names differ in
  # encoding between the inputs and the package, so the data are compared).
  python3 - in.zip stored.zip fromzip.exe <<'PY' || fail "entries were recompressed"
import sys, zipfile
def raw(path):
    z, data, out = zipfile.ZipFile(path), open(path, 'rb').read(), {}
    for i in z.infolist():
        if i.filename.endswith('/'): continue
        h = i.header_offset
        start = h + 30 + int.from_bytes(data[h+26:h+28], 'little') + int.from_bytes(data[h+28:h+30], 'little')
        out[i.filename] = (i.compress_type, i.CRC, data[start:start+i.compress_size])
    return out
expected = raw(sys.argv[1])
expected.update(raw(sys.argv[2]))   # the later input wins a duplicate name
assert sorted(expected.values()) == sorted(raw(sys.argv[3]).values()), "compressed data differ"
assert any(v[0] == 0 for v in expected.values()) and any(v[0] == 8 for v in expected.values())
PY
  # A method the tool can decode is recompressed; others are refused by name.
  if zip -qjZ bzip2 bz.zip src/sub/deeper/numbers.txt 2>/dev/null; then
    if "$PACK" --help | grep -q "bzip2"; then
      check "create from bzip2" "$PACK" create bz.exe bz.zip --stub stub.exe -q
      unzip -v bz.exe | grep -q Defl || fail "bzip2 entry not recompressed with deflate"
      check "test bz" "$PACK" test bz.exe -q
    else
      expect_refusal "bzip2 input" "bzip2, which tolvane-pack cannot read" bz.zip --stub stub.exe
    fi
  fi
  7z a -tzip -mm=PPMd ppmd.zip src/sub/deeper/numbers.txt > /dev/null
  expect_refusal "PPMd input" "PPMd, which tolvane-pack cannot read" ppmd.zip --stub stub.exe
  (cd src && zip -qP secret ../encrypted.zip a.txt)
  expect_refusal "encrypted input" "is encrypted" encrypted.zip --stub stub.exe
  # Archives written by other tools: streamed entries (sizes in data
  # descriptors), Windows backslashes, old PC (code page 437) names, the UTF-8
  # flag, a comment, and data in front of the archive.
  python3 - <<'PY'
import io, zipfile
class Stream(io.RawIOBase):   # not seekable: zipfile writes data descriptors
    def __init__(self): self.data = bytearray()
    def writable(self): return True
    def write(self, b): self.data += b; return len(b)
s = Stream()
with zipfile.ZipFile(s, 'w', zipfile.ZIP_DEFLATED) as z:
    with z.open('streamed/numbers.txt', 'w') as f:
        f.write(b''.join(b'%d\n' % i for i in range(50000)))
open('streamed.zip', 'wb').write(bytes(s.data))
with zipfile.ZipFile('mixed.zip', 'w', zipfile.ZIP_DEFLATED) as z:
    z.comment = b'made for the test'
    i = zipfile.ZipInfo('win\\path\\file.txt'); z.writestr(i, 'backslashes')
    z.writestr('cafXX-437.txt', 'cp437')
    z.writestr('\u00fcber-utf8.txt', 'utf8 flag')
data = open('mixed.zip', 'rb').read()
# A legacy name: code page 437 bytes (0x82 is e acute), no UTF-8 flag.
data = data.replace(b'cafXX-437.txt', b'caf\x82x-437.txt')
open('prefixed.zip', 'wb').write(b'#!/bin/sh\nexit 0\n' + b'\0' * 1000 + data)
PY
  check "create from other tools' zips" "$PACK" create others.exe streamed.zip prefixed.zip --stub stub.exe -q
  "$PACK" list others.exe > listing
  for name in streamed/numbers.txt win/path/file.txt "caféx-437.txt" "über-utf8.txt"; do
    grep -qxF "$name" listing || { fail "no entry $name in"; cat listing >&2; }
  done
  check "test others" "$PACK" test others.exe -q
  check "entries of two zips in list order" in_list_order others.exe
  python3 -c "
import zipfile, sys
z = zipfile.ZipFile('others.exe')
assert all(i.flag_bits & 8 == 0 for i in z.infolist())
assert z.read('streamed/numbers.txt').startswith(b'0\n1\n')" || fail "data descriptors were copied"
  # A package is a zip too: repacking it with other settings copies its data.
  cp fromzip.exe repack.zip
  check "repack" "$PACK" create repacked.exe repack.zip --stub stub.exe --keep-existing -q
  cmp <(tail -c +32001 fromzip.exe | head -c 1000) <(tail -c +32001 repacked.exe | head -c 1000) \
    || fail "repacking changed the data"
  # Damaged data is found while writing; the half-written package is removed.
  python3 - <<'PY'
data = bytearray(open('in.zip', 'rb').read())
i = data.find(b'numbers.txt') + len(b'numbers.txt') + 40
data[i] ^= 0xFF
open('damaged.zip', 'wb').write(bytes(data))
PY
  expect_refusal "damaged input" "the stub would not extract it" damaged.zip --stub stub.exe
  printf 'not a zip' > broken.zip
  expect_refusal "broken input" "not a zip archive" broken.zip --stub stub.exe
  ;;

refusals)
  mkdir -p ok && echo x > ok/file.txt
  long=$(printf '%0256d' 0)
  expect_refusal "message over 255" "the message is 256 bytes" ok --stub stub.exe --message "$long"
  expect_refusal "texts over 249" "250 bytes together" ok --stub stub.exe --message "$(printf '%0200d' 0)" --command "$(printf '%050d' 0)"
  expect_refusal "message not in the code page" "'日' (U+65E5), which code page 1252 cannot represent" ok --stub stub.exe --message "日本"
  expect_refusal "folder with a wildcard" "Windows forbids" ok --stub stub.exe --folder 'C:\Apps\*'
  expect_refusal "unknown code page" "unknown code page" ok --stub stub.exe --codepage 99999
  expect_refusal "multi-byte code page" "multi-byte" ok --stub stub.exe --codepage 932
  expect_refusal "short stub" "must be exactly $STUB_SIZE" ok --stub ok/file.txt
  python3 -c "import mkpackage; open('elf.bin','wb').write(mkpackage.stand_in_stub(b''))"
  expect_refusal "stub without MZ" "not a Windows executable" ok --stub elf.bin
  expect_refusal "missing input" "cannot find" ok nowhere --stub stub.exe
  mkdir -p emptydir
  expect_refusal "nothing to pack" "nothing to pack" emptydir/ --stub stub.exe
  for name in 'a:b:contains '"':'" 'what?:Windows forbids' 'x<y:Windows forbids' \
              'con.txt:reserved device name' 'LPT1:reserved device name' 'trailing.:ends with a dot' \
              "$(printf 'ctl\001'):control character" 'back\slash:backslash' \
              "$(printf 'latin\351.txt'):not valid UTF-8"; do
    file=${name%%:*} reason=${name#*:}
    [ "$file" = a ] && { file='a:b'; reason=${name#a:b:}; }
    rm -rf bad && mkdir -p bad && echo x > "bad/$file"
    expect_refusal "file name $file" "$reason" bad --stub stub.exe
  done
  # Names only archives can carry: parent references, rooted names.
  python3 - <<'PY'
import zipfile
for name, entry in [('dotdot', '../evil.txt'), ('inner', 'a/../../evil.txt'), ('dots', 'a/.../x'),
                    ('rooted', '/etc/evil'), ('clash', 'a')]:
    with zipfile.ZipFile(name + '.zip', 'w') as z:
        z.writestr(entry, 'x')
        if name == 'clash': z.writestr('a/b.txt', 'y')
PY
  expect_refusal "zip entry ../" "'.' or '..'" dotdot.zip --stub stub.exe
  expect_refusal "zip entry a/../.." "'.' or '..'" inner.zip --stub stub.exe
  expect_refusal "zip entry ..." "'.' or '..'" dots.zip --stub stub.exe
  expect_refusal "zip entry rooted" "rooted" rooted.zip --stub stub.exe
  expect_refusal "file and folder of one name" "need a folder of that name" clash.zip --stub stub.exe
  deep=d$(printf '/%0060d' 1 2 3 4 5)
  mkdir -p "long/$deep" && echo x > "long/$deep/file.txt"
  expect_refusal "name over 257 bytes" "at most 257" long --stub stub.exe
  # ZIP64 fields in a local header only are fine (the central directory has
  # the sizes); a ZIP64 directory is refused.
  python3 -c "
import zipfile
with zipfile.ZipFile('z64local.zip', 'w') as z:
    with z.open('big.txt', 'w', force_zip64=True) as f: f.write(b'x' * 1000)
data = bytearray(open('z64local.zip', 'rb').read())
data[-12:-10] = b'\xff\xff'   # the end record's entry count: look in a ZIP64 record
open('z64.zip', 'wb').write(bytes(data))"
  check "ZIP64 local header" "$PACK" create z64local.exe z64local.zip --stub stub.exe -q
  check "test ZIP64 local header" "$PACK" test z64local.exe -q
  expect_refusal "ZIP64 input" "is a ZIP64 archive" z64.zip --stub stub.exe
  mkdir -p loop/inner && ln -s .. loop/inner/up
  expect_refusal "symbolic link loop" "symbolic link loop" loop --stub stub.exe
  # Over 4 GB: a sparse file, refused before a byte is read.
  mkdir -p huge && truncate -s 4294967296 huge/big.bin
  expect_refusal "entry over 4 GB" "larger than 4 GB" huge --stub stub.exe
  # Warnings do not stop the package.
  mkdir -p warn/one warn/two && echo 1 > warn/one/Same.txt && echo 2 > warn/two/same.txt
  mkdir -p "warn/one/$(printf '%0160d' 0)" && echo 3 > "warn/one/$(printf '%0160d' 0)/f.txt"
  echo 4 > "warn/one/$(printf '\xc3\x9c')ber.txt" && echo 5 > "warn/two/$(printf '\xc3\xbc')ber.txt"
  "$PACK" create warned.exe warn/one warn/two --stub stub.exe -q > log 2>&1 || fail "warnings stopped create"
  grep -q "duplicate name same.txt" log || fail "no duplicate warning"
  grep -q "duplicate name über.txt" log || fail "no duplicate warning for names differing in a non-ASCII case"
  [ "$("$PACK" list warned.exe | wc -l)" -eq 3 ] || fail "duplicates were packed twice"
  grep -q "exceeds the 259 characters" log || fail "no long path warning"
  # Usage errors exit 2.
  "$PACK" create only.exe > /dev/null 2>&1; [ $? -eq 2 ] || fail "missing inputs is not a usage error"
  "$PACK" create x.exe ok --bogus > /dev/null 2>&1; [ $? -eq 2 ] || fail "unknown option is not a usage error"
  ;;

limits)
  # 65536 entries need ZIP64.
  mkdir many && (cd many && seq -f 'f%05g' 0 65535 | xargs touch)
  expect_refusal "more than 65535 entries" "at most 65535" many --stub stub.exe
  ;;

reproducible)
  make_tree src
  export SOURCE_DATE_EPOCH=1700000000
  check "first" "$PACK" create one.exe src --stub stub.exe -q
  touch -d '2001-02-03' src/a.txt src/sub/random.bin
  check "second" "$PACK" create two.exe src --stub stub.exe -q
  check "byte-identical packages" cmp one.exe two.exe
  unzip -l one.exe | grep -q "2023-11-14 22:13" || fail "SOURCE_DATE_EPOCH not used for the times"
  # Without it, file times are used; times before 1980 become 1980-01-01.
  unset SOURCE_DATE_EPOCH
  touch -d '1975-06-01 12:00' src/a.txt
  touch -d '2011-03-04 05:06:08' src/empty.txt
  check "with file times" "$PACK" create times.exe src --stub stub.exe -q
  unzip -l times.exe | grep -q "1980-01-01 00:00   a.txt" || fail "a time before 1980 was not clamped"
  unzip -l times.exe | grep -q "2011-03-04 05:06   empty.txt" || fail "the file time was not kept"
  ;;

engine)
  # What list, test, extract and info report for packages that are not right.
  make_tree src
  check "create" "$PACK" create pkg.exe src --stub stub.exe --command '##a.txt|##' -q
  # Into a destination whose own name has non-ASCII characters.
  dest="$(printf 'd\xc3\xa9st')"
  check "extract" "$PACK" extract pkg.exe -d "$dest" -q
  check "tree below a non-ASCII destination" diff -r src "$dest"
  "$PACK" extract pkg.exe -d again 2> log || fail "extract with a command"
  grep -qF "would now open: $WORK/again"'\a.txt '"$WORK/again"'\' log || { fail "command not shown"; cat log >&2; }
  # A damaged entry: the run ends with the stub's failure message and names it.
  python3 - <<'PY'
data = bytearray(open('pkg.exe', 'rb').read())
i = data.find(b'sub/deeper/numbers.txt', 32000) + len(b'sub/deeper/numbers.txt') + 100
data[i] ^= 0x55
open('damaged.exe', 'wb').write(bytes(data))
PY
  "$PACK" test damaged.exe > log 2>&1 && fail "a damaged package passed the test"
  grep -qF "Couldn't get extracted the selected files." log || fail "no failure message"
  grep -qF "not extracted: sub/deeper/numbers.txt" log || { fail "damaged entry not named"; cat log >&2; }
  # No archive after the header: the stub's listing message, exit 1.
  head -c 32000 pkg.exe > empty.exe
  "$PACK" list empty.exe > log 2>&1 && fail "an empty package listed"
  grep -qF "Cannot read archive header" log || fail "no listing message"
  # A package without a header: the archive right after the stub.
  (cat stub.exe; tail -c +32001 pkg.exe) > bare.exe
  "$PACK" info bare.exe | grep -q "header:        none" || fail "info on a package without header"
  [ "$("$PACK" list bare.exe | wc -l)" -eq 10 ] || fail "package without header does not list"
  printf 'MZ' > tiny.exe
  "$PACK" info tiny.exe > /dev/null 2>&1 && fail "info accepted a file shorter than the stub"
  "$PACK" test missing.exe > /dev/null 2>&1; [ $? -eq 1 ] || fail "a missing package is not a failure"
  ;;

signed)
  command -v i686-w64-mingw32-gcc > /dev/null && command -v osslsigncode > /dev/null || exit 77
  make_tree src
  # A real (tiny) Windows program padded to the stub's length, its manifest
  # keeping the blanks --elevate writes the level into.
  printf 'int main(void){return 0;}\n' > s.c
  cat > s.manifest <<'XML'
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0"><trustInfo xmlns="urn:schemas-microsoft-com:asm.v3"><security><requestedPrivileges><requestedExecutionLevel level="asInvoker"           /></requestedPrivileges></security></trustInfo></assembly>
XML
  printf '1 24 "s.manifest"\n' > s.rc
  i686-w64-mingw32-windres s.rc -O coff -o s.res && i686-w64-mingw32-gcc -Os -s s.c s.res -o s.exe || exit 77
  python3 -c "import mkpackage; open('pe.exe','wb').write(mkpackage.stand_in_stub(open('s.exe','rb').read()))"
  i686-w64-mingw32-gcc -Os -s s.c -o bare.exe && python3 -c "import mkpackage; open('bare-pe.exe','wb').write(mkpackage.stand_in_stub(open('bare.exe','rb').read()))"
  sed 's|"           />|"/>           |' pe.exe > tight.exe
  expect_refusal "no manifest" "the stub bare-pe.exe cannot ask for requireAdministrator: it has no manifest" \
    src --stub bare-pe.exe --elevate admin
  expect_refusal "no room" "cannot ask for highestAvailable: its manifest keeps no room for it: level=\"asInvoker\" needs 7 more blanks" \
    src --stub tight.exe --elevate highest

  # The level read back from the resource section (by 7z, and by info), flag
  # bit 7 unless --no-wait, the stub recognised whatever its level; rows with
  # no --stub need the stub this build embeds.
  "$PACK" create own.exe src -q 2> /dev/null && own=1 || own=0
  while IFS='|' read -r package options level flags words; do
    [ -n "$package" ] || continue
    case "$options" in *--stub*) ;; *) [ $own = 1 ] || continue ;; esac
    check "create $package" "$PACK" create $package src $options -q
    7z e -tPE -so $package .rsrc/MANIFEST/1 2> /dev/null | grep -qF "<requestedExecutionLevel level=\"$level\"" ||
      fail "$package: the manifest does not ask for $level"
    "$PACK" info $package | grep -qxF "stub:          $STUB_SIZE bytes$words" || fail "$package: info says $("$PACK" info $package | grep stub:)"
    "$PACK" info --json $package | python3 -c "
import json, sys
info = json.load(sys.stdin)
sys.exit((info['elevation'], info['flags'], info['command_waits']) != ('$level', $flags, bool($flags & 0x80)))" ||
      fail "$package: info --json on level and flags"
    # The checksum the stub's build writes, made anew over the changed image.
    python3 -c "import sys; sys.path.insert(0, '$(dirname "$0")/../../ui'); import stub_ledger
image = stub_ledger.Image(open('$package', 'rb').read()[:$STUB_SIZE])
import struct; stored, = struct.unpack_from('<I', image.data, image.checksum_at)
sys.exit(stored not in (0, image.true_checksum()))" || fail "$package: PE checksum"
  done <<'ROWS'
own.exe||asInvoker|0xEA|, the stub of this tolvane-pack
admin.exe|--elevate admin|requireAdministrator|0xEA|, the stub of this tolvane-pack, asking for administrator rights
highest.exe|--elevate=highest --no-wait|highestAvailable|0x6A|, the stub of this tolvane-pack, asking for the highest rights its user has
pkg.exe|--stub pe.exe --elevate admin --password pw|requireAdministrator|0xEA|, another stub
ROWS

  # Signed afterwards, an elevated package verifies and reads as before.
  openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
    -subj "/CN=Tolvane Test" 2> /dev/null || fail "openssl"
  check "sign" osslsigncode sign -certs cert.pem -key key.pem -n "Test package" -in pkg.exe -out signed.exe > /dev/null
  check "verify" osslsigncode verify -CAfile cert.pem signed.exe > /dev/null
  [ "$(stat -c %s signed.exe)" -gt "$(stat -c %s pkg.exe)" ] || fail "signing added nothing"
  "$PACK" info --json signed.exe | grep -qF '"elevation": "requireAdministrator"' || fail "signed: the level"
  check "list signed" "$PACK" list signed.exe > /dev/null
  check "test signed" "$PACK" test signed.exe --password pw -q
  check "extract signed" "$PACK" extract signed.exe -d out --password pw -q
  check "signed tree is identical" diff -r src out
  if [ $own = 1 ]; then
    check "sign own" osslsigncode sign -certs cert.pem -key key.pem -in admin.exe -out admin-signed.exe > /dev/null
    check "verify own" osslsigncode verify -CAfile cert.pem admin-signed.exe > /dev/null
    "$PACK" info admin-signed.exe | grep -qF "the stub of this tolvane-pack, signed, asking for administrator rights" ||
      fail "the signed elevated package's stub is not recognised"
  fi
  ;;

*) echo "unknown group $GROUP" >&2; exit 2 ;;
esac

[ $failures -eq 0 ] && echo "$GROUP: passed" || { echo "$GROUP: $failures failure(s)" >&2; exit 1; }
