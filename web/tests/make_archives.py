#!/usr/bin/env python3
"""Makes the ZIP archives the page's tests open, in the folder given, and prints
what each must show as JSON: for every archive, its rows in order, each with the
member it reads, the file holding that member's true bytes, and, for a member
that cannot be read whole, the status and reason the row must give.

    make_archives.py FOLDER SAMPLE_IMAGE

Debian's zip makes the archives people download; Python's zipfile makes those
with data descriptors, Zip64 records, other methods, and the damaged ones, whose
bytes are then changed here.
"""

import io
import json
import os
import struct
import subprocess
import sys
import zipfile
import zlib

folder, sample_image = sys.argv[1:3]
os.makedirs(folder, exist_ok=True)
MEBIBYTE = 2**20


def numbered_markers(count):
    """'Qn.2345__' for n = 1, 2, ...: each reported as 'n.2345' once the next Q ends its run."""
    return ''.join(f'Q{n % 9 + 1}.2345__' for n in range(count)).encode()


def path_in(*parts):
    return os.path.join(folder, *parts)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as file:
        file.write(data)
    return path


def true_bytes(name, data):
    """The member's bytes as a file of their own, for the model to read."""
    return write(path_in('members', name.replace('/', '_')), data)


with open(sample_image, 'rb') as file:
    sample = file.read()

# Members as people keep them: in a subfolder, empty, a marker straddling the
# 64 KiB and 1 MiB edges where browsers hand over their chunks, and an archive
# inside the archive, which is scanned as bytes.
inner = io.BytesIO()
with zipfile.ZipFile(inner, 'w', zipfile.ZIP_STORED) as archive:
    archive.writestr('inside.bin', numbered_markers(2) + b'Q')
members = {
    'fw/1.02.bin': sample,
    'fw/across-edges.bin': b'f' * (64 * 1024 - 4) + b'x1.23____y' + b'f' * (MEBIBYTE - 64 * 1024 - 10) + b'x4.56____y'
                           + numbered_markers(3),
    'fw/empty.bin': b'',
    'fw/older/0.99.bin': numbered_markers(4) + b'Q',
    'inner.zip': inner.getvalue(),
}
tree = path_in('tree')
for name, data in members.items():
    write(os.path.join(tree, name), data)
order = sorted(members)


def zip_tool(archive, *arguments, stdin=None):
    subprocess.run(['zip', '-q', '-X', *arguments, os.path.abspath(archive), 'fw', 'inner.zip'],
                   cwd=tree, check=True, input=stdin)
    return archive


def good_rows(archive):
    """A row for each member file, in the archive's own order."""
    name = os.path.basename(archive)
    with zipfile.ZipFile(archive) as opened:
        paths = [path for path in opened.namelist() if not path.endswith('/')]
    assert sorted(paths) == order, paths
    return [{'member': path, 'name': f'{name}/{path}', 'bytes': true_bytes(f'{name}-{path}', members[path])}
            for path in paths]


manifest = []


def archive_entry(path, rows):
    manifest.append({'archive': path, 'rows': rows})


# Debian's zip: deflated, with its folders' own entries (which give no row) and a
# comment; then stored.
deflated = zip_tool(path_in('zip-deflated.zip'), '-r', '-z', stdin=b'Drive firmware, all revisions\n')
archive_entry(deflated, good_rows(deflated))
stored = zip_tool(path_in('zip-stored.zip'), '-r', '-0', '-D')
archive_entry(stored, good_rows(stored))


class Unseekable(io.RawIOBase):
    """A stream zipfile cannot seek back in: it then writes data descriptors."""

    def __init__(self, target):
        self.target = target

    def writable(self):
        return True

    def write(self, data):
        return self.target.write(data)


# Python's zipfile: data descriptors after each member, written as a stream.
with open(path_in('python-streamed.zip'), 'wb') as target:
    with zipfile.ZipFile(Unseekable(target), 'w', zipfile.ZIP_DEFLATED) as archive:
        for name in order:
            archive.writestr(name, members[name])
archive_entry(path_in('python-streamed.zip'), good_rows(path_in('python-streamed.zip')))

# Zip64 everywhere: every size and offset in the Zip64 extra field, and the
# Zip64 end record and its locator before the ordinary one.
saved_limits = zipfile.ZIP64_LIMIT, zipfile.ZIP_FILECOUNT_LIMIT
zipfile.ZIP64_LIMIT, zipfile.ZIP_FILECOUNT_LIMIT = 0, 0
with zipfile.ZipFile(path_in('python-zip64.zip'), 'w', zipfile.ZIP_DEFLATED) as archive:
    for name in order:
        with archive.open(name, 'w', force_zip64=True) as member:
            member.write(members[name])
    archive.comment = b'Zip64 with a comment'
zipfile.ZIP64_LIMIT, zipfile.ZIP_FILECOUNT_LIMIT = saved_limits
archive_entry(path_in('python-zip64.zip'), good_rows(path_in('python-zip64.zip')))


def damaged(name, build, rows):
    path = path_in(name)
    with open(path, 'wb') as file:
        file.write(build())
    archive_entry(path, [{'name': f'{name}/{row["member"]}', **row} for row in rows])


good = numbered_markers(3) + b'Q'
four = numbered_markers(4) + b'Q'


def good_row(name='good.bin', data=good):
    return {'member': name, 'bytes': true_bytes(name, data)}


def failed_row(member, status, reason, data=b''):
    return {'member': member, 'bytes': true_bytes(member, data), 'status': status, 'reason': reason}


def archive_bytes(entries, compression=zipfile.ZIP_DEFLATED, level=None):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, 'w', compression, compresslevel=level) as archive:
        for name, data, *method in entries:
            info = zipfile.ZipInfo(name, (2026, 12, 11, 0, 0, 0))
            info.compress_type = method[0] if method else compression
            info._compresslevel = level  # what ZipFile's compresslevel sets for names, not for ZipInfos
            archive.writestr(info, data)
    return bytearray(buffer.getvalue())


def central_entries(data):
    """Each central directory entry's offset in the archive, by member name."""
    end = data.rindex(b'PK\x05\x06')
    count, _, start = struct.unpack_from('<HII', data, end + 10)
    at, entries = start, {}
    for _ in range(count):
        name_length, extra_length, comment_length = struct.unpack_from('<HHH', data, at + 28)
        entries[data[at + 46:at + 46 + name_length].decode()] = at
        at += 46 + name_length + extra_length + comment_length
    return entries


def flipped_byte():
    # Level 0 keeps the bytes as they are, in deflate's stored blocks: the flip
    # changes a byte of the member and nothing else.
    data = archive_bytes([('flipped.bin', four), ('good.bin', good)], level=0)
    at = data.index(b'Q2.2345')
    data[at + 1] ^= 0x01
    return data


flipped = bytearray(four)
flipped[flipped.index(b'Q2.2345') + 1] ^= 0x01
damaged('flipped-byte.zip', flipped_byte, [
    failed_row('flipped.bin', 4, "the member's CRC-32 does not match", flipped), good_row()])


def cut_short():
    data = archive_bytes([('first.bin', good), ('cut.bin', four + b'f' * 4000, zipfile.ZIP_STORED), ('last.bin', good)])
    return data[:data.index(b'Q4.2345') + 3]


damaged('cut-short.zip', cut_short, [
    good_row('first.bin'),
    failed_row('cut.bin', 4, 'the archive ends before the member does', four[:four.index(b'Q4.2345') + 3])])


def encrypted():
    path = path_in('encrypted-source')
    write(os.path.join(path, 'secret.bin'), good)
    write(os.path.join(path, 'good.bin'), good)
    target = path_in('encrypted-parts.zip')
    subprocess.run(['zip', '-q', '-X', '-P', 'secret', os.path.abspath(target), 'secret.bin'], cwd=path, check=True)
    subprocess.run(['zip', '-q', '-X', os.path.abspath(target), 'good.bin'], cwd=path, check=True)
    with open(target, 'rb') as file:
        return file.read()


damaged('encrypted.zip', encrypted, [failed_row('secret.bin', 2, 'the member is encrypted'), good_row()])

damaged('other-methods.zip', lambda: archive_bytes([
    ('bzip2.bin', good, zipfile.ZIP_BZIP2), ('lzma.bin', good, zipfile.ZIP_LZMA), ('good.bin', good)]), [
    failed_row('bzip2.bin', 2, 'compression method 12 is not supported'),
    failed_row('lzma.bin', 2, 'compression method 14 is not supported'), good_row()])


def pointing_past_the_end():
    data = archive_bytes([('lost.bin', good), ('good.bin', good)])
    struct.pack_into('<I', data, central_entries(data)['lost.bin'] + 42, len(data) + 1000)
    return data


damaged('points-past-the-end.zip', pointing_past_the_end, [
    failed_row('lost.bin', 2, 'the member lies past the end of the archive'), good_row()])


def deflate_bomb():
    # 64 MiB of zeros in some 64 KiB, whose entry says 1000 bytes.
    data = archive_bytes([('bomb.bin', bytes(64 * MEBIBYTE)), ('good.bin', good)], level=9)
    struct.pack_into('<I', data, central_entries(data)['bomb.bin'] + 24, 1000)
    return data


damaged('deflate-bomb.zip', deflate_bomb, [
    failed_row('bomb.bin', 4, 'the member holds more bytes than its entry says', bytes(1000)), good_row()])


def overlapping():
    # A second entry for the first member's bytes: the shape of a zip bomb made
    # of overlapping members.
    data = archive_bytes([('shared.bin', four), ('good.bin', good)])
    entries = central_entries(data)
    end = data.rindex(b'PK\x05\x06')
    first = data[entries['shared.bin']:entries['good.bin']]
    alias = bytearray(first.replace(b'shared.bin', b'alias-.bin'))
    count, _, start = struct.unpack_from('<HII', data, end + 10)
    data[end:end] = alias
    end += len(alias)
    struct.pack_into('<HHII', data, end + 8, count + 1, count + 1, data.rindex(b'PK\x05\x06') - start, start)
    return data


damaged('overlapping.zip', overlapping, [
    failed_row('shared.bin', 2, 'the member overlaps another'), good_row(),
    failed_row('alias-.bin', 2, 'the member overlaps another')])

def claims_two_to_the_64():
    # Every size in the Zip64 extra field, the member's own first: 2^64 - 1.
    saved = zipfile.ZIP64_LIMIT
    zipfile.ZIP64_LIMIT = 0
    data = archive_bytes([('huge-claim.bin', good), ('good.bin', good)])
    zipfile.ZIP64_LIMIT = saved
    at = central_entries(data)['huge-claim.bin']
    name_length, extra_length = struct.unpack_from('<HH', data, at + 28)
    extra = at + 46 + name_length
    assert struct.unpack_from('<HH', data, extra) == (0x0001, extra_length - 4)
    struct.pack_into('<Q', data, extra + 4, 2**64 - 1)
    return data


damaged('claims-2-to-the-64.zip', claims_two_to_the_64, [
    failed_row('huge-claim.bin', 2, 'the member claims more bytes than it can hold'), good_row()])


def many_members():
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, 'w') as archive:
        for number in range(10001):
            archive.writestr(f'{number}.bin', b'')
    return buffer.getvalue()


# More members than the table takes: one row for the archive, which says so.
damaged('many-members.zip', many_members, [
    {**failed_row('many-members', 2, 'the archive holds more than 10000 files'), 'name': 'many-members.zip'}])

# Starts as an archive does and is none: scanned as an image.
write(path_in('starts-like-an-archive.bin'), b'PK\x03\x04' + b'\xff' * 40 + good)

json.dump(manifest, sys.stdout, indent=1)
