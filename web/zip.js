// Opens ZIP archives member by member, straight from the file as the browser
// hands it over: the table of contents is read, then each member's bytes are
// streamed as they are asked for, inflated by the browser's own
// DecompressionStream and checked against their CRC-32 and size as they arrive.
// Nothing is unpacked anywhere, and neither an archive nor a member is held
// whole.
//
//   fwtallyZip.startsLikeArchive(firstBytes)      // worth opening as one
//   fwtallyZip.fileReader(file)   // a file's bytes, never far ahead of the reader
//   const archive = await fwtallyZip.open(file)   // one that starts like one;
//                                                 // null: not an archive after all
//   archive.problem       // why none of it can be read, or null
//   archive.members       // { path, compressedSize, problem }, folders left out
//   archive.read(member, onCompressedBytes)
//                         // a reader of the member's bytes, as a stream's
//                         // reader, read one piece at a time; throws
//                         // ArchiveProblem where the member cannot be opened
//   archive.crcProblem(member, crc)
//                         // an ArchiveProblem where the CRC-32 of the bytes
//                         // read is not the member's, else null
//   archive.close()       // once done with its members
//
// The CRC-32 is left to the reader of the bytes, who has them at hand: worked
// out here, in the browsers' JavaScript, it took longer than reading.
//
// Members are read one at a time. Those that lie one after another, as in
// nearly every archive, are read from one stream of the file, as a bare read of
// it would be: a stream opened for each member costs as much again.
// A member that ends early, or holds more bytes than its entry says, errors
// with an ArchiveProblem that says which. A hostile
// archive costs no more than an honest one of its size: no count or length read
// from it decides how much is held at once.
'use strict';

const fwtallyZip = (() => {
  class ArchiveProblem extends Error {}

  const signatures = {
    localHeader: 0x04034b50,
    centralHeader: 0x02014b50,
    end: 0x06054b50,
    zip64End: 0x06064b50,
    zip64Locator: 0x07064b50,
  };
  const endLength = 22;
  const localHeaderLength = 30;
  const centralHeaderLength = 46;
  const longestComment = 0xffff;
  // A larger table of contents, some million members, is refused rather than
  // held: its size is the archive's own word. So is an archive of more members
  // than a table of rows can show.
  const longestCentralDirectory = 64 * 2 ** 20;
  const mostMembers = 10000;
  // Deflate makes at most 1032 bytes of one; an entry that claims more cannot
  // be a deflated member as it says.
  const deflateLimit = 1032;
  // Browsers inflate each piece handed to them whole, whatever the reader takes:
  // pieces of 16 KiB hold what one piece inflates to below 17 MiB.
  const inflatedPiece = 16 * 1024;
  // Bytes up to this far ahead are read past rather than read from a new stream.
  const longestSkip = 2 ** 20;
  // The most of a file a browser is let read ahead of the page.
  const readWindow = 64 * 2 ** 20;

  // A reader of the file's bytes from `start` to its end, which opens a stream
  // on one window of the file at a time: WebKit's file streams read the whole
  // file into memory as fast as the disk gives it, however little is taken
  // from them, so that a stream on all of a large file fills the memory. A new
  // stream is slow to start in Chromium, so windows are large: 16 MiB ones
  // read an archive of 1,000 images a fifth slower there. A window cut short
  // (the file shrank) ends the bytes there.
  function fileReader(file, start = 0) {
    let reader = null;
    let position = start;
    let windowEnd = start;
    let ended = false;
    return {
      async read() {
        for (;;) {
          if (reader === null) {
            if (ended || position >= file.size) {
              return { done: true, value: undefined };
            }
            windowEnd = Math.min(position + readWindow, file.size);
            reader = file.slice(position, windowEnd).stream().getReader();
          }
          const chunk = await reader.read();
          if (!chunk.done) {
            position += chunk.value.length;
            return chunk;
          }
          reader = null;
          if (position < windowEnd) {
            ended = true;
          }
        }
      },
      cancel(reason) {
        ended = true;
        return reader?.cancel(reason) ?? Promise.resolve();
      },
    };
  }

  // Reads the archive forward, one stream of it at a time: a read at or a
  // little ahead of where the last one ended goes on in the same stream, and
  // any other opens a new one there. Reads run one at a time, in the order
  // asked, whoever asks; the first need not wait for anything.
  function forwardReader(file) {
    let reader = null;
    let position = 0;  // the archive offset of buffered[0]
    let buffered = new Uint8Array(0);
    let busy = false;
    const waiting = [];

    // Waits for the reads asked for before, if any; the turn passes on in
    // `release`, the first read's without waiting at all.
    async function turn() {
      if (busy) {
        await new Promise((resolve) => waiting.push(resolve));
      }
      busy = true;
    }

    function release() {
      const next = waiting.shift();
      if (next) {
        next();
      } else {
        busy = false;
      }
    }

    // At most `limit` bytes at the archive offset `at`: at least one, or none at
    // the end of the file. One function, with one wait in the usual case: a
    // browser that hands over a file 64 KiB at a time asks for this often, and
    // each step through a promise costs.
    async function piece(at, limit) {
      if (busy) {
        await turn();
      }
      busy = true;
      try {
        if (reader === null || at < position || at - position > longestSkip) {
          reader?.cancel().catch(() => {});
          reader = fileReader(file, at);
          position = at;
          buffered = new Uint8Array(0);
        }
        while (position < at || buffered.length === 0) {
          if (buffered.length === 0) {
            const chunk = await reader.read();
            if (chunk.done) {
              return new Uint8Array(0);
            }
            buffered = chunk.value;
          }
          const skipped = Math.min(buffered.length, at - position);
          buffered = buffered.subarray(skipped);
          position += skipped;
        }
        const taken = buffered.subarray(0, limit);
        buffered = buffered.subarray(taken.length);
        position += taken.length;
        return taken;
      } catch (error) {
        reader = null;  // the next read starts afresh
        throw error;
      } finally {
        release();
      }
    }

    // `length` bytes at `at`, or as many as the file holds.
    async function bytes(at, length) {
      const gathered = new Uint8Array(length);
      let count = 0;
      for (let next; count < length && (next = await piece(at + count, length - count)).length > 0;) {
        gathered.set(next, count);
        count += next.length;
      }
      return new DataView(gathered.buffer, 0, count);
    }

    async function close() {
      await turn();
      reader?.cancel().catch(() => {});
      reader = null;
      release();
    }

    return { piece, bytes, close };
  }

  async function bytesAt(file, start, length) {
    const end = Math.min(file.size, start + length);
    if (start >= end) {
      return new DataView(new ArrayBuffer(0));
    }
    return new DataView(await file.slice(start, end).arrayBuffer());
  }

  const u16 = (view, at) => view.getUint16(at, true);
  const u32 = (view, at) => view.getUint32(at, true);
  // Exact up to 2^53; larger counts only ever compare as too large.
  const u64 = (view, at) => Number(view.getBigUint64(at, true));

  // Names are UTF-8 where the entry says so (bit 11) or where they read as it;
  // otherwise each byte is taken as Latin-1.
  const utf8 = new TextDecoder('utf-8', { fatal: true });
  const latin1 = new TextDecoder('latin1');
  function nameOf(view, at, length) {
    const bytes = new Uint8Array(view.buffer, view.byteOffset + at, length);
    try {
      return utf8.decode(bytes);
    } catch {
      return latin1.decode(bytes);
    }
  }

  // The Zip64 extra field carries, in this order, each of the four values whose
  // ordinary field holds its largest number.
  function applyZip64(view, extraStart, extraLength, fields) {
    const wanted = Object.entries(fields).filter(([, value]) => value.wide);
    for (let at = extraStart; at + 4 <= extraStart + extraLength;) {
      const id = u16(view, at);
      const length = u16(view, at + 2);
      if (id === 0x0001) {
        let field = at + 4;
        for (const [, value] of wanted) {
          const width = value.bytes;
          if (field + width > at + 4 + length) {
            throw new ArchiveProblem('its Zip64 record is cut short');
          }
          value.value = width === 8 ? u64(view, field) : u32(view, field);
          field += width;
        }
        return;
      }
      at += 4 + length;
    }
    if (wanted.length > 0) {
      throw new ArchiveProblem('its Zip64 record is missing');
    }
  }

  function wideField(value, largest, bytes = 8) {
    return { value, wide: value === largest, bytes };
  }

  // The end record, found from the file's end back over any comment: the last
  // signature whose comment runs exactly to the end of the file.
  async function findEnd(file) {
    const tailLength = Math.min(file.size, endLength + longestComment);
    const tailStart = file.size - tailLength;
    const tail = await bytesAt(file, tailStart, tailLength);
    for (let at = tailLength - endLength; at >= 0; --at) {
      if (u32(tail, at) === signatures.end && at + endLength + u16(tail, at + 20) === tailLength) {
        return { at: tailStart + at, view: new DataView(tail.buffer, at, endLength) };
      }
    }
    return null;
  }

  // Where the table of contents lies and how long it is, from the end record or,
  // where that says so, from the Zip64 end record it points to.
  async function centralDirectoryPlace(file, end) {
    let size = u32(end.view, 12);
    let start = u32(end.view, 16);
    let limit = end.at;
    const locator = await bytesAt(file, end.at - 20, 20);
    if (end.at >= 20 && u32(locator, 0) === signatures.zip64Locator) {
      const recordAt = u64(locator, 8);
      const record = await bytesAt(file, recordAt, 56);
      if (record.byteLength < 56 || u32(record, 0) !== signatures.zip64End || recordAt + 56 > end.at - 20) {
        throw new ArchiveProblem('its Zip64 end record is missing');
      }
      size = u64(record, 40);
      start = u64(record, 48);
      limit = recordAt;
    }
    if (start + size > limit) {
      throw new ArchiveProblem('its table of contents runs past the end of the file');
    }
    if (size > longestCentralDirectory) {
      throw new ArchiveProblem('its table of contents is too large');
    }
    return { start, size };
  }

  function memberProblem(entry, dataLimit) {
    if (entry.flags & 0x0001) {
      return 'the member is encrypted';
    }
    if (entry.method !== 0 && entry.method !== 8) {
      return `compression method ${entry.method} is not supported`;
    }
    if (entry.headerOffset + localHeaderLength > dataLimit) {
      return 'the member lies past the end of the archive';
    }
    if (entry.method === 0 && entry.compressedSize !== entry.size) {
      return 'the member\'s stored size and length differ';
    }
    if (entry.method === 8 && entry.size > deflateLimit * entry.compressedSize + 1024) {
      return 'the member claims more bytes than it can hold';
    }
    return null;
  }

  // Every member from the table of contents, in its order.
  async function listFromCentralDirectory(file, end) {
    const place = await centralDirectoryPlace(file, end);
    const view = await bytesAt(file, place.start, place.size);
    const entries = [];
    for (let at = 0; at < place.size;) {
      if (at + centralHeaderLength > place.size || u32(view, at) !== signatures.centralHeader) {
        throw new ArchiveProblem('its table of contents is damaged');
      }
      const nameLength = u16(view, at + 28);
      const extraLength = u16(view, at + 30);
      const next = at + centralHeaderLength + nameLength + extraLength + u16(view, at + 32);
      if (next > place.size) {
        throw new ArchiveProblem('its table of contents is damaged');
      }
      const fields = {
        size: wideField(u32(view, at + 24), 0xffffffff),
        compressedSize: wideField(u32(view, at + 20), 0xffffffff),
        headerOffset: wideField(u32(view, at + 42), 0xffffffff),
        disk: wideField(u16(view, at + 34), 0xffff, 4),
      };
      applyZip64(view, at + centralHeaderLength + nameLength, extraLength, fields);
      entries.push({
        path: nameOf(view, at + centralHeaderLength, nameLength),
        flags: u16(view, at + 8),
        method: u16(view, at + 10),
        crc: u32(view, at + 16),
        compressedSize: fields.compressedSize.value,
        size: fields.size.value,
        headerOffset: fields.headerOffset.value,
        nameLength,
      });
      at = next;
    }
    // Members whose bytes overlap, the makings of a zip bomb, are not read. A
    // member reaches at least as far as its header, its name as the table gives
    // it, and its compressed bytes.
    const byPlace = [...entries].sort((one, other) => one.headerOffset - other.headerOffset);
    let reach = null;
    for (const entry of byPlace) {
      if (reach !== null && entry.headerOffset < reach.end) {
        entry.overlaps = true;
        reach.entry.overlaps = true;
      }
      const end = entry.headerOffset + localHeaderLength + entry.nameLength + entry.compressedSize;
      if (reach === null || end > reach.end) {
        reach = { entry, end };
      }
    }
    return entries.map((entry) => ({
      ...entry,
      dataLimit: place.start,
      problem: entry.overlaps ? 'the member overlaps another' : memberProblem(entry, place.start),
    }));
  }

  // The local header at `at`, read with `bytes(at, length)`: its fields, or
  // null where there is none; one cut short by `limit` is only `cutShort`.
  async function localHeader(bytes, at, limit) {
    const head = await bytes(at, localHeaderLength);
    if (head.byteLength < localHeaderLength || u32(head, 0) !== signatures.localHeader) {
      return at + localHeaderLength > limit ? { cutShort: true } : null;
    }
    const nameLength = u16(head, 26);
    const extraLength = u16(head, 28);
    const dataStart = at + localHeaderLength + nameLength + extraLength;
    const rest = await bytes(at + localHeaderLength, nameLength + extraLength);
    if (rest.byteLength < nameLength + extraLength || dataStart > limit) {
      return { cutShort: true };
    }
    return { head, rest, nameLength, extraLength, dataStart };
  }

  function plausibleName(path) {
    return path.length > 0 && !/[\u0000-\u001f\u007f\ufffd]/.test(path);
  }

  // Where the table of contents is lost, as in an archive cut short, the members
  // are found one after another from the start, as far as their headers tell
  // their lengths. The first header must look like one, or the file is no
  // archive at all.
  async function listFromLocalHeaders(file) {
    const entries = [];
    const bytes = (at, length) => bytesAt(file, at, length);
    for (let at = 0; at < file.size && entries.length <= mostMembers;) {
      const header = await localHeader(bytes, at, file.size);
      if (header === null || header.cutShort) {
        break;
      }
      const { head, rest, nameLength, extraLength } = header;
      const path = nameOf(rest, 0, nameLength);
      if (entries.length === 0 && (!plausibleName(path) || (u16(head, 4) & 0xff) > 63)) {
        return null;
      }
      const fields = {
        size: wideField(u32(head, 22), 0xffffffff),
        compressedSize: wideField(u32(head, 18), 0xffffffff),
      };
      const entry = {
        path,
        flags: u16(head, 6),
        method: u16(head, 8),
        crc: u32(head, 14),
        headerOffset: at,
        dataLimit: file.size,
      };
      try {
        applyZip64(rest, nameLength, extraLength, fields);
      } catch (problem) {
        entries.push({ ...entry, compressedSize: 0, size: 0, problem: problem.message });
        break;
      }
      Object.assign(entry, { compressedSize: fields.compressedSize.value, size: fields.size.value });
      if (entry.flags & 0x0008) {
        // Its lengths follow its bytes, and only the lost table says where.
        entries.push({ ...entry, problem: 'the archive\'s table of contents is missing' });
        break;
      }
      entries.push({ ...entry, problem: memberProblem(entry, file.size) });
      at = header.dataStart + entry.compressedSize;
    }
    return entries.length > 0 ? entries : null;
  }

  // The member's bytes: stored, or inflated as they arrive, and each piece
  // counted into the CRC-32 and the length before it is handed on. A problem
  // found is thrown only when the pieces before it have been taken, so that what
  // was read before it is scanned before it, whatever the browser buffers.
  function read(archiveReader, file, entry, header, onCompressedBytes) {
    const dataEnd = header.dataStart + entry.compressedSize;
    const readEnd = Math.min(dataEnd, entry.dataLimit);
    const cutShort = dataEnd > Math.min(file.size, entry.dataLimit);
    let at = header.dataStart;
    // The next piece of the member's compressed bytes, of at most `limit`.
    const nextCompressed = async (limit) => {
      const piece = at < readEnd ? await archiveReader.piece(at, Math.min(limit, readEnd - at)) : null;
      if (piece === null || piece.length === 0) {
        return { done: true };
      }
      at += piece.length;
      onCompressedBytes(piece.length);
      return { done: false, value: piece };
    };
    // Stored bytes are the member's own, taken as they come; deflated ones go
    // through the browser's inflater.
    let inflated = null;
    if (entry.method === 8) {
      inflated = new ReadableStream({
        async pull(controller) {
          const next = await nextCompressed(inflatedPiece);
          if (next.done) {
            controller.close();
          } else {
            controller.enqueue(next.value);
          }
        },
      }, { highWaterMark: 0 }).pipeThrough(new DecompressionStream('deflate-raw')).getReader();
    }
    const nextBytes = () => (inflated === null ? nextCompressed(Infinity) : inflated.read());
    const stop = () => inflated?.cancel().catch(() => {});
    let length = 0;
    let tooLong = false;
    const problem = (reason) => {
      stop();
      return new ArchiveProblem(reason);
    };
    // A reader as a stream's gives, without a stream's cost for each piece: it
    // is read one piece at a time.
    return {
      async read() {
        if (tooLong) {
          throw problem('the member holds more bytes than its entry says');
        }
        let chunk;
        try {
          chunk = await nextBytes();
        } catch (error) {
          if (cutShort) {
            throw problem('the archive ends before the member does');
          }
          // The browser's inflater throws a TypeError; a file that cannot be
          // read, a DOMException of its own.
          throw error instanceof TypeError ? problem('the member\'s deflated bytes are damaged') : error;
        }
        if (chunk.done) {
          if (cutShort) {
            throw problem('the archive ends before the member does');
          }
          if (length < entry.size) {
            throw problem('the member ends early');
          }
          return { done: true, value: undefined };
        }
        let bytes = chunk.value;
        if (bytes.length > entry.size - length) {
          // What the entry allows is scanned; the rest is not inflated at all.
          tooLong = true;
          bytes = bytes.subarray(0, entry.size - length);
          stop();
        }
        length += bytes.length;
        return { done: false, value: bytes };
      },
      async cancel() {
        stop();
      },
    };
  }

  // An archive starts with its first member's header, or, empty, with its end.
  function startsLikeArchive(firstBytes) {
    if (firstBytes.length < 4) {
      return false;
    }
    const start = u32(new DataView(firstBytes.buffer, firstBytes.byteOffset, 4), 0);
    return start === signatures.localHeader || start === signatures.end;
  }

  // The caller has read the file's first bytes, and they start like an archive.
  async function open(file) {
    let entries = null;
    const end = await findEnd(file);
    if (end !== null) {
      try {
        entries = await listFromCentralDirectory(file, end);
      } catch (problem) {
        if (!(problem instanceof ArchiveProblem)) {
          throw problem;
        }
      }
    }
    entries ??= await listFromLocalHeaders(file);
    if (entries === null) {
      return null;
    }
    const members = entries.filter((entry) => !entry.path.endsWith('/'));
    const archiveReader = forwardReader(file);
    return {
      members: members.length > mostMembers ? [] : members,
      problem: members.length > mostMembers ? `the archive holds more than ${mostMembers} files` : null,
      async read(entry, onCompressedBytes) {
        if (entry.problem !== null) {
          throw new ArchiveProblem(entry.problem);
        }
        const header = await localHeader(archiveReader.bytes, entry.headerOffset, entry.dataLimit);
        if (header === null) {
          throw new ArchiveProblem('the member\'s header is missing');
        }
        if (header.cutShort) {
          throw new ArchiveProblem('the member lies past the end of the archive');
        }
        return read(archiveReader, file, entry, header, onCompressedBytes);
      },
      crcProblem(entry, crc) {
        return crc === entry.crc ? null : new ArchiveProblem('the member\'s CRC-32 does not match');
      },
      close: archiveReader.close,
    };
  }

  return { open, startsLikeArchive, fileReader, ArchiveProblem };
})();
