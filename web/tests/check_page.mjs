// Opens a built page from a file:// URL in Chromium, chooses an image and checks
// that the row's download holds the lines expected, byte for byte: for the page
// as released, after it has been unpacked.
//
//   node check_page.mjs INDEX_HTML IMAGE EXPECTED_OUTPUT     (FWTALLY_CHROMIUM set)

import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

import { launch } from './engines.mjs';

const [index, image, expectedFile] = process.argv.slice(2);
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'fwtally-check-page-'));
const browser = await launch('chromium', scratch);
let failure = null;
try {
  const page = await browser.open(pathToFileURL(index).href);
  await page.upload([image]);
  await page.waitFor(() => document.querySelector('#results tbody tr .output a') !== null);
  const shown = await page.read(() => document.querySelector('#results tbody tr .status-text').textContent);
  const saved = await page.download('#results tbody tr .output a');
  if (!saved.equals(fs.readFileSync(expectedFile))) {
    failure = `the page's download for ${path.basename(image)} differs from ${expectedFile}`;
  } else if (shown !== 'Done') {
    failure = `the page says "${shown}" for ${path.basename(image)}`;
  }
} finally {
  await browser.close();
  fs.rmSync(scratch, { recursive: true, force: true });
}
if (failure !== null) {
  console.error(failure);
  process.exit(1);
}
console.log(`the page, opened from ${index}, shows ${path.basename(image)} and downloads its lines`);
