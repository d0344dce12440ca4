// Takes the page's screenshots in docs/ in Chromium, after `cmake --workflow
// --preset web` has built the page and the sample image:
//
//   FWTALLY_CHROMIUM=/usr/bin/chromium node web/tests/take_screenshots.mjs
//
// docs/web-page.png: three images; docs/web-compare.png: five revisions of one
// drive's firmware compared; docs/web-phone.png: the same at phone width.

import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import { launch } from './engines.mjs';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const site = path.join(root, 'build/web/web/site');
const sample = fs.readFileSync(path.join(root, 'build/web/web/native/examples/sample-image.bin'));
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'fwtally-screenshots-'));

function image(name, bytes) {
  const file = path.join(scratch, name);
  fs.writeFileSync(file, bytes);
  return file;
}

// The sample with its versions replaced, as another revision of the firmware.
function revision(name, versions) {
  let index = 0;
  const bytes = sample.toString('latin1').replace(/V\d\.\d\d____/g, () => {
    const version = versions[index++];
    return version === undefined ? 'V-none___' : `V${version}____`;
  });
  return image(name, Buffer.from(bytes, 'latin1'));
}

const browser = await launch('chromium', scratch);
async function screenshot(file, width, height, images, reference) {
  const page = await browser.open('file://' + path.join(site, 'index.html'));
  await page.resize(width, height);
  await page.upload(images);
  await page.waitFor((count) => document.querySelectorAll('#results tbody tr').length === count &&
    document.body.dataset.busy === 'no', images.length);
  if (reference !== undefined) {
    await page.select('#reference', String(reference));
  }
  await page.page.screenshot({ path: path.join(root, 'docs', file), fullPage: true });
  await page.close();
}

try {
  await screenshot('web-page.png', 1280, 720, [
    image('drive-fw-1.02.bin', sample),
    revision('drive-fw-0.90.bin', ['0.90', '0.95']),
    image('truncated.bin', sample.subarray(0, 5)),
  ]);
  const revisions = [
    revision('drive-fw-1.00.bin', ['1.00', '1.00', '2.00', '2.00', '3.00', '3.00']),
    revision('drive-fw-1.01.bin', ['1.00', '1.01', '2.00', '2.00', '3.00', '3.00']),
    revision('drive-fw-1.02.bin', ['1.02', '1.05', '2.10', '2.11', '3.00', '3.01', '1.00']),
    revision('drive-fw-1.03.bin', ['1.02', '1.05', '2.10', '2.11', '3.00', '3.01', '1.00']),
    revision('drive-fw-1.10.bin', ['1.10', '1.05', '2.10', '2.20', '3.00', '3.01', '1.10']),
  ];
  await screenshot('web-compare.png', 1280, 720, revisions, 2);
  await screenshot('web-phone.png', 390, 844, revisions.slice(1, 3));
} finally {
  await browser.close();
  fs.rmSync(scratch, { recursive: true, force: true });
}
