// The browser page in headless Chromium, checked against the command-line fwtally
// run on the same files: the versions shown, the exit status, and the bytes of
// each row's download. Set by CTest: FWTALLY_SITE (the built page), FWTALLY_NATIVE
// (fwtally for this machine), FWTALLY_SAMPLE_IMAGE, FWTALLY_CHROMIUM.

import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';

import puppeteer from 'puppeteer-core';

const site = process.env.FWTALLY_SITE;
const native = process.env.FWTALLY_NATIVE;
const sampleImage = process.env.FWTALLY_SAMPLE_IMAGE;
const chromium = process.env.FWTALLY_CHROMIUM;

const labels = ['CD-R', 'CD-RW', 'DVD-R', 'DVD-RW', 'DVD+R', 'DVD+RW', 'DVD+R9'];
const readErrorMessage = 'Error reading Firmware';
const gibibyte = 2 ** 30;

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'fwtally-web-'));
const downloads = path.join(scratch, 'downloads');

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
  const file = path.join(scratch, name);
  fs.writeFileSync(file, bytes);
  return file;
}

// A sparse file of `size` bytes with `tail` written at its very end.
function sparseImage(name, size, tail) {
  const file = path.join(scratch, name);
  fs.writeFileSync(file, '');
  fs.truncateSync(file, size - tail.length);
  fs.appendFileSync(file, tail);
  return file;
}

function runNative(file) {
  const result = spawnSync(native, [file], { maxBuffer: 1 << 20 });
  assert.equal(result.error, undefined, `cannot run ${native}`);
  return { status: result.status, output: result.stdout };
}

// The lines fwtally prints for these versions, each a Buffer of raw bytes.
function reportLines(versions) {
  return Buffer.concat(versions.map((version, index) =>
    Buffer.concat([Buffer.from(labels[index] + ' version: '), version, Buffer.from('\n')])));
}

// As the page shows a version: printable ASCII as it is, any other byte as \xHH.
function visible(version) {
  return Array.from(version, (byte) => (byte >= 0x20 && byte <= 0x7e
    ? String.fromCharCode(byte)
    : '\\x' + byte.toString(16).toUpperCase().padStart(2, '0'))).join('');
}

// Serves the built page on 127.0.0.1 and notes every path asked for.
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
const userDataDirectory = path.join(scratch, 'profile');
const requested = [];

before(async () => {
  server = await startServer();
  origin = `http://127.0.0.1:${server.address().port}`;
  browser = await puppeteer.launch({
    executablePath: chromium,
    headless: true,
    userDataDir: userDataDirectory,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
});

after(async () => {
  await browser?.close();
  server?.close();
  fs.rmSync(scratch, { recursive: true, force: true });
});

async function openPage(url = origin + '/') {
  const page = await browser.newPage();
  page.setDefaultTimeout(120_000);  // CI machines are slow when busy
  page.on('request', (request) => requested.push(request.url()));
  const session = await page.createCDPSession();
  await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
  await page.goto(url);
  await page.waitForSelector('body[data-ready="yes"]');
  return { page, session };
}

async function rowCount(page) {
  return page.$$eval('#results tbody tr', (rows) => rows.length);
}

// Chooses the files in the page's file input, as a user would, and waits until
// every one has been read.
async function choose(page, files) {
  const before = await rowCount(page);
  const input = await page.$('#images');
  await input.uploadFile(...files);
  await page.waitForFunction((count) => document.querySelectorAll('#results tbody tr').length === count
    && document.body.dataset.busy === 'no', { timeout: 300_000 }, before + files.length);
  return before;
}

async function row(page, index) {
  return page.$eval(`#results tbody tr:nth-child(${index + 1})`, (element) => ({
    name: element.querySelector('.file-name').textContent,
    versions: Array.from(element.querySelectorAll('.version'), (cell) => cell.textContent),
    status: element.querySelector('.status').textContent,
    exitStatus: element.dataset.exitStatus === undefined ? null : Number(element.dataset.exitStatus),
  }));
}

// Clicks the row's download link and answers the bytes saved.
async function download(page, index) {
  const link = await page.$(`#results tbody tr:nth-child(${index + 1}) .output a`);
  assert.ok(link, `row ${index} offers no download`);
  const name = await link.evaluate((element) => element.download);
  const saved = path.join(downloads, name);
  fs.rmSync(saved, { force: true });
  await link.click();
  for (let waited = 0; !fs.existsSync(saved); waited += 50) {
    assert.ok(waited < 10_000, `no download of ${name}`);
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
  return fs.readFileSync(saved);
}

// The page's row for `file` against fwtally: the same status, the versions it
// prints (given here, and checked against fwtally's own output first), and the
// same bytes as the download.
async function expectRowLikeFwtally(page, index, file, versions, expectedStatus = 0) {
  const fwtally = runNative(file);
  const message = expectedStatus === 0 ? Buffer.alloc(0) : Buffer.from(readErrorMessage + '\n');
  assert.equal(fwtally.status, expectedStatus, `fwtally's status for ${file}`);
  assert.deepEqual(fwtally.output, Buffer.concat([reportLines(versions), message]),
    `fwtally's output for ${file}`);
  const shown = await row(page, index);
  assert.equal(shown.name, path.basename(file));
  assert.equal(shown.exitStatus, fwtally.status);
  assert.deepEqual(shown.versions, labels.map((_, line) => (line < versions.length ? visible(versions[line]) : '')));
  if (expectedStatus !== 0) {
    assert.equal(shown.status, readErrorMessage);
  }
  assert.deepEqual(await download(page, index), fwtally.output, `the download for ${file}`);
}

// The sample's versions, read off fwtally's plain-text output for it.
function sampleVersions() {
  return runNative(sampleImage).output.toString('latin1').trimEnd().split('\n')
    .map((line) => Buffer.from(line.slice(line.indexOf(' version: ') + ' version: '.length), 'latin1'));
}

describe('the page, against fwtally', () => {
  test('the sample image shows all seven versions', async () => {
    const { page } = await openPage();
    const sample = path.join(scratch, 'sample-image.bin');
    fs.copyFileSync(sampleImage, sample);
    const headers = await page.$$eval('#results thead th', (cells) => cells.map((cell) => cell.textContent));
    assert.deepEqual(headers.slice(0, 8), ['File', ...labels]);
    await choose(page, [sample]);
    const versions = sampleVersions();
    assert.equal(versions.length, 7);
    await expectRowLikeFwtally(page, 0, sample, versions);
    await page.close();
  });

  test('images shorter than eight bytes show the read error', async () => {
    const { page } = await openPage();
    const files = [image('empty.bin', ''), image('seven-bytes.bin', '1.23___')];
    await choose(page, files);
    await expectRowLikeFwtally(page, 0, files[0], [], 3);
    await expectRowLikeFwtally(page, 1, files[1], [], 3);
    await page.close();
  });

  test('nine markers give seven versions', async () => {
    const { page } = await openPage();
    const file = image('nine-markers.bin', numberedMarkers(9));
    await choose(page, [file]);
    await expectRowLikeFwtally(page, 0, file,
      ['1', '2', '3', '4', '5', '6', '7'].map((n) => Buffer.from(n + '.2345')));
    await page.close();
  });

  test('reading stops once the seventh version is out', async () => {
    const { page } = await openPage();
    const file = path.join(scratch, 'nine-then-more.bin');
    fs.writeFileSync(file, numberedMarkers(9));
    fs.truncateSync(file, gibibyte);
    await choose(page, [file]);
    await expectRowLikeFwtally(page, 0, file,
      ['1', '2', '3', '4', '5', '6', '7'].map((n) => Buffer.from(n + '.2345')));
    const bytesRead = await page.$eval('#results tbody tr', (element) => Number(element.dataset.bytesRead));
    assert.ok(bytesRead > 0 && bytesRead <= 2 ** 20, `${bytesRead} bytes of 1 GiB read`);
    await page.close();
  });

  test('NUL, LF and high bytes are shown escaped and downloaded as they are', async () => {
    const { page } = await openPage();
    const versions = [Buffer.from([0x00, 0x2e, 0x0a, 0x1b, 0xff, 0x80]), Buffer.from('a\\.c\x7f~', 'latin1'),
      Buffer.from('Z\n.\n', 'latin1')];
    const bytes = Buffer.concat([versions[0], Buffer.from('__Z'), versions[1], Buffer.from('__Z'),
      versions[2], Buffer.from('____Z')]);
    const file = image('raw-bytes.bin', bytes);
    await choose(page, [file]);
    assert.deepEqual((await row(page, 0)).versions.slice(0, 3),
      ['\\x00.\\x0A\\x1B\\xFF\\x80', 'a\\.c\\x7F~', 'Z\\x0A.\\x0A']);
    await expectRowLikeFwtally(page, 0, file, versions);
    await page.close();
  });

  test('several files at once give rows in the order chosen', async () => {
    const { page } = await openPage();
    const files = [image('b-three.bin', numberedMarkers(3)), image('a-none.bin', 'no markers here'),
      image('c-short.bin', 'x'), image('d-one.bin', 'x1.23____y')];
    await choose(page, files);
    await expectRowLikeFwtally(page, 0, files[0], ['1', '2', '3'].map((n) => Buffer.from(n + '.2345')));
    await expectRowLikeFwtally(page, 1, files[1], []);
    await expectRowLikeFwtally(page, 2, files[2], [], 3);
    await expectRowLikeFwtally(page, 3, files[3], [Buffer.from('1.23')]);
    await page.close();
  });

  test('a 1 GiB image is read in blocks: the progress bar moves and memory stays flat', async () => {
    const { page, session } = await openPage();
    const versions = [Buffer.from('8.01'), Buffer.from('9.02')];
    const small = image('small.bin', 'x8.01____y9.02____');
    const huge = sparseImage('huge.bin', gibibyte, 'x8.01____y9.02____');

    const measure = async () => {
      await session.send('HeapProfiler.collectGarbage');
      const metrics = await page.metrics();
      return { heap: metrics.JSHeapUsedSize, ...rendererMemory() };
    };
    await choose(page, [small]);
    const afterSmall = await measure();

    // Note each value the progress bar takes while the image is read.
    await page.evaluate(() => {
      window.progressSeen = [];
      new MutationObserver(() => {
        for (const bar of document.querySelectorAll('progress')) {
          window.progressSeen.push(bar.value / bar.max);
        }
      }).observe(document.querySelector('#results tbody'), { subtree: true, childList: true });
      window.progressPoll = setInterval(() => {
        for (const bar of document.querySelectorAll('progress')) {
          window.progressSeen.push(bar.value / bar.max);
        }
      }, 10);
    });
    await choose(page, [huge]);
    const progressSeen = await page.evaluate(() => {
      clearInterval(window.progressPoll);
      return window.progressSeen;
    });
    const afterHuge = await measure();

    await expectRowLikeFwtally(page, 0, small, versions);
    await expectRowLikeFwtally(page, 1, huge, versions);
    const partWay = progressSeen.filter((fraction) => fraction > 0 && fraction < 1);
    assert.ok(partWay.length >= 2, `the progress bar showed ${partWay.length} values part-way`);
    assert.ok(partWay.some((fraction) => fraction < 0.5) && partWay.some((fraction) => fraction > 0.5),
      'the progress bar moved across the read');
    // Read in 1 MiB blocks, the image leaves nothing behind once they are
    // collected, and at its peak the page held far less than the image: read
    // whole, it would have taken 1 GiB. The peak allows for blocks read but not
    // yet collected.
    const heapGrowth = afterHuge.heap - afterSmall.heap;
    assert.ok(heapGrowth < 16 * 2 ** 20, `the JS heap grew by ${heapGrowth} bytes`);
    const residentGrowth = afterHuge.resident - afterSmall.resident;
    assert.ok(residentGrowth < 64 * 2 ** 20, `the page's memory grew by ${residentGrowth} bytes`);
    const peakGrowth = afterHuge.peak - afterSmall.peak;
    assert.ok(peakGrowth < gibibyte / 2, `the page's peak memory grew by ${peakGrowth} bytes`);
    await page.close();
  });

  test('a read error part-way keeps the versions found and shows the error', async () => {
    const { page } = await openPage();
    const file = sparseImage('changing.bin', gibibyte, 'tail');
    // The markers stand at the start; the tail changes while the image is read.
    const descriptor = fs.openSync(file, 'r+');
    fs.writeSync(descriptor, numberedMarkers(3) + 'Q', 0);
    fs.closeSync(descriptor);
    const input = await page.$('#images');
    await input.uploadFile(file);
    await page.waitForFunction(() => {
      const bar = document.querySelector('progress');
      return bar !== null && bar.value > 0;
    });
    // The file loses its second half while it is read: the browser refuses to
    // read on from a file that changed after it was chosen.
    fs.truncateSync(file, gibibyte / 2);
    await page.waitForFunction(() => document.body.dataset.busy === 'no', { timeout: 300_000 });
    const shown = await row(page, 0);
    assert.equal(shown.exitStatus, 4);
    assert.equal(shown.status, readErrorMessage);
    const versions = ['1', '2', '3'].map((n) => Buffer.from(n + '.2345'));
    assert.deepEqual(shown.versions.slice(0, 3), versions.map(visible));
    // What fwtally prints when the read fails there: the lines so far and the message.
    assert.deepEqual(await download(page, 0),
      Buffer.concat([reportLines(versions), Buffer.from(readErrorMessage + '\n')]));
    await page.close();
  });

  test('a scan can be cancelled', async () => {
    const { page } = await openPage();
    const file = sparseImage('long.bin', gibibyte, 'x1.23____');
    const input = await page.$('#images');
    await input.uploadFile(file);
    await page.waitForFunction(() => document.querySelector('progress')?.value > 0);
    await page.click('#cancel');
    await page.waitForFunction(() => document.body.dataset.busy === 'no');
    const shown = await row(page, 0);
    assert.equal(shown.status, 'Cancelled');
    assert.equal(shown.exitStatus, null);
    assert.equal(await page.$('#results tbody tr .output a'), null, 'a cancelled scan offers no download');
    await page.close();
  });

  test('images dropped on the page are read like chosen ones', async () => {
    const { page } = await openPage();
    const file = image('dropped.bin', numberedMarkers(2));
    await page.evaluate((name, bytes) => {
      const transfer = new DataTransfer();
      transfer.items.add(new File([new Uint8Array(bytes)], name));
      const zone = document.getElementById('drop-zone');
      for (const type of ['dragenter', 'dragover', 'drop']) {
        zone.dispatchEvent(new DragEvent(type, { dataTransfer: transfer, bubbles: true, cancelable: true }));
      }
    }, path.basename(file), Array.from(fs.readFileSync(file)));
    await page.waitForFunction(() => document.querySelectorAll('#results tbody tr').length === 1
      && document.body.dataset.busy === 'no');
    await expectRowLikeFwtally(page, 0, file, [Buffer.from('1.2345'), Buffer.from('2.2345')]);
    await page.close();
  });

  test('on a phone-sized screen the table scrolls within the page', async () => {
    const { page } = await openPage();
    await page.setViewport({ width: 360, height: 640 });
    const sample = path.join(scratch, 'on-a-phone.bin');
    fs.copyFileSync(sampleImage, sample);
    await choose(page, [sample]);
    const widths = await page.evaluate(() => ({
      page: document.documentElement.scrollWidth,
      window: window.innerWidth,
      area: document.getElementById('results-area').clientWidth,
      table: document.getElementById('results').scrollWidth,
    }));
    assert.ok(widths.page <= widths.window, `the page is ${widths.page} px wide on a ${widths.window} px screen`);
    assert.ok(widths.area <= widths.window && widths.table > widths.area, 'the table scrolls in its own area');
    await page.close();
  });

  test('the file chooser is reached from the keyboard', async () => {
    const { page } = await openPage();
    await page.keyboard.press('Tab');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'images');
    await page.close();
  });

  test('the page works from a file:// URL', async () => {
    const { page } = await openPage('file://' + path.join(site, 'index.html'));
    const sample = path.join(scratch, 'from-file-url.bin');
    fs.copyFileSync(sampleImage, sample);
    await choose(page, [sample]);
    await expectRowLikeFwtally(page, 0, sample, sampleVersions());
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
    if (!commandLine.includes('--type=renderer') || !commandLine.includes(userDataDirectory)) {
      continue;
    }
    const kibibytes = (field) => Number(new RegExp(`^${field}:\\s+(\\d+) kB`, 'm').exec(status)?.[1] ?? 0);
    memory.resident = Math.max(memory.resident, kibibytes('VmRSS') * 1024);
    memory.peak = Math.max(memory.peak, kibibytes('VmHWM') * 1024);
  }
  return memory;
}

test('the page asks for nothing but its own files', () => {
  const foreign = requested.filter((url) => !url.startsWith(origin + '/') && !url.startsWith('file://')
    && !url.startsWith('blob:') && !url.startsWith('data:'));
  assert.ok(requested.some((url) => url.startsWith(origin + '/')), 'no request was seen at all');
  assert.deepEqual(foreign, []);
});
