// What the page must show, worked out apart from it: a byte-at-a-time model of
// the scan, the page's way of showing bytes, and an RFC 4180 reader.

export const labels = ['CD-R', 'CD-RW', 'DVD-R', 'DVD-RW', 'DVD+R', 'DVD+RW', 'DVD+R9'];

// The versions an image reports, in order (none where it is shorter than eight
// bytes, fwtally's read error), each with the
// offset of its marker's first byte.
export function referenceVersions(image) {
  const versions = [];
  let held = null;
  for (let end = 8; end <= image.length; ++end) {  // the window holds image[end - 8, end)
    const window = image.subarray(end - 8, end);
    if ((window[1] === 0x2e || window[2] === 0x2e) && window[6] === 0x5f && window[7] === 0x5f) {
      held = { window: Buffer.from(window), offset: end - 8 };
    }
    const atEnd = end === image.length;
    if (held !== null && (atEnd || image[end] !== 0x5f)) {
      const underscore = held.window.indexOf(0x5f);
      versions.push({ text: held.window.subarray(0, Math.min(underscore, 6)), offset: held.offset });
      held = null;
      if (versions.length === 7) {
        break;
      }
    }
    if (atEnd) {
      break;
    }
  }
  return versions;
}

// The lines fwtally prints for these versions.
export function reportLines(versions) {
  return Buffer.concat(versions.map((version, index) =>
    Buffer.concat([Buffer.from(labels[index] + ' version: '), version.text ?? version, Buffer.from('\n')])));
}

// Printable ASCII as it is, a backslash doubled, any other byte as \xHH.
export function visible(bytes) {
  return Array.from(bytes, (byte) => {
    if (byte === 0x5c) {
      return '\\\\';
    }
    return byte >= 0x20 && byte <= 0x7e
      ? String.fromCharCode(byte)
      : '\\x' + byte.toString(16).toUpperCase().padStart(2, '0');
  }).join('');
}

export function hex(offset) {
  return '0x' + offset.toString(16).toUpperCase();
}

// Reads RFC 4180 text: records end with CR LF, fields with a comma, quote or line
// break are quoted and their quotes doubled. Throws on anything else.
export function parseCsv(text) {
  const records = [];
  let record = [];
  let field = '';
  let at = 0;
  while (at < text.length) {
    if (text[at] === '"' && field === '') {
      for (++at; ; ++at) {
        if (at >= text.length) {
          throw new Error('a quoted field does not end');
        }
        if (text[at] === '"') {
          if (text[at + 1] !== '"') {
            break;
          }
          ++at;
        }
        field += text[at];
      }
      ++at;
      if (text[at] !== ',' && text[at] !== '\r') {
        throw new Error(`text after a quoted field at ${at}`);
      }
    } else if (text[at] === ',') {
      record.push(field);
      field = '';
      ++at;
    } else if (text[at] === '\r') {
      if (text[at + 1] !== '\n') {
        throw new Error(`a CR without LF at ${at}`);
      }
      record.push(field);
      records.push(record);
      record = [];
      field = '';
      at += 2;
    } else if (text[at] === '\n' || text[at] === '"') {
      throw new Error(`a bare ${JSON.stringify(text[at])} at ${at}`);
    } else {
      field += text[at++];
    }
  }
  if (field !== '' || record.length > 0) {
    throw new Error('the last record does not end with CR LF');
  }
  return records;
}
