// Times the browser page against bare pages that only read the same bytes, in
// each engine, and prints each time with its ratio to the bare read: the page's
// cost over the reading the browser does anyway. Each way runs once a round, in
// turn, and the median of the rounds is printed.
//
//   node bench/page-against-bare-read.mjs SITE IMAGE [ENGINE...]
//   node bench/page-against-bare-read.mjs SITE --files 10,100,1000 [ENGINE...]
//
// The first form times one image, against three ways of reading it bare. The
// second times the work people do: many firmware-sized images (2 MiB, three
// markers each, made here) chosen at once, and the same images as one archive
// of stored members, against a bare page that reads them with file.stream(),
// one after another; for the largest count it also reports, in Chromium, the
// longest main-thread task during the read (but for the one in which the
// browser hands the files over, of which the page's part is given), and how
// long Cancel takes to end the read.
//
// SITE is the built page (build/web/web/site); IMAGE a file, in the page cache
// for a warm read (bench/compare-with-cat.sh writes firmware-like.bin).
// FWTALLY_BENCH_ROUNDS sets the rounds (default 5 for one image, 3 for many).
// The engines' programs come from the same variables as the page's tests:
// FWTALLY_CHROMIUM, FWTALLY_FIREFOX, FWTALLY_WEBKIT_DRIVER and
// FWTALLY_MINIBROWSER; WebKit needs an X server (xvfb-run). Needs the page
// tests' npm modules in web/node_modules, and python3 for the archives.

import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

import { launch } from '../web/tests/engines.mjs';

const [site, ...rest] = process.argv.slice(2);
const manyFiles = rest[0] === '--files';
const counts = manyFiles ? rest[1].split(',').map(Number) : [];
const image = manyFiles ? null : rest[0];
const engines = rest.slice(manyFiles ? 2 : 1);
const rounds = Number(process.env.FWTALLY_BENCH_ROUNDS ?? (manyFiles ? 3 : 5));
if (!site || (!image && !counts.every((count) => count > 0))) {
  console.error('usage: node bench/page-against-bare-read.mjs SITE IMAGE [ENGINE...]\n' +
    '       node bench/page-against-bare-read.mjs SITE --files N[,N...] [ENGINE...]');
  process.exit(64);
}
const mebibyte = 2 ** 20;

// The bare pages: a file input, and the read of every file chosen, one after
// another, timed from the choice to the last byte. Each way of reading that the
// page might take.
const bareReads = {
  'file.stream()': `async (file) => {
    const reader = file.stream().getReader();
    let bytes = 0;
    for (let chunk = await reader.read(); !chunk.done; chunk = await reader.read()) bytes += chunk.value.length;
    return bytes;
  }`,
  '1 MiB slices': `async (file) => {
    let bytes = 0;
    for (let at = 0; at < file.size; at += 2 ** 20) bytes += (await file.slice(at, at + 2 ** 20).arrayBuffer()).byteLength;
    return bytes;
  }`,
  '8 MiB slices': `async (file) => {
    let bytes = 0;
    for (let at = 0; at < file.size; at += 2 ** 23) bytes += (await file.slice(at, at + 2 ** 23).arrayBuffer()).byteLength;
    return bytes;
  }`,
};
const bareWays = manyFiles ? ['file.stream()'] : Object.keys(bareReads);

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'fwtally-page-bench-'));
const barePages = Object.fromEntries(bareWays.map((name, index) => {
  const file = path.join(scratch, `bare-${index}.html`);
  fs.writeFileSync(file, `<!DOCTYPE html><meta charset="utf-8"><title>${name}</title>
<input type="file" id="images" multiple>
<script>
  const read = ${bareReads[name]};
  const input = document.getElementById('images');
  input.addEventListener('change', async () => {
    const started = performance.now();
    let bytes = 0;
    for (const file of input.files) bytes += await read(file);
    document.body.dataset.elapsed = String(performance.now() - started);
    document.body.dataset.bytes = String(bytes);
  });
  document.body.dataset.ready = 'yes';
</script>`);
  return [name, pathToFileURL(file).href];
}));

const sizeOf = (files) => files.reduce((total, file) => total + fs.statSync(file).size, 0);

// Milliseconds from choosing the files to the last byte read.
async function timeBare(browser, url, files) {
  const page = await browser.open(url);
  await page.upload(files);
  await page.waitFor(() => document.body.dataset.elapsed !== undefined);
  const { elapsed, bytes } = await page.read(() => ({ ...document.body.dataset }));
  await page.close();
  if (Number(bytes) !== sizeOf(files)) {
    throw new Error(`the bare page read ${bytes} bytes`);
  }
  return Number(elapsed);
}

// Milliseconds from choosing the files to the page saying it is done with them,
// timed in the page by a listener of this benchmark's own, which also notes the
// longest task the engine reports (Chromium alone does) while the page reads.
// With `cancelAfter`, Cancel is clicked once that many rows are done, and the
// time it took to end the reading is answered instead.
async function timePage(browser, files, rows, { cancelAfter = null } = {}) {
  const page = await browser.open(pathToFileURL(path.join(site, 'index.html')).href);
  await page.read((cancelAt) => {
    const body = document.body;
    const tasks = [];
    if (PerformanceObserver.supportedEntryTypes.includes('longtask')) {
      new PerformanceObserver((list) => tasks.push(...list.getEntries())).observe({ type: 'longtask' });
    }
    // The task that hands the files over is the browser's own, and as long in
    // a bare page: the page's part of it is timed on its own. A listener for
    // the capture phase runs before the page's, this benchmark's after it.
    let handedOver = null;
    let handlerEnded = null;
    document.addEventListener('change', () => {
      handedOver = performance.now();
    }, { capture: true });
    document.getElementById('images').addEventListener('change', () => {
      handlerEnded = performance.now();
      const started = handedOver;
      let cancelled = null;
      new MutationObserver((changes, observer) => {
        const done = document.querySelectorAll('#results tbody tr[data-exit-status]').length;
        if (cancelAt !== null && cancelled === null && done >= cancelAt) {
          cancelled = performance.now();
          document.getElementById('cancel').click();
        }
        if (body.dataset.busy === 'no') {
          const ended = performance.now();
          observer.disconnect();
          // Tasks are reported once they end; the last one has, by the next.
          setTimeout(() => {
            body.dataset.elapsed = String(cancelled === null ? ended - started : ended - cancelled);
            const others = tasks.filter((task) => task.startTime > handedOver || task.startTime + task.duration < handedOver);
            body.dataset.longestTask = String(Math.max(0, ...others.map((task) => task.duration)));
            body.dataset.handler = String(handlerEnded - handedOver);
          }, 50);
        }
      }).observe(body, { attributes: true, subtree: true, attributeFilter: ['data-busy', 'data-exit-status'] });
    });
  }, cancelAfter);
  await page.upload(files);
  await page.waitFor(() => document.body.dataset.elapsed !== undefined);
  const { elapsed, longestTask, handler } = await page.read(() => ({ ...document.body.dataset }));
  const statuses = await page.read(() => Array.from(document.querySelectorAll('#results tbody tr .status-text'),
    (status) => status.textContent));
  await page.close();
  const unexpected = statuses.filter((status) => !['Done', 'No version markers', 'Cancelled'].includes(status));
  if (statuses.length !== rows || unexpected.length > 0 || (cancelAfter === null && statuses.includes('Cancelled'))) {
    throw new Error(`the page shows ${statuses.length} rows, of which: ${unexpected.slice(0, 3).join('; ')}`);
  }
  return { elapsed: Number(elapsed), longestTask: Number(longestTask), handler: Number(handler) };
}

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const seconds = (milliseconds) => (milliseconds / 1000).toFixed(2).padStart(6) + ' s';

// Firmware-like images of 2 MiB: bytes with no underscore, and three markers
// whose versions differ from image to image, as revisions' do.
function makeImages(count) {
  const folder = path.join(scratch, `images-${count}`);
  fs.mkdirSync(folder);
  const base = Buffer.alloc(2 * mebibyte);
  let seed = 20261211;
  for (let at = 0; at < base.length; ++at) {
    seed = (seed * 1103515245 + 12345) % 2 ** 31;
    base[at] = (seed >> 16) & 0xff;
    if (base[at] === 0x5f) {
      base[at] = 0x60;
    }
  }
  return Array.from({ length: count }, (_, index) => {
    const bytes = Buffer.from(base);
    for (const [place, version] of [[0.1, `1.${index % 100}`], [0.5, `2.${index % 7}`], [0.9, '3.00']]) {
      bytes.write(`x${version.padEnd(4, '0')}____y`, Math.floor(place * bytes.length), 'latin1');
    }
    const file = path.join(folder, `revision-${String(index).padStart(4, '0')}.bin`);
    fs.writeFileSync(file, bytes);
    return file;
  });
}

function storedArchive(files) {
  const archive = path.join(scratch, `revisions-${files.length}.zip`);
  const made = spawnSync('python3', ['-c', `
import sys, os, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_STORED) as archive:
    for file in sys.argv[2:]:
        archive.write(file, 'fw/' + os.path.basename(file))
`, archive, ...files]);
  if (made.status !== 0) {
    throw new Error(`the archive was not made: ${made.stderr}`);
  }
  return archive;
}

function printRatio(label, page, bare, megabytes) {
  console.log(`  ${label.padEnd(34)} ${seconds(page)}  ${seconds(bare)}  ` +
    `${(megabytes / (page / 1000)).toFixed(0).padStart(5)} MiB/s  ratio ${(page / bare).toFixed(2)}`);
}

async function benchmarkOneImage(engine, browser) {
  const times = { page: [], ...Object.fromEntries(bareWays.map((name) => [name, []])) };
  for (let round = 0; round < rounds; ++round) {
    times.page.push((await timePage(browser, [image], 1)).elapsed);
    for (const [name, url] of Object.entries(barePages)) {
      times[name].push(await timeBare(browser, url, [image]));
    }
  }
  const medians = Object.fromEntries(Object.entries(times).map(([name, values]) => [name, median(values)]));
  const fastestBare = Math.min(...bareWays.map((name) => medians[name]));
  const megabytes = fs.statSync(image).size / mebibyte;
  console.log(`\n${engine}`);
  for (const [name, value] of Object.entries(medians)) {
    const label = name === 'page' ? 'the page' : `bare, ${name}`;
    console.log(`  ${label.padEnd(24)} ${seconds(value)}  ` +
      `${(megabytes / (value / 1000)).toFixed(0).padStart(5)} MiB/s  ratio ${(value / fastestBare).toFixed(2)}`);
  }
}

async function benchmarkManyFiles(engine, browser, sets) {
  console.log(`\n${engine}: the page, bare file.stream(), the page's speed, and their ratio`);
  for (const { files, archive } of sets) {
    const megabytes = sizeOf(files) / mebibyte;
    for (const [what, chosen, rows] of [['files', files, files.length], ['archive of', [archive], files.length]]) {
      const page = [];
      const bare = [];
      let longestTask = 0;
      let handler = 0;
      for (let round = 0; round < rounds; ++round) {
        const timed = await timePage(browser, chosen, rows);
        page.push(timed.elapsed);
        longestTask = Math.max(longestTask, timed.longestTask);
        handler = Math.max(handler, timed.handler);
        bare.push(await timeBare(browser, barePages['file.stream()'], chosen));
      }
      printRatio(`${what === 'files' ? '' : 'an archive of '}${files.length} files of 2 MiB`,
        median(page), median(bare), megabytes);
      if (engine === 'chromium' && files.length === Math.max(...counts)) {
        console.log(`    longest main-thread task: ${longestTask.toFixed(0)} ms, ` +
          `and the page's handling of the choice ${handler.toFixed(0)} ms`);
      }
    }
    if (files.length === Math.max(...counts)) {
      const cancelled = await timePage(browser, files, files.length, { cancelAfter: 10 });
      console.log(`    Cancel after 10 of ${files.length} files: reading ended ${cancelled.elapsed.toFixed(0)} ms after the click`);
    }
  }
}

try {
  const sets = counts.map((count) => {
    const files = makeImages(count);
    return { files, archive: storedArchive(files) };
  });
  if (image) {
    console.log(`${path.basename(image)}, ${(fs.statSync(image).size / mebibyte).toFixed(0)} MiB, median of ${rounds} rounds`);
  } else {
    console.log(`${counts.join(', ')} images of 2 MiB, median of ${rounds} rounds`);
  }
  for (const engine of engines.length > 0 ? engines : ['chromium', 'firefox', 'webkit']) {
    const browser = await launch(engine, path.join(scratch, engine));
    try {
      await (manyFiles ? benchmarkManyFiles(engine, browser, sets) : benchmarkOneImage(engine, browser));
    } finally {
      await browser.close();
    }
  }
} finally {
  fs.rmSync(scratch, { recursive: true, force: true });
}
