// The browser page in one engine, named by FWTALLY_ENGINE (chromium, firefox or
// webkit), checked against the command-line fwtally run on the same files and
// against a byte-at-a-time model of the scan: the versions and offsets shown, the
// status, the bytes of each download and of the CSV, the marks of changed
// versions, and the layout on a phone and in a narrow window. Set by CTest:
// FWTALLY_ENGINE, FWTALLY_SITE (the built page), FWTALLY_NATIVE (fwtally for this
// machine), FWTALLY_SAMPLE_IMAGE, and the engine's programs.

import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';

import { choosesFolders, launch } from './engines.mjs';
import { hex, labels, parseCsv, referenceVersions, reportLines, visible } from './model.mjs';

const engine = process.env.FWTALLY_ENGINE;
const site = process.env.FWTALLY_SITE;
const native = process.env.FWTALLY_NATIVE;
const sampleImage = process.env.FWTALLY_SAMPLE_IMAGE;

const readErrorMessage = 'Error reading Firmware';
const cannotOpenMessage = 'Cannot open Firmware file';
const mebibyte = 2 ** 20;
const gibibyte = 2 ** 30;

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), `fwtally-web-${engine}-`));
const images = path.join(scratch, 'images');
fs.mkdirSync(images);

// "Qn.2345__" for n = 1, 2, ...: each is reported as "n.2345" when the next
// marker's Q ends its run of underscores.
function numberedMarkers(count) {
  let text = '';
  for (let n = 0; n < count; ++n) {
    text += 'Q' + ((n % 9) + 1) + '.2345__';
  }
  return text;
}

function image(name, bytes) {
  const file = path.join(images, name);
  fs.writeFileSync(file, typeof bytes === 'string' ? Buffer.from(bytes, 'latin1') : bytes);
  return file;
}

// A sparse file of `size` bytes with `head` at its start and `tail` at its end.
function sparseImage(name, size, head, tail) {
  const file = path.join(images, name);
  fs.writeFileSync(file, head);
  fs.truncateSync(file, size - tail.length);
  fs.appendFileSync(file, tail);
  return file;
}

function runNative(file) {
  const result = spawnSync(native, [file], { maxBuffer: mebibyte });
  assert.equal(result.error, undefined, `cannot run ${native}`);
  return { status: result.status, output: result.stdout };
}

// Serves the built page on 127.0.0.1.
function startServer() {
  const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css' };
  const server = http.createServer((request, response) => {
    const file = path.join(site, path.normalize(decodeURIComponent(request.url.split('?')[0])));
    const target = file.endsWith(path.sep) ? path.join(file, 'index.html') : file;
    if (!target.startsWith(site) || !fs.existsSync(target) || fs.statSync(target).isDirectory()) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'Content-Type': types[path.extname(target)] ?? 'application/octet-stream' });
    fs.createReadStream(target).pipe(response);
  });
  return new Promise((resolve) => {
    server.listen(0, '127.0.0.1', () => resolve(server));
  });
}

let server;
let origin;
let browser;

before(async () => {
  server = await startServer();
  origin = `http://127.0.0.1:${server.address().port}`;
  // The pieces of a file read are garbage once scanned. Collected by threads of
  // their own, they pile up for as long as a busy machine keeps those threads
  // waiting (a peak of 270 to 570 MB while a 1 GiB image is read); collected by
  // the page's own thread as it reads, they never top 200 MB, however busy.
  // The memory tests measure the page, not the machine's load.
  browser = await launch(engine, scratch, { extraChromiumFlags: ['--js-flags=--single-threaded-gc'] });
});

after(async () => {
  await browser?.close();
  server?.close();
  fs.rmSync(scratch, { recursive: true, force: true });
});

function openPage(url = origin + '/') {
  return browser.open(url);
}

async function rowCount(page) {
  return page.read(() => document.querySelectorAll('#results tbody tr').length);
}

// Chooses the files in the page's file input, or a folder in its folder input,
// as a person would, and waits until every one has been read: `rows` rows more,
// one a file unless archives are among them.
async function choose(page, files, rows = files.length) {
  const before = await rowCount(page);
  await page.upload(files);
  await page.waitFor((count) => document.querySelectorAll('#results tbody tr').length === count &&
    document.body.dataset.busy === 'no', before + rows);
  return before;
}

// Chooses as `choose` does, and answers each fraction every progress bar
// showed while the files were read, looked at every 10 ms.
async function chooseNotingProgress(page, files, rows = files.length) {
  await page.read(() => {
    window.progressSeen = [];
    window.progressPoll = setInterval(() => {
      for (const bar of document.querySelectorAll('progress')) {
        window.progressSeen.push(bar.value / bar.max);
      }
    }, 10);
  });
  await choose(page, files, rows);
  return page.read(() => {
    clearInterval(window.progressPoll);
    return window.progressSeen;
  });
}

async function chooseFolder(page, folder, rows) {
  const before = await rowCount(page);
  await page.uploadFolder(folder);
  await page.waitFor((count) => document.querySelectorAll('#results tbody tr').length === count &&
    document.body.dataset.busy === 'no', before + rows);
}

// Drops the files on the page as a person would drag them there, and waits until
// every one has been read. The files are made in the page, so their names may
// hold what no file chooser takes, such as a line break.
async function drop(page, files) {
  const before = await rowCount(page);
  await page.read((dropped) => {
    const transfer = new DataTransfer();
    for (const [name, bytes] of dropped) {
      transfer.items.add(new File([new Uint8Array(bytes)], name));
    }
    const zone = document.getElementById('drop-zone');
    for (const type of ['dragenter', 'dragover', 'drop']) {
      zone.dispatchEvent(new DragEvent(type, { dataTransfer: transfer, bubbles: true, cancelable: true }));
    }
  }, files.map((file) => [path.basename(file), Array.from(fs.readFileSync(file))]));
  await page.waitFor((count) => document.querySelectorAll('#results tbody tr').length === count &&
    document.body.dataset.busy === 'no', before + files.length);
}

// The text of a pseudo-element's computed content, '' where it renders none: its
// strings run together, the alternative text after a slash left out.
function generatedText(content) {
  return Array.from(content.split(' / ')[0].matchAll(/"([^"]*)"/g), (match) => match[1]).join('')
    .replace(/\u00a0/g, ' ');
}

// What each row shows: a version is null where its cell is empty.
function rowsShown(page) {
  return page.read(() => Array.from(document.querySelectorAll('#results tbody tr'), (row) => {
    const cells = Array.from(row.querySelectorAll('.version'));
    return {
      name: row.querySelector('.name').textContent,
      note: row.querySelector('.reference-note').textContent,
      versions: cells.map((cell) => (cell.dataset.offset === undefined
        ? null : cell.querySelector('.version-text').textContent)),
      offsets: cells.map((cell) => cell.dataset.offset ?? null),
      shownOffsets: cells.map((cell) => cell.querySelector('.offset')?.textContent ?? null),
      changed: cells.map((cell) => cell.hasAttribute('data-changed')),
      described: cells.map((cell) => cell.getAttribute('aria-describedby')),
      status: row.querySelector('.status-text').textContent,
      exitStatus: row.dataset.exitStatus === undefined ? null : Number(row.dataset.exitStatus),
      bytesRead: Number(row.dataset.bytesRead ?? 0),
      offersDownload: row.querySelector('.output a') !== null,
    };
  }));
}

function padded(values, empty = null) {
  return labels.map((_, index) => (index < values.length ? values[index] : empty));
}

// What the row for an image must show and print, from the model, and fwtally's
// own output checked against the same: lines, message and status.
function expectationFor(file, { status = 0, versions = null, name = path.basename(file) } = {}) {
  const expected = versions ?? (status === 3 ? [] : referenceVersions(fs.readFileSync(file)));
  const fwtally = runNative(file);
  const message = status === 0 ? Buffer.alloc(0) : Buffer.from(readErrorMessage + '\n');
  assert.equal(fwtally.status, status, `fwtally's status for ${file}`);
  assert.deepEqual(fwtally.output, Buffer.concat([reportLines(expected), message]), `fwtally's output for ${file}`);
  const statusText = status !== 0 ? readErrorMessage : expected.length === 0 ? 'No version markers' : 'Done';
  return { name, versions: expected, output: fwtally.output, status, statusText };
}

// The archives of make_archives.py, made once, with the rows each must give.
const archives = (() => {
  let made = null;
  return () => {
    if (made === null) {
      const maker = fileURLToPath(new URL('make_archives.py', import.meta.url));
      const result = spawnSync('python3', [maker, path.join(scratch, 'archives'), sampleImage], { maxBuffer: 64 * mebibyte });
      assert.equal(result.status, 0, `make_archives.py failed: ${result.stderr}`);
      made = JSON.parse(result.stdout.toString());
    }
    return made;
  };
})();

// What a member's row must show: for one read whole, what fwtally prints for the
// member's bytes, checked against the model and, in an archive unzip can read,
// against fwtally's output for the bytes as unzip hands them over; for one
// that cannot be opened, or whose read fails part-way, fwtally's message for
// that, with the reason after it on the page, and the versions found before it.
function memberExpectation(archive, row, { unzipReadsIt = true } = {}) {
  if (row.status === undefined) {
    // A member too large to read whole into the model is modelled by its end.
    const versions = row.model && referenceVersions(fs.readFileSync(row.model.file))
      .map((version) => ({ ...version, offset: version.offset + row.model.offset }));
    const expectation = expectationFor(row.bytes, { name: row.name, versions, status: runNative(row.bytes).status });
    if (unzipReadsIt) {
      const unzipped = spawnSync('sh', ['-c', 'unzip -p "$1" "$2" | "$3" /dev/stdin', 'sh', archive, row.member, native]);
      assert.equal(unzipped.status, expectation.status, `fwtally's status for ${row.name} as unzip gives it`);
      assert.deepEqual(unzipped.stdout, expectation.output, `what fwtally prints for ${row.name} as unzip gives it`);
    }
    return expectation;
  }
  const message = row.status === 2 ? cannotOpenMessage : readErrorMessage;
  // Each damaged member ends where no marker is pending, so the versions before
  // the failure are those the whole bytes hold.
  const versions = row.status === 2 ? [] : referenceVersions(fs.readFileSync(row.bytes));
  return {
    name: row.name,
    versions,
    output: Buffer.concat([reportLines(versions), Buffer.from(message + '\n')]),
    status: row.status,
    statusText: `${message}: ${row.reason}`,
  };
}

function checkRow(shown, expectation) {
  const { name, versions } = expectation;
  assert.equal(shown.name, name);
  assert.deepEqual(shown.versions, padded(versions.map((version) => visible(version.text))), `versions of ${name}`);
  assert.deepEqual(shown.offsets, padded(versions.map((version) => hex(version.offset))), `offsets of ${name}`);
  assert.deepEqual(shown.shownOffsets, padded(versions.map((version) => 'at ' + hex(version.offset))));
  assert.equal(shown.exitStatus, expectation.status, `status of ${name}`);
  assert.equal(shown.status, expectation.statusText, `status text of ${name}`);
}

// The table as CSV records: the header, then each row as fwtally gives it.
function csvRecords(expectations) {
  return [
    ['File', ...labels, 'Status', ...labels.map((label) => label + ' offset')],
    ...expectations.map(({ name, versions, statusText }) => [
      name,
      ...padded(versions.map((version) => visible(version.text)), ''),
      statusText,
      ...padded(versions.map((version) => hex(version.offset)), ''),
    ]),
  ];
}

const rowSelector = (index) => `#results tbody tr:nth-child(${index + 1})`;

// The row against the expectation, and its download against fwtally's output.
async function expectRow(page, index, expectation) {
  checkRow((await rowsShown(page))[index], expectation);
  assert.deepEqual(await page.download(`${rowSelector(index)} .output a`), expectation.output,
    `the download for ${expectation.name}`);
}

// Images that have broken pages before, and generated ones rich in the bytes
// that matter.
function imagesOfEveryKind() {
  const files = [
    image('sample.bin', fs.readFileSync(sampleImage)),
    // The first marker straddles the 1 MiB boundary between the page's blocks.
    image('across-blocks.bin', Buffer.concat([Buffer.alloc(mebibyte - 4, 'f'), Buffer.from('x1.23____y' + numberedMarkers(2))])),
    // A line feed inside the seventh version: the row still completes.
    image('line-feed-in-seventh.bin', numberedMarkers(6) + 'Q\n.\n56__Z'),
    // A space; the four characters \x00 typed out; a NUL; backslashes.
    image('space and backslash.bin', 'zA .1____z' + 'a.\\x00__Z' + 'a.\x00xyz__Z' + '\\.\\\\xy__Z'),
    image('raw bytes.bin', Buffer.from([0x00, 0x2e, 0x0a, 0x1b, 0xff, 0x80, 0x5f, 0x5f, 0x5a, 0x61, 0x5c, 0x2e, 0x63, 0x7f, 0x7e,
      0x5f, 0x5f, 0x5a])),
    image('name, with "quotes".bin', 'Z1.,"2__Z' + numberedMarkers(2)),
    image('nine-markers.bin', numberedMarkers(9)),
    image('no-markers.bin', 'There is no version marker in this image.\n'),
  ];
  // Generated: pieces that make and break markers.
  let seed = 20261210;
  const random = (below) => {
    seed = (seed * 1103515245 + 12345) % 2 ** 31;
    return seed % below;
  };
  const pieces = ['x1.23____', '_', '__', '.', 'Z', '\x00', '\n', '\\', '\xff', 'ab.c__', 'q9.9__', ' .5___'];
  for (let n = 0; n < 3; ++n) {
    let text = 'gen';
    for (let i = 0; i < 200; ++i) {
      text += pieces[random(pieces.length)];
    }
    files.push(image(`generated-${n}.bin`, text));
  }
  return files;
}

describe(`the page in ${engine}`, () => {
  test('rows, versions, escapes and offsets as fwtally and the model give them, and each download', async () => {
    const page = await openPage();
    const headers = await page.read(() => Array.from(document.querySelectorAll('#results thead th'), (cell) => cell.textContent));
    assert.deepEqual(headers, ['File', ...labels, 'Status', 'Output']);
    const files = imagesOfEveryKind();
    await choose(page, files);
    const expectations = files.map((file) => expectationFor(file));
    assert.deepEqual(expectations.map((expectation) => expectation.versions.length), [7, 3, 7, 4, 2, 3, 7, 0, 7, 7, 7],
      'the images hold the versions they were made to');
    assert.ok(expectations.some((expectation) => expectation.versions.some((version) => version.text.includes(0x20))),
      'a version holds a space');
    const shown = await rowsShown(page);
    expectations.forEach((expectation, index) => checkRow(shown[index], expectation));
    // A page may start only so many downloads: those of the sample, the escapes,
    // the raw bytes and the name with quotes.
    for (const index of [0, 3, 4, 5]) {
      assert.deepEqual(await page.download(`${rowSelector(index)} .output a`), expectations[index].output,
        `the download for ${expectations[index].name}`);
    }
    assert.deepEqual(shown[3].versions.slice(0, 4), ['A .1', 'a.\\\\x00', 'a.\\x00xyz', '\\\\.\\\\\\\\xy'],
      'a backslash doubled, a NUL as \\x00, a space as a space');
    assert.equal(shown[2].versions[6], 'Q\\x0A.\\x0A56');
    await page.close();
  });

  test('images shorter than eight bytes show the read error; the same file twice gives two rows', async () => {
    const page = await openPage();
    const short = [image('empty.bin', ''), image('seven-bytes.bin', '1.23___')];
    await choose(page, short);
    await choose(page, [short[1]]);
    for (const [index, file] of [...short, short[1]].entries()) {
      await expectRow(page, index, expectationFor(file, { status: 3 }));
    }
    await page.close();
  });

  test('the table as CSV, read back, holds what fwtally prints for each image, with the offsets', async () => {
    const page = await openPage();
    const files = [...imagesOfEveryKind(), image('too-short.bin', 'x')];
    await choose(page, files);
    const expectations = files.map((file, index) => expectationFor(file, { status: index === files.length - 1 ? 3 : 0 }));
    const csv = await page.download('#csv');
    assert.equal(await page.read(() => document.getElementById('csv').textContent.includes('CSV')), true);
    const records = parseCsv(csv.toString('latin1'));
    assert.equal(csv.toString('latin1'), csv.toString('utf8'), 'the CSV is plain ASCII, but for file names');
    assert.deepEqual(records, csvRecords(expectations));
    await page.close();
  });

  test('CSV fields holding a comma, a CR or an LF are quoted', async () => {
    const page = await openPage();
    const files = [
      image('comma.bin', 'a.b,cd__Z' + numberedMarkers(1)),
      image('line\nfeed.bin', numberedMarkers(2)),
      image('carriage\rreturn.bin', numberedMarkers(2)),
    ];
    await drop(page, files);
    const expectations = files.map((file) => expectationFor(file));
    assert.equal(visible(expectations[0].versions[0].text), 'a.b,cd');
    // The reader throws on a bare CR, LF or quote, and an unquoted comma splits a field.
    const records = parseCsv((await page.download('#csv')).toString('latin1'));
    assert.deepEqual(records, csvRecords(expectations));
    await page.close();
  });

  test('versions that differ from the reference row are marked, after the reference changes too', async () => {
    const page = await openPage();
    const revisions = [
      image('rev-a.bin', 'x1.00____yx1.00____yx2.00____y'),
      image('rev-b.bin', 'x1.00____yx1.01____yx2.00____yx3.00____y'),
      image('rev-c.bin', 'x1.00____yx1.00____y'),
    ];
    await choose(page, revisions);
    const marks = async () => (await rowsShown(page)).map((row) => ({
      note: row.note, changed: row.changed.slice(0, 4), described: row.described.slice(0, 4),
    }));
    const none = [false, false, false, false];
    const describedWhere = (changed) => changed.map((mark) => (mark ? 'changed-description' : null));
    const expected = (reference, changed) => changed.map((row, index) => ({
      note: index === reference ? ' (reference)' : '', changed: row, described: describedWhere(row),
    }));
    assert.deepEqual(await marks(), expected(0, [none, [false, true, false, true], [false, false, true, false]]));
    assert.equal(await page.read(() => document.getElementById('changed-description').textContent.length > 0), true);
    await page.select('#reference', '1');
    assert.deepEqual(await marks(), expected(1, [[false, true, false, true], none, [false, true, true, true]]));
    await page.select('#reference', '2');
    assert.deepEqual(await marks(), expected(2, [[false, false, true, false], [false, true, true, true], none]));
    await page.close();
  });

  test('a row that could not be read is not compared, and the default reference is the first row read whole', async () => {
    const page = await openPage();
    const rows = [
      image('too-short-to-read.bin', 'x1.0'),
      image('rev-a.bin', 'x1.00____yx1.00____y'),
      image('rev-b.bin', 'x1.00____yx1.01____yx2.00____y'),
    ];
    await choose(page, rows);
    const shown = await rowsShown(page);
    assert.deepEqual(shown.map((row) => row.exitStatus), [3, 0, 0]);
    assert.deepEqual(shown.map((row) => ({ note: row.note, changed: row.changed.slice(0, 3) })), [
      { note: '', changed: [false, false, false] },
      { note: ' (reference)', changed: [false, false, false] },
      { note: '', changed: [false, true, true] },
    ]);
    assert.equal(await page.read(() => document.getElementById('reference').value), '1',
      'Compare with does not show the reference in use');
    await page.close();
  });

  test('with many rows, chosen in two goes, the marks, the reference list and each CSV cover every row', async () => {
    const page = await openPage();
    // Past the length at which rows out of view are left out of layout; every
    // third revision keeps the first one's second version.
    const revisions = Array.from({ length: 150 }, (_, n) =>
      image(`many-${String(n).padStart(3, '0')}.bin`, `x1.00____yx${n % 3}.5____y`));
    const first = revisions.slice(0, 120);
    await choose(page, first);
    const firstCsv = parseCsv((await page.download('#csv')).toString('latin1'));
    assert.deepEqual(firstCsv, csvRecords(first.map((file) => expectationFor(file))));
    // Rows read after that download are in the next.
    await choose(page, revisions.slice(120));
    const secondCsv = parseCsv((await page.download('#csv')).toString('latin1'));
    assert.deepEqual(secondCsv, csvRecords(revisions.map((file) => expectationFor(file))));
    assert.equal(await page.read(() => document.querySelectorAll('#reference option').length), revisions.length);
    const marks = async () => (await rowsShown(page)).map((row) => row.note + row.changed.slice(0, 2).map(Number).join(''));
    const expected = (reference) => revisions.map((_, n) =>
      (n === reference ? ' (reference)00' : '0' + Number(n % 3 !== reference % 3)));
    assert.deepEqual(await marks(), expected(0));
    await page.select('#reference', '149');
    assert.deepEqual(await marks(), expected(149));
    await page.close();
  });

  test('an empty version and no version differ, and an empty cell that differs says so in words', async () => {
    const page = await openPage();
    // "_.abcd__Z" gives a CD-R version that is empty: "CD-R version: " and nothing more.
    const empty = image('empty-version.bin', '_.abcd__Z');
    const none = image('no-version.bin', 'no marker in here');
    await choose(page, [empty]);
    const alone = (await rowsShown(page))[0];
    assert.deepEqual({ note: alone.note, changed: alone.changed }, { note: '', changed: padded([], false) },
      'a single row is compared with nothing');
    await choose(page, [none]);
    await expectRow(page, 0, expectationFor(empty));
    const rendered = () => page.read(() => Array.from(document.querySelectorAll('#results tbody tr'), (row) => {
      const cell = row.querySelector('.version');
      const text = cell.querySelector('.version-text');
      return {
        changed: cell.hasAttribute('data-changed'),
        before: text === null ? 'none' : getComputedStyle(text, '::before').content,
        after: getComputedStyle(cell, '::after').content,
      };
    }));
    const sign = '\u2260 ';
    let [withEmpty, withNone] = await rendered();
    assert.equal(withEmpty.changed, false);
    assert.equal(withNone.changed, true, 'no version is not marked against an empty one');
    assert.equal(generatedText(withNone.after), sign + 'none', 'the differing empty cell does not say "≠ none"');
    await page.select('#reference', '1');
    [withEmpty, withNone] = await rendered();
    assert.equal(withEmpty.changed, true, 'an empty version is not marked against none');
    assert.equal(generatedText(withEmpty.before), sign, 'the differing empty version has no sign');
    assert.equal(withNone.changed, false);
    assert.equal(generatedText(withNone.after), '');
    await page.close();
  });

  test('on a phone, each image is a block with no sideways scrolling', async () => {
    const page = await openPage();
    await page.resize(390, 800);
    await choose(page, [image('on a phone with a rather long file name.bin', fs.readFileSync(sampleImage)),
      image('older.bin', 'x1.00____yx1.00____y')]);
    const layout = await page.read(() => {
      const area = document.getElementById('results-area');
      const row = document.querySelector('#results tbody tr');
      const cells = Array.from(row.querySelectorAll('.version'));
      return {
        window: window.innerWidth,
        page: document.documentElement.scrollWidth,
        area: area.clientWidth,
        table: area.scrollWidth,
        // One line per medium, each with its version and offset in view.
        tops: cells.map((cell) => Math.round(cell.getBoundingClientRect().top)),
        offsetsShown: cells.every((cell) => getComputedStyle(cell.querySelector('.offset')).display !== 'none'),
        heading: document.querySelector('h1').getBoundingClientRect().right,
        // Each line names its medium in generated content, from the cell's label.
        labelled: cells.map((cell) => [cell.dataset.label, getComputedStyle(cell, '::before').content]),
        emptyCells: Array.from(document.querySelectorAll('#results tbody tr:nth-child(2) .version:empty'),
          (cell) => getComputedStyle(cell, '::after').content),
        header: document.querySelector('#results thead').getBoundingClientRect().height,
        firstRow: row.getBoundingClientRect().top - document.querySelector('#results caption').getBoundingClientRect().bottom,
      };
    });
    // WebKit's MiniBrowser will not make its window narrower than about 450 px:
    // still a phone-sized layout.
    assert.ok(layout.window <= 480, `a ${layout.window} px window`);
    assert.ok(layout.page <= layout.window, `the page is ${layout.page} px wide in a ${layout.window} px window`);
    assert.ok(layout.table <= layout.area, `the table is ${layout.table} px wide in ${layout.area} px`);
    assert.ok(layout.heading <= layout.window, 'the heading is cut off');
    assert.equal(new Set(layout.tops).size, labels.length, 'the versions are not one a line');
    assert.ok(layout.offsetsShown, 'the offsets are not shown');
    for (const [label, content] of layout.labelled) {
      // Engines give attr() resolved or as written.
      const text = generatedText(content.replace(/attr\(data-label\)/, `"${label}"`));
      assert.equal(text, `${label}: `, `the line for ${label} does not name it: ${content}`);
    }
    assert.equal(layout.emptyCells.length, labels.length - 2);
    for (const content of layout.emptyCells) {
      // The reference row, the sample, has all seven.
      assert.equal(generatedText(content), '\u2260 none', 'an empty line that differs does not say so');
    }
    assert.ok(layout.header <= 1, `the table's header takes ${layout.header} px above the images`);
    assert.ok(layout.firstRow < 40, `the first image starts ${layout.firstRow} px below the caption`);
    await page.close();
  });

  test('in an 800 px window the file names stay in view when a Download far right is clicked', async () => {
    const page = await openPage();
    // Tall enough for WebKit's MiniBrowser, whose toolbar grows as its window narrows.
    await page.resize(800, 1000);
    await choose(page, [image('a firmware image with a long name, revision 1.bin', fs.readFileSync(sampleImage))]);
    const scrolls = await page.read(() => {
      const area = document.getElementById('results-area');
      return area.scrollWidth > area.clientWidth;
    });
    assert.ok(scrolls, 'the table fits the window, so nothing scrolls');
    const name = await page.read(() => document.querySelector('#results tbody tr .output a').download);
    await page.click(`${rowSelector(0)} .output a`);
    const seen = await page.read(() => {
      const area = document.getElementById('results-area');
      const cell = document.querySelector('#results tbody tr .file-name');
      // The window scrolled down to the row, should it lie below the fold: up and
      // down only, which leaves the table's sideways scrolling as it is.
      window.scrollBy(0, cell.getBoundingClientRect().top - 10);
      const link = document.querySelector('#results tbody tr .output a').getBoundingClientRect();
      const box = cell.getBoundingClientRect();
      const hit = document.elementFromPoint(box.left + box.width / 2, box.top + box.height / 2);
      const areaBox = area.getBoundingClientRect();
      // Versions scrolled under the file names must not show through them.
      const opaque = (element) => {
        const colour = getComputedStyle(element).backgroundColor;
        const alpha = /^rgba\(.*,\s*([\d.]+)\)$/.exec(colour);
        return colour !== 'transparent' && (alpha === null || Number(alpha[1]) === 1);
      };
      return {
        namesOpaque: opaque(cell) && opaque(document.querySelector('#results thead th')),
        scrolled: area.scrollLeft,
        linkInView: link.right <= areaBox.right + 1 && link.left >= areaBox.left,
        nameInView: box.left >= areaBox.left - 1 && box.right <= areaBox.right + 1 && cell.contains(hit),
        box: [box.left, box.right, box.top, box.bottom, window.innerWidth, window.innerHeight],
        hit: hit?.outerHTML.slice(0, 80) ?? null,
      };
    });
    assert.ok(seen.scrolled > 0 && seen.linkInView, 'clicking the Download did not bring it into view');
    assert.ok(seen.nameInView, `the file name scrolled out of view: ${JSON.stringify(seen)}`);
    assert.ok(seen.namesOpaque, 'the file-name column lets what scrolls under it show through');
    assert.ok(name.endsWith('.fwtally.txt'));
    await page.close();
  });

  test('reading stops once the seventh version is out', async () => {
    const page = await openPage();
    const file = sparseImage('nine-then-more.bin', gibibyte, numberedMarkers(9), '');
    await choose(page, [file]);
    const versions = referenceVersions(Buffer.from(numberedMarkers(9) + 'f'));
    await expectRow(page, 0, expectationFor(file, { versions }));
    const [row] = await rowsShown(page);
    assert.ok(row.bytesRead > 0 && row.bytesRead <= mebibyte, `${row.bytesRead} bytes of 1 GiB read`);
    await page.close();
  });

  test('a file that changes while it is read keeps the versions found, shows the error and is compared on what it found', async () => {
    const page = await openPage();
    // The reference: the same first three versions, and a fourth.
    const whole = image('whole.bin', numberedMarkers(4) + 'Q');
    await choose(page, [whole]);
    const file = sparseImage('changing.bin', gibibyte, numberedMarkers(3) + 'Q', 'tail');
    // Written a day ago, as an image is chosen long after it was written: WebKit
    // tells a changed file by its modification time, to the second.
    const yesterday = new Date(Date.now() - 86_400_000);
    fs.utimesSync(file, yesterday, yesterday);
    await page.upload([file]);
    await page.waitFor(() => document.querySelector('progress')?.value > 0);
    // The file loses its second half while it is read: the browser refuses to
    // read on from a file that changed after it was chosen.
    fs.truncateSync(file, gibibyte / 2);
    await page.waitFor(() => document.body.dataset.busy === 'no');
    const versions = referenceVersions(Buffer.from(numberedMarkers(3) + 'Q'));
    const [reference, row] = await rowsShown(page);
    checkRow(row, { name: 'changing.bin', versions, status: 4, statusText: readErrorMessage });
    // Not read to its end, it does not say that the fourth version is missing.
    assert.equal(reference.note, ' (reference)');
    assert.deepEqual(row.changed, padded([], false), 'a version the read never reached is marked');
    // What fwtally prints when the read fails there: the lines so far and the message.
    assert.deepEqual(await page.download(`${rowSelector(1)} .output a`),
      Buffer.concat([reportLines(versions), Buffer.from(readErrorMessage + '\n')]));
    await page.close();
  });

  test('a scan can be cancelled, and the next file chosen is read in full', async () => {
    const page = await openPage();
    const long = sparseImage('long.bin', gibibyte, '', 'x1.23____');
    const next = image('next.bin', numberedMarkers(3));
    await page.upload([long]);
    await page.waitFor(() => document.querySelector('progress')?.value > 0);
    await page.click('#cancel');
    await page.upload([next]);
    await page.waitFor(() => document.querySelectorAll('#results tbody tr').length === 2 &&
      document.body.dataset.busy === 'no');
    const [cancelled] = await rowsShown(page);
    assert.equal(cancelled.status, 'Cancelled');
    assert.equal(cancelled.exitStatus, null);
    assert.equal(cancelled.offersDownload, false, 'a cancelled scan offers no download');
    await expectRow(page, 1, expectationFor(next));
    await page.close();
  });

  test('images dropped on the page are read like chosen ones', async () => {
    const page = await openPage();
    const file = image('dropped.bin', numberedMarkers(2));
    await drop(page, [file]);
    await expectRow(page, 0, expectationFor(file));
    await page.close();
  });

  // No engine's automation drops a folder: Chromium's drag interception hands the
  // page a folder's entry, but one that cannot be listed. So the drop is made
  // here with entries shaped as browsers hand them over: a folder's listing
  // comes in parts of at most 100 entries, and an empty part ends it.
  test('a dropped folder is read file by file in path order, its listing taken part by part', async () => {
    const page = await openPage();
    const three = (n) => String(n).padStart(3, '0');
    // A file's text, false for a file that cannot be read; a folder's entries,
    // null for a folder that cannot be listed.
    const tree = {
      'z.bin': 'x1.09____y',
      'a.bin': 'x1.01____y',
      sub: { 'c.bin': 'x1.03____y', 'b.bin': 'x1.02____y' },
      many: Object.fromEntries(Array.from({ length: 150 }, (_, n) => [`${three(149 - n)}.bin`, `x2.${three(n)}____y`])),
      locked: null,
      'gone.bin': false,
    };
    await page.read((folder) => {
      const fileEntry = (fullPath, text) => ({
        isFile: true, isDirectory: false, name: fullPath.split('/').pop(), fullPath,
        file(success, failure) {
          setTimeout(() => (text === false ? failure(new DOMException('gone', 'NotFoundError'))
            : success(new File([text], fullPath.split('/').pop()))));
        },
      });
      const folderEntry = (fullPath, children) => ({
        isFile: false, isDirectory: true, name: fullPath.split('/').pop(), fullPath,
        createReader() {
          const entries = children === null ? null : Object.entries(children).map(([name, value]) => (
            typeof value === 'string' || value === false
              ? fileEntry(`${fullPath}/${name}`, value) : folderEntry(`${fullPath}/${name}`, value)));
          let given = 0;
          return {
            readEntries(success, failure) {
              setTimeout(() => {
                if (entries === null) {
                  failure(new DOMException('denied', 'SecurityError'));
                  return;
                }
                const part = entries.slice(given, given + 100);
                given += part.length;
                success(part);
              });
            },
          };
        },
      });
      const loose = new File(['x0.01____y'], 'loose.bin');
      const items = [
        { kind: 'file', webkitGetAsEntry: () => fileEntry('/loose.bin', 'x0.01____y'), getAsFile: () => loose },
        { kind: 'file', webkitGetAsEntry: () => folderEntry('/revisions', folder), getAsFile: () => null },
      ];
      const drop = new Event('drop', { bubbles: true, cancelable: true });
      Object.defineProperty(drop, 'dataTransfer', { value: { items } });
      document.getElementById('drop-zone').dispatchEvent(drop);
    }, tree);
    await page.waitFor(() => document.querySelectorAll('#results tbody tr').length === 157 &&
      document.body.dataset.busy === 'no');
    const shown = await rowsShown(page);
    const many = Array.from({ length: 150 }, (_, n) => `revisions/many/${three(n)}.bin`);
    assert.deepEqual(shown.map((row) => row.name), ['loose.bin', 'revisions/a.bin', 'revisions/gone.bin',
      'revisions/locked/', ...many, 'revisions/sub/b.bin', 'revisions/sub/c.bin', 'revisions/z.bin']);
    assert.deepEqual(shown.slice(0, 4).map((row) => [row.status, row.versions[0]]), [['Done', '0.01'], ['Done', '1.01'],
      [`${cannotOpenMessage}: it cannot be read`, null], [`${cannotOpenMessage}: the folder cannot be listed`, null]]);
    assert.deepEqual(shown.slice(4, 154).map((row) => row.versions[0]), many.map((_, n) => `2.${three(149 - n)}`));
    assert.deepEqual(shown.slice(154).map((row) => row.versions[0]), ['1.02', '1.03', '1.09']);
    await page.close();
  });

  test('the file chooser, the comparison and the CSV are reached from the keyboard', async () => {
    const page = await openPage();
    await choose(page, [image('one.bin', 'x1.00____y'), image('two.bin', 'x1.01____y')]);
    await page.read(() => document.activeElement.blur());
    const reached = [];
    let offsetOnFocus = null;
    for (let step = 0; step < 12 && offsetOnFocus === null; ++step) {
      await page.press('Tab');
      const focused = await page.read(() => {
        const element = document.activeElement;
        const offset = element.classList.contains('version') ? element.querySelector('.offset') : null;
        return { name: element.id || element.className, offset: offset && getComputedStyle(offset).display !== 'none' };
      });
      reached.push(focused.name);
      if (focused.name === 'version') {
        offsetOnFocus = focused.offset;
      }
    }
    assert.equal(reached[0], 'images', `Tab went to ${reached.join(', ')}`);
    for (const control of ['reference', 'csv', 'version']) {
      assert.ok(reached.includes(control), `Tab never reached ${control}: ${reached.join(', ')}`);
    }
    assert.equal(offsetOnFocus, true, 'a focused version does not show where its marker starts');
    await page.close();
  });

  test('archives made by zip and by Python are read member by member, as unzip -p piped to fwtally gives them', async () => {
    const page = await openPage();
    const made = archives().filter(({ group }) => group === 'made');
    const expectations = made.flatMap(({ archive, rows }) => rows.map((row) => memberExpectation(archive, row)));
    await choose(page, made.map(({ archive }) => archive), expectations.length);
    const shown = await rowsShown(page);
    assert.deepEqual(shown.map((row) => row.name), expectations.map((expectation) => expectation.name));
    expectations.forEach((expectation, index) => checkRow(shown[index], expectation));
    const acrossEdges = expectations.findIndex((expectation) => expectation.name.endsWith('across-edges.bin'));
    const straddles = (edge, version) => version.offset < edge && version.offset + 8 > edge;
    assert.ok(straddles(64 * 1024, expectations[acrossEdges].versions[0]) &&
      straddles(mebibyte, expectations[acrossEdges].versions[1]), 'the markers straddle the 64 KiB and 1 MiB edges');
    for (const index of [0, acrossEdges]) {
      assert.deepEqual(await page.download(`${rowSelector(index)} .output a`), expectations[index].output,
        `the download for ${expectations[index].name}`);
    }
    assert.deepEqual(parseCsv((await page.download('#csv')).toString('latin1')), csvRecords(expectations));
    await page.close();
  });

  test('damaged and hostile archives: each member says what is wrong, the others are read', async () => {
    const page = await openPage();
    const made = archives().filter(({ group }) => group === 'damaged');
    const expectations = made.flatMap(({ archive, rows }) =>
      rows.map((row) => memberExpectation(archive, row, { unzipReadsIt: false })));
    // Start as an archive does, and are images: one no longer than an archive's
    // first header.
    const lookalikes = ['starts-like-an-archive.bin', 'forty-bytes-like-an-archive.bin']
      .map((name) => path.join(scratch, 'archives', name));
    expectations.push(...lookalikes.map((file) => expectationFor(file)));
    assert.deepEqual(expectations.slice(-2).map((expectation) => expectation.versions.length), [3, 1]);
    await choose(page, [...made.map(({ archive }) => archive), ...lookalikes], expectations.length);
    const shown = await rowsShown(page);
    assert.deepEqual(shown.map((row) => `${row.name}: ${row.status}`),
      expectations.map((expectation) => `${expectation.name}: ${expectation.statusText}`));
    expectations.forEach((expectation, index) => checkRow(shown[index], expectation));
    // What fwtally prints where a member cannot be opened, and where its read fails.
    for (const status of [2, 4]) {
      const index = expectations.findIndex((expectation) => expectation.status === status);
      assert.deepEqual(await page.download(`${rowSelector(index)} .output a`), expectations[index].output,
        `the download for ${expectations[index].name}`);
    }
    await page.close();
  });

  test('archives at the reader\'s edges: a streamed one with a comment, a table over 64 KiB, exactly 10000 members, a Latin-1 name', async () => {
    const page = await openPage();
    const edges = archives().filter(({ group, rows }) => group === 'edges' && rows.length > 0);
    // Many members share their true bytes: fwtally runs once for each such file.
    const byFile = new Map();
    const expectations = edges.flatMap(({ archive, rows }) => rows.map((row) => {
      if (!byFile.has(row.bytes)) {
        byFile.set(row.bytes, memberExpectation(archive, row, { unzipReadsIt: false }));
      }
      return { ...byFile.get(row.bytes), name: row.name };
    }));
    assert.deepEqual(edges.map(({ rows }) => rows.length), [2, 1500, 10000, 1]);
    await choose(page, edges.map(({ archive }) => archive), expectations.length);
    const shown = await rowsShown(page);
    assert.deepEqual(shown.map((row) => `${row.name}: ${row.status}`),
      expectations.map((expectation) => `${expectation.name}: ${expectation.statusText}`));
    expectations.forEach((expectation, index) => checkRow(shown[index], expectation));
    assert.equal(shown.at(-1).name, 'latin1-name.zip/café.bin');
    await page.close();
  });

  test('an archive with no files gets one row that says so, and the page goes on as before', async () => {
    const page = await openPage();
    const empty = archives().find(({ archive }) => archive.endsWith('empty.zip')).archive;
    assert.equal(fs.statSync(empty).size, 22);
    await choose(page, [empty], 1);
    const state = () => page.read(() => ({
      reading: document.getElementById('state').textContent,
      cancel: document.getElementById('cancel').disabled,
      title: document.title,
    }));
    const idle = { reading: '', cancel: true, title: 'fwtally: firmware image versions' };
    assert.deepEqual(await state(), idle);
    const [row] = await rowsShown(page);
    assert.deepEqual({ name: row.name, status: row.status, exitStatus: row.exitStatus, offersDownload: row.offersDownload },
      { name: 'empty.zip', status: 'No files in this archive', exitStatus: null, offersDownload: false });
    const next = image('after-the-empty-archive.bin', numberedMarkers(2));
    await choose(page, [next]);
    await expectRow(page, 1, expectationFor(next));
    assert.deepEqual(await state(), idle);
    await page.close();
  });

  test('a member past 4 GiB, and one starting past 4 GiB, read through Zip64 with their offsets and CRC-32', async () => {
    const page = await openPage();
    const [{ archive, rows }] = archives().filter(({ group }) => group === 'past-4-GiB');
    const expectations = rows.map((row) => memberExpectation(archive, row, { unzipReadsIt: false }));
    assert.ok(expectations[0].versions[0].offset > 2 ** 32, 'the first marker lies past 4 GiB');
    await choose(page, [archive], rows.length);
    const shown = await rowsShown(page);
    expectations.forEach((expectation, index) => checkRow(shown[index], expectation));
    await expectRow(page, 0, expectations[0]);
    await page.close();
  });

  test('a member whose read fails part-way is compared on the versions it found, and is never the default reference', async () => {
    const [{ archive, rows: [failing] }] = archives().filter(({ group }) => group === 'part-way');
    const failed = memberExpectation(archive, failing);
    assert.deepEqual(failed.versions.map((version) => visible(version.text)), ['1.2345', '7.2345', '3.2345']);
    const marks = async (page) => (await rowsShown(page)).map((row) => ({ note: row.note, changed: row.changed.slice(0, 4) }));

    const page = await openPage();
    await choose(page, [image('four.bin', numberedMarkers(4) + 'Q')]);
    await choose(page, [archive], 1);
    checkRow((await rowsShown(page))[1], failed);
    // Its fourth version was never reached: not marked as missing.
    assert.deepEqual(await marks(page), [
      { note: ' (reference)', changed: [false, false, false, false] },
      { note: '', changed: [false, true, false, false] },
    ]);
    await page.close();

    const second = await openPage();
    await choose(second, [archive], 1);
    await choose(second, [image('rev-a.bin', 'x1.2345__yx2.2345__y'), image('rev-b.bin', 'x1.2345__yx9.2345__y')]);
    // Its third version differs from none: the reference was read to its end.
    assert.deepEqual(await marks(second), [
      { note: '', changed: [false, true, true, false] },
      { note: ' (reference)', changed: [false, false, false, false] },
      { note: '', changed: [false, true, false, false] },
    ]);
    assert.equal(await second.read(() => document.getElementById('reference').value), '1');
    await second.close();
  });

  test('a reference that could not be read marks nothing', async () => {
    const page = await openPage();
    await choose(page, [image('unreadable-reference.bin', 'x1'), image('rev-a.bin', 'x1.00____yx1.00____y'),
      image('rev-b.bin', 'x1.00____yx1.01____yx2.00____y')]);
    await page.select('#reference', '0');
    const shown = await rowsShown(page);
    assert.deepEqual(shown.map((row) => row.exitStatus), [3, 0, 0]);
    assert.deepEqual(shown.map((row) => row.note), [' (reference)', '', '']);
    assert.deepEqual(shown.map((row) => row.changed), shown.map(() => padded([], false)));
    await page.close();
  });

  test('a member\'s progress bar counts every compressed byte taken, and Cancel during an archive stops its reads', async () => {
    const [{ archive, rows }] = archives().filter(({ group }) => group === 'long-member');
    const page = await openPage();
    const progressSeen = await chooseNotingProgress(page, [archive], rows.length);
    assert.ok(progressSeen.some((fraction) => fraction > 0.5 && fraction < 1),
      `the bar never passed half of the long member: ${progressSeen.slice(-5)}`);
    const shown = await rowsShown(page);
    rows.forEach((row, index) => checkRow(shown[index], memberExpectation(archive, row, { unzipReadsIt: false })));
    await page.close();

    // A member far too long to read in the test's time, between two short ones.
    const [cancelled] = archives().filter(({ group }) => group === 'cancelled-member');
    const cancelling = await openPage();
    await cancelling.upload([cancelled.archive]);
    await cancelling.waitFor(() => document.querySelector('#results tbody tr:nth-child(2) progress')?.value > 0);
    await cancelling.click('#cancel');
    await cancelling.waitFor(() => document.body.dataset.busy === 'no');
    const [first, endless, last] = await rowsShown(cancelling);
    checkRow(first, memberExpectation(cancelled.archive, cancelled.rows[0], { unzipReadsIt: false }));
    assert.equal(first.offersDownload, true);
    assert.deepEqual([endless.status, last.status], ['Cancelled', 'Cancelled']);
    assert.equal(last.bytesRead, 0, 'the member after Cancel was read');
    await cancelling.close();
  });

  test('a folder is read file by file in path order, an archive in it member by member',
    { skip: !choosesFolders[engine] && `${engine}'s automation cannot choose a folder` }, async () => {
    const page = await openPage();
    const folder = path.join(scratch, 'folders', 'revisions');
    const put = (name, bytes) => {
      const file = path.join(folder, name);
      fs.mkdirSync(path.dirname(file), { recursive: true });
      fs.writeFileSync(file, bytes);
      return file;
    };
    const deflated = archives().find(({ archive }) => archive.endsWith('zip-deflated.zip'));
    const files = [
      put('drive/1.10.bin', numberedMarkers(3) + 'Q'),
      put('b.bin', 'x1.00____y'),
      put('drive/1.02.bin', fs.readFileSync(sampleImage)),
      put('older/archive.zip', fs.readFileSync(deflated.archive)),
      put('drive-notes.bin', 'x0.1____y'),
    ];
    const expectations = [
      expectationFor(files[1], { name: 'revisions/b.bin' }),
      expectationFor(files[2], { name: 'revisions/drive/1.02.bin' }),
      expectationFor(files[0], { name: 'revisions/drive/1.10.bin' }),
      expectationFor(files[4], { name: 'revisions/drive-notes.bin' }),
      ...deflated.rows.map((row) => ({
        ...memberExpectation(deflated.archive, row), name: row.name.replace(/^[^/]*/, 'revisions/older/archive.zip'),
      })),
    ];
    await chooseFolder(page, folder, expectations.length);
    const shown = await rowsShown(page);
    assert.deepEqual(shown.map((row) => row.name), expectations.map((expectation) => expectation.name));
    expectations.forEach((expectation, index) => checkRow(shown[index], expectation));
    await page.close();
  });

  test('the page works from a file:// URL', async () => {
    const page = await openPage('file://' + path.join(site, 'index.html'));
    const sample = image('from-file-url.bin', fs.readFileSync(sampleImage));
    await choose(page, [sample]);
    await expectRow(page, 0, expectationFor(sample));
    await page.close();
  });
});

// What only Chromium's automation can see: every request the page makes, and
// the memory of its renderer.
describe('the page in chromium, seen from inside', { skip: engine !== 'chromium' }, () => {
  test('the page asks for nothing but its own files', async () => {
    const page = await browser.puppeteer.newPage();
    const seen = [];
    page.on('request', (request) => seen.push(request.url()));
    await page.goto(origin + '/');
    await page.waitForFunction(() => document.body.dataset.ready === 'yes');
    await (await page.$('#images')).uploadFile(image('asks.bin', fs.readFileSync(sampleImage)));
    await page.waitForFunction(() => document.querySelector('#results tbody tr .output a') !== null);
    const foreign = seen.filter((url) => !url.startsWith(origin + '/') && !url.startsWith('blob:') && !url.startsWith('data:'));
    assert.ok(seen.length > 0, 'no request was seen at all');
    assert.deepEqual(foreign, []);
    await page.close();
  });

  // The page's memory once what it no longer holds has been collected.
  async function memoryNow(page, session) {
    await session.send('HeapProfiler.collectGarbage');
    const metrics = await page.page.metrics();
    return { heap: metrics.JSHeapUsedSize, ...rendererMemory() };
  }

  // Read in pieces, an image leaves nothing behind once they are collected, and
  // at its peak the page held far less than the image: read whole, it would have
  // taken 1 GiB. The peak allows for pieces read but not yet collected.
  function assertFlat(before, after) {
    const heapGrowth = after.heap - before.heap;
    assert.ok(heapGrowth < 16 * mebibyte, `the JS heap grew by ${heapGrowth} bytes`);
    const residentGrowth = after.resident - before.resident;
    assert.ok(residentGrowth < 64 * mebibyte, `the page's memory grew by ${residentGrowth} bytes`);
    const peakGrowth = after.peak - before.peak;
    assert.ok(peakGrowth < gibibyte / 2, `the page's peak memory grew by ${peakGrowth} bytes`);
  }

  const tail = 'x8.01____y9.02____';

  test('a 1 GiB image is read in pieces: the progress bar moves and memory stays flat', async () => {
    const page = await openPage();
    const session = await page.page.createCDPSession();
    const small = image('small.bin', tail);
    const huge = sparseImage('huge.bin', gibibyte, '', tail);
    await choose(page, [small]);
    const afterSmall = await memoryNow(page, session);
    const progressSeen = await chooseNotingProgress(page, [huge]);
    const afterHuge = await memoryNow(page, session);
    const shown = (await rowsShown(page)).map((row) => row.offsets.slice(0, 2));
    // Each marker starts one byte into its ten, after the x or y.
    assert.deepEqual(shown, [['0x1', '0xA'], [hex(gibibyte - tail.length + 1), hex(gibibyte - tail.length + 10)]]);
    const partWay = progressSeen.filter((fraction) => fraction > 0 && fraction < 1);
    assert.ok(partWay.length >= 2, `the progress bar showed ${partWay.length} values part-way`);
    assert.ok(partWay.some((fraction) => fraction < 0.5) && partWay.some((fraction) => fraction > 0.5),
      'the progress bar moved across the read');
    assertFlat(afterSmall, afterHuge);
    await page.close();
  });

  test('a 1 GiB deflated member is scanned as it is inflated: memory stays flat', async () => {
    const archive = path.join(images, 'huge-member.zip');
    const made = spawnSync('python3', ['-c', `
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED, compresslevel=1) as archive:
    with archive.open('huge.bin', 'w', force_zip64=True) as member:
        for _ in range(1023):
            member.write(bytes(2**20))
        member.write(bytes(2**20 - len(sys.argv[2])) + sys.argv[2].encode())
`, archive, tail]);
    assert.equal(made.status, 0, `the archive was not made: ${made.stderr}`);
    assert.ok(fs.statSync(archive).size < 8 * mebibyte);
    const page = await openPage();
    const session = await page.page.createCDPSession();
    await choose(page, [image('small.bin', tail)]);
    const afterSmall = await memoryNow(page, session);
    await choose(page, [archive]);
    const afterHuge = await memoryNow(page, session);
    const [, row] = await rowsShown(page);
    assert.equal(row.name, 'huge-member.zip/huge.bin');
    assert.equal(row.status, 'Done');
    assert.deepEqual(row.offsets.slice(0, 2), [hex(gibibyte - tail.length + 1), hex(gibibyte - tail.length + 10)]);
    assertFlat(afterSmall, afterHuge);
    await page.close();
  });
});

// The resident memory of the page's renderer processes now and at their peak so
// far, in bytes, read off Linux's /proc.
function rendererMemory() {
  const memory = { resident: 0, peak: 0 };
  for (const entry of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) {
      continue;
    }
    let commandLine;
    let status;
    try {
      commandLine = fs.readFileSync(`/proc/${entry}/cmdline`, 'latin1');
      status = fs.readFileSync(`/proc/${entry}/status`, 'latin1');
    } catch {
      continue;  // the process has gone
    }
    if (!commandLine.includes('--type=renderer') || !commandLine.includes(scratch)) {
      continue;
    }
    const kibibytes = (field) => Number(new RegExp(`^${field}:\\s+(\\d+) kB`, 'm').exec(status)?.[1] ?? 0);
    memory.resident = Math.max(memory.resident, kibibytes('VmRSS') * 1024);
    memory.peak = Math.max(memory.peak, kibibytes('VmHWM') * 1024);
  }
  return memory;
}
