// Times the browser page on one image against bare pages that only read the same
// file, in each engine, and prints each time with its ratio to the fastest bare
// read: the page's cost over the reading the browser does anyway. Each way runs
// once a round, in turn, and the median of the rounds is printed.
//
//   node bench/page-against-bare-read.mjs SITE IMAGE [ENGINE...]
//
// SITE is the built page (build/web/web/site); IMAGE a file, in the page cache
// for a warm read (bench/compare-with-cat.sh writes firmware-like.bin).
// FWTALLY_BENCH_ROUNDS sets the rounds (default 5). The engines' programs come
// from the same variables as the page's tests: FWTALLY_CHROMIUM, FWTALLY_FIREFOX,
// FWTALLY_WEBKIT_DRIVER and FWTALLY_MINIBROWSER; WebKit needs an X server
// (xvfb-run). Needs the page tests' npm modules in web/node_modules.

import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

import { launch } from '../web/tests/engines.mjs';

const [site, image, ...engines] = process.argv.slice(2);
const rounds = Number(process.env.FWTALLY_BENCH_ROUNDS ?? 5);
if (!site || !image) {
  console.error('usage: node bench/page-against-bare-read.mjs SITE IMAGE [ENGINE...]');
  process.exit(64);
}

// The bare pages: a file input, and the read, timed from the choice to the last
// byte. Each way of reading that the page might take.
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

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'fwtally-page-bench-'));
const barePages = Object.fromEntries(Object.entries(bareReads).map(([name, read], index) => {
  const file = path.join(scratch, `bare-${index}.html`);
  fs.writeFileSync(file, `<!DOCTYPE html><meta charset="utf-8"><title>${name}</title>
<input type="file" id="images">
<script>
  const read = ${read};
  const input = document.getElementById('images');
  input.addEventListener('change', async () => {
    const started = performance.now();
    const bytes = await read(input.files[0]);
    document.body.dataset.elapsed = String(performance.now() - started);
    document.body.dataset.bytes = String(bytes);
  });
  document.body.dataset.ready = 'yes';
</script>`);
  return [name, pathToFileURL(file).href];
}));

// Milliseconds from choosing the image to the last byte read.
async function timeBare(browser, url) {
  const page = await browser.open(url);
  await page.upload([image]);
  await page.waitFor(() => document.body.dataset.elapsed !== undefined);
  const { elapsed, bytes } = await page.read(() => ({ ...document.body.dataset }));
  await page.close();
  if (Number(bytes) !== fs.statSync(image).size) {
    throw new Error(`the bare page read ${bytes} bytes`);
  }
  return Number(elapsed);
}

// Milliseconds from choosing the image to the page saying it is done with it,
// timed in the page by a listener of this benchmark's own.
async function timePage(browser) {
  const page = await browser.open(pathToFileURL(path.join(site, 'index.html')).href);
  await page.read(() => {
    document.getElementById('images').addEventListener('change', () => {
      const started = performance.now();
      new MutationObserver((changes, observer) => {
        if (document.body.dataset.busy === 'no') {
          document.body.dataset.elapsed = String(performance.now() - started);
          observer.disconnect();
        }
      }).observe(document.body, { attributes: true, attributeFilter: ['data-busy'] });
    });
  });
  await page.upload([image]);
  await page.waitFor(() => document.body.dataset.elapsed !== undefined);
  const elapsed = Number(await page.read(() => document.body.dataset.elapsed));
  const status = await page.read(() => document.querySelector('#results tbody tr .status-text').textContent);
  await page.close();
  if (status !== 'Done' && status !== 'No version markers') {
    throw new Error(`the page says "${status}"`);
  }
  return elapsed;
}

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const megabytes = fs.statSync(image).size / 2 ** 20;
console.log(`${path.basename(image)}, ${megabytes.toFixed(0)} MiB, median of ${rounds} rounds`);
try {
  for (const engine of engines.length > 0 ? engines : ['chromium', 'firefox', 'webkit']) {
    const browser = await launch(engine, path.join(scratch, engine));
    const times = { page: [], ...Object.fromEntries(Object.keys(barePages).map((name) => [name, []])) };
    for (let round = 0; round < rounds; ++round) {
      times.page.push(await timePage(browser));
      for (const [name, url] of Object.entries(barePages)) {
        times[name].push(await timeBare(browser, url));
      }
    }
    await browser.close();
    const medians = Object.fromEntries(Object.entries(times).map(([name, values]) => [name, median(values)]));
    const fastestBare = Math.min(...Object.keys(barePages).map((name) => medians[name]));
    console.log(`\n${engine}`);
    for (const [name, value] of Object.entries(medians)) {
      const label = name === 'page' ? 'the page' : `bare, ${name}`;
      console.log(`  ${label.padEnd(24)} ${(value / 1000).toFixed(2).padStart(6)} s  ` +
        `${(megabytes / (value / 1000)).toFixed(0).padStart(5)} MiB/s  ratio ${(value / fastestBare).toFixed(2)}`);
    }
  }
} finally {
  fs.rmSync(scratch, { recursive: true, force: true });
}
