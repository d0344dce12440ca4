#!/usr/bin/env python3
"""Makes the ZIP archives the page's tests open, in the folder given, and prints
what each must show as JSON: for every archive, the group of tests it is for,
and its rows in order, each with the member it reads, the file holding that
member's true bytes (or, for one too large to read whole, a `model`: a file of
its last bytes and where they start), and, for a member that cannot be read
whole, the status and reason the row must give.

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


def archive_entry(path, rows, group):
    manifest.append({'archive': path, 'rows': rows, 'group': group})


# Debian's zip: deflated, with its folders' own entries (which give no row) and a
# comment; then stored.
deflated = zip_tool(path_in('zip-deflated.zip'), '-r', '-z', stdin=b'Drive firmware, all revisions\n')
archive_entry(deflated, good_rows(deflated), 'made')
stored = zip_tool(path_in('zip-stored.zip'), '-r', '-0', '-D')
archive_entry(stored, good_rows(stored), 'made')


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
archive_entry(path_in('python-streamed.zip'), good_rows(path_in('python-streamed.zip')), 'made')

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
archive_entry(path_in('python-zip64.zip'), good_rows(path_in('python-zip64.zip')), 'made')


def damaged(name, build, rows, group='damaged'):
    path = path_in(name)
    with open(path, 'wb') as file:
        file.write(build())
    archive_entry(path, [{'name': f'{name}/{row["member"]}', **row} for row in rows], group)


good = numbered_markers(3) + b'Q'
four = numbered_markers(4) + b'Q'


def good_row(name='good.bin', data=good, bytes_file=None):
    return {'member': name, 'bytes': bytes_file or true_bytes(name, data)}


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


def empty_members(count):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, 'w') as archive:
        for number in range(count):
            archive.writestr(f'{number}.bin', b'')
    return buffer.getvalue()


def many_members():
    return empty_members(10001)


# More members than the table takes: one row for the archive, which says so.
damaged('many-members.zip', many_members, [
    {**failed_row('many-members', 2, 'the archive holds more than 10000 files'), 'name': 'many-members.zip'}])

# Starts as an archive does and is none: scanned as an image.
write(path_in('starts-like-an-archive.bin'), b'PK\x03\x04' + b'\xff' * 40 + good)
# As short as an archive's first header, with a marker: scanned as an image.
write(path_in('forty-bytes-like-an-archive.bin'), b'PK\x03\x04' + b'\xff' * 26 + b'x1.23____y')


def streamed(entries, comment=b''):
    """An archive written as a stream, each member followed by a data descriptor."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(Unseekable(buffer), 'w', zipfile.ZIP_DEFLATED) as archive:
        for name, data in entries:
            archive.writestr(name, data)
        archive.comment = comment
    return bytearray(buffer.getvalue())


def with_central_field(data, member, at, value):
    """The archive with a 32-bit field of a member's table entry set to `value`."""
    struct.pack_into('<I', data, central_entries(data)[member] + at, value)
    return data


def ends_early():
    # The whole deflate stream, its CRC right, but the entry claims a byte more.
    data = archive_bytes([('short.bin', four), ('good.bin', good)])
    return with_central_field(data, 'short.bin', 24, len(four) + 1)


damaged('ends-early.zip', ends_early, [
    failed_row('short.bin', 4, 'the member ends early', four), good_row()])


def streamed_cut_short():
    data = streamed([('streamed.bin', four), ('later.bin', good)])
    return data[:30 + len('streamed.bin') + 5]


# A download cut short in a member whose lengths follow its bytes: they are lost
# with the table, so the member cannot be read, and no member after it found.
damaged('streamed-cut-short.zip', streamed_cut_short, [
    failed_row('streamed.bin', 2, "the archive's table of contents is missing")])


def claims_five_thousand_times():
    data = archive_bytes([('bomb-claim.bin', good), ('good.bin', good)])
    at = central_entries(data)['bomb-claim.bin']
    compressed = struct.unpack_from('<I', data, at + 20)[0]
    return with_central_field(data, 'bomb-claim.bin', 24, 5000 * compressed)


damaged('claims-5000-times.zip', claims_five_thousand_times, [
    failed_row('bomb-claim.bin', 2, 'the member claims more bytes than it can hold'), good_row()])


def header_past_the_end():
    # Ten spare bytes before the table, where the entry points: its header would
    # run into the table.
    data = archive_bytes([('good.bin', good), ('late.bin', good)])
    table = min(central_entries(data).values())
    data[table:table] = bytes(10)
    end = data.rindex(b'PK\x05\x06')
    struct.pack_into('<I', data, end + 16, table + 10)
    return with_central_field(data, 'late.bin', 42, table)


damaged('header-past-the-end.zip', header_past_the_end, [
    good_row(), failed_row('late.bin', 2, 'the member lies past the end of the archive')])


def alias_into_an_inner_archive():
    # Entries that point into a stored archive's bytes: at its own first header,
    # as a zip bomb made of one archive inside another does, and at its last
    # byte, which lies past the member's header and compressed bytes alone.
    inner = io.BytesIO()
    with zipfile.ZipFile(inner, 'w', zipfile.ZIP_STORED) as archive:
        archive.writestr('inside.bin', four)
    data = archive_bytes([('good.bin', good), ('inner.zip', inner.getvalue(), zipfile.ZIP_STORED)])
    entries = central_entries(data)
    inner_start = struct.unpack_from('<I', data, entries['inner.zip'] + 42)[0] + 30 + len('inner.zip')
    inner_last = inner_start + len(inner.getvalue()) - 1
    end = data.rindex(b'PK\x05\x06')
    count, _, start = struct.unpack_from('<HII', data, end + 10)
    first = bytes(data[entries['inner.zip']:end])
    aliases = b''
    for name, offset in ((b'alias-one.bin', inner_start), (b'alias-two.bin', inner_last)):
        alias = bytearray(first.replace(b'inner.zip', name[:len(b'inner.zip')]))
        struct.pack_into('<I', alias, 42, offset)
        aliases += alias
    data[end:end] = aliases
    end += len(aliases)
    struct.pack_into('<HHII', data, end + 8, count + 2, count + 2, end - start, start)
    return data


damaged('alias-into-an-inner-archive.zip', alias_into_an_inner_archive, [
    good_row(), failed_row('inner.zip', 2, 'the member overlaps another'),
    failed_row('alias-one', 2, 'the member overlaps another'),
    failed_row('alias-two', 2, 'the member overlaps another')])


def many_members_table_cut_off():
    data = many_members()
    return data[:min(central_entries(bytearray(data)).values())]


damaged('many-members-table-cut-off.zip', many_members_table_cut_off, [
    {**failed_row('many-members-table-cut-off', 2, 'the archive holds more than 10000 files'),
     'name': 'many-members-table-cut-off.zip'}])

# The reader's edges, each with a test of its own.
damaged('streamed-with-comment.zip', lambda: streamed([('a.bin', four), ('b.bin', good)], b'c' * 300),
        [good_row('a.bin', four), good_row('b.bin')], 'edges')
good_file = true_bytes('good.bin', good)
damaged('streamed-1500-members.zip', lambda: streamed([(f'{n:04}.bin', good) for n in range(1500)]),
        [good_row(f'{n:04}.bin', bytes_file=good_file) for n in range(1500)], 'edges')


empty_file = true_bytes('empty', b'')
damaged('exactly-10000-members.zip', lambda: empty_members(10000),
        [good_row(f'{n}.bin', bytes_file=empty_file) for n in range(10000)], 'edges')


def latin1_name():
    # Stored without the UTF-8 flag, as old tools store names: one byte a letter.
    data = archive_bytes([('caf?.bin', four)])
    return data.replace(b'caf?.bin', b'caf\xe9.bin')


damaged('latin1-name.zip', latin1_name, [{**good_row('café.bin', four), 'member': 'caf\xe9.bin'}], 'edges')
damaged('empty.zip', lambda: struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, 0, 0, 0, 0, 0), [], 'edges')


def gf2_times(matrix, vector):
    result, bit = 0, 0
    while vector:
        if vector & 1:
            result ^= matrix[bit]
        vector >>= 1
        bit += 1
    return result


def crc32_after_zeros(crc, count):
    """zlib.crc32 carried over `count` zero bytes without making them: over a zero
    byte the CRC register changes by a linear map, raised here to the count's
    power by squaring, as 32 by 32 bit matrices."""
    operator = [0xEDB88320] + [1 << bit for bit in range(31)]  # one zero bit
    for _ in range(3):
        operator = [gf2_times(operator, column) for column in operator]
    register = crc ^ 0xFFFFFFFF
    while count:
        if count & 1:
            register = gf2_times(operator, register)
        operator = [gf2_times(operator, column) for column in operator]
        count >>= 1
    return register ^ 0xFFFFFFFF


def sparse_stored_archive(path, members):
    """A stored archive written by hand, whose members are (name, zeros, tail):
    `zeros` zero bytes, left as a hole in the file, then the bytes `tail`.
    Sizes and offsets past 32 bits go into Zip64 fields, and the table's place
    into a Zip64 end record."""
    largest = 0xFFFFFFFF
    table = []
    with open(path, 'wb') as file:
        for name, zeros, tail in members:
            offset, size = file.tell(), zeros + len(tail)
            crc = zlib.crc32(tail, crc32_after_zeros(0, zeros))
            wide = size >= largest
            extra = struct.pack('<HHQQ', 1, 16, size, size) if wide else b''
            file.write(struct.pack('<IHHHHHIIIHH', 0x04034B50, 45, 0, 0, 0, 0x5B8B, crc,
                                   largest if wide else size, largest if wide else size, len(name), len(extra)))
            file.write(name.encode() + extra)
            file.seek(zeros, os.SEEK_CUR)
            file.write(tail)
            table.append((name, size, offset, crc))
        start = file.tell()
        for name, size, offset, crc in table:
            fields = (struct.pack('<QQ', size, size) if size >= largest else b'') + \
                     (struct.pack('<Q', offset) if offset >= largest else b'')
            extra = struct.pack('<HH', 1, len(fields)) + fields if fields else b''
            file.write(struct.pack('<IHHHHHHIIIHHHHHII', 0x02014B50, 45, 45, 0, 0, 0, 0x5B8B, crc,
                                   min(size, largest), min(size, largest), len(name), len(extra), 0, 0, 0, 0,
                                   min(offset, largest)))
            file.write(name.encode() + extra)
        end = file.tell()
        file.write(struct.pack('<IQHHIIQQQQ', 0x06064B50, 44, 45, 45, 0, 0, len(table), len(table), end - start, start))
        file.write(struct.pack('<IIQI', 0x07064B50, 0, end, 1))
        file.write(struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, len(table), len(table), end - start, largest, 0))


def sparse_row(archive, name, zeros, tail):
    """A row of a sparse member: its true bytes as a sparse file, and its model."""
    bytes_file = path_in('members', f'{archive}-{name}')
    with open(bytes_file, 'wb') as file:
        file.truncate(zeros)
        file.seek(zeros)
        file.write(tail)
    return {'member': name, 'name': f'{archive}/{name}', 'bytes': bytes_file,
            'model': {'file': true_bytes(f'{archive}-{name}-tail', tail), 'offset': zeros}}


def sparse_archive(name, members, group):
    sparse_stored_archive(path_in(name), members)
    archive_entry(path_in(name), [sparse_row(name, *member) for member in members], group)


# A member of more than 4 GiB, with markers at its end, and one that starts
# past 4 GiB: every size and offset read as 8 bytes.
GIBIBYTE = 2**30
sparse_archive('zip64-past-4-GiB.zip', [('huge.bin', 4 * GIBIBYTE + 5, b'x1.23____y' + good),
                                        ('after.bin', 0, four)], 'past-4-GiB')
# A long member, for the progress bar; one far too long to read in a test's
# time, between two short ones, for Cancel.
sparse_archive('long-member.zip', [('first.bin', 0, good), ('long.bin', 512 * MEBIBYTE, b'x9.99____y')],
               'long-member')
sparse_archive('cancelled-member.zip', [('first.bin', 0, good), ('endless.bin', 64 * GIBIBYTE, b'x9.99____y'),
                                        ('last.bin', 0, four)], 'cancelled-member')


def crc_wrong_part_way():
    # Versions that differ from four.bin's, then a flipped byte far from any
    # marker: the CRC-32, and so the read, fails only at the member's end.
    data = b'Q1.2345__Q7.2345__Q3.2345__Q' + b'f' * 1000
    archive = archive_bytes([('revision.bin', data)], level=0)
    at = archive.index(b'f' * 1000) + 500
    archive[at] ^= 0x01
    return archive, data


damaged('crc-wrong-part-way.zip', lambda: crc_wrong_part_way()[0],
        [failed_row('revision.bin', 4, "the member's CRC-32 does not match", crc_wrong_part_way()[1])],
        'part-way')

json.dump(manifest, sys.stdout, indent=1)
