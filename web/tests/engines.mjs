// The three browser engines the page is tested in, each driven as a person would
// use the page, behind one interface:
//
//   const browser = await launch(name, scratch)     // 'chromium', 'firefox' or 'webkit'
//   launch('chromium', scratch, { extraChromiumFlags })
//   const page = await browser.open(url)            // once the page is ready
//   page.upload(files) page.uploadFolder(folder)    // the latter where choosesFolders[name]
//   page.click(selector) page.select(selector, value)
//   page.press(key) page.resize(width, height) page.read(fn, ...args)
//   page.waitFor(fn, ...args) page.download(selector) page.close()
//   browser.close()
//
// `scratch` is a folder of the caller's, for the browser's profile and downloads.
// read and waitFor run `fn` in the page to read what it shows (text, attributes,
// layout); they never reach into the page's script. Chromium and Firefox come
// from Debian's packages, driven by puppeteer-core (Firefox over WebDriver BiDi);
// WebKitGTK is Debian's MiniBrowser, driven by WebKitWebDriver through
// selenium-webdriver, under an X server that the test runs in (xvfb-run).

import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';

import puppeteer from 'puppeteer-core';
import { Builder, By, Key } from 'selenium-webdriver';

const timeout = 120_000;  // CI machines are slow when busy

// Clicks the link and answers the bytes of the file it downloads. The folder is
// emptied first, and the file taken is the one that arrives, under whatever name
// the browser gives it (some change quotes and the like). Chromium and Firefox
// write to a temporary name and rename it when done; WebKit creates the file
// under its final name, empty, and fills it a moment later. So a file is taken
// once it is not empty and its size held still between two looks: every
// download the page offers holds at least one line.
async function clickToDownload(page, selector, folder) {
  // Hidden entries are the browser's own (WebKit downloads into its home folder).
  for (const entry of fs.readdirSync(folder).filter((name) => !name.startsWith('.'))) {
    fs.rmSync(path.join(folder, entry), { recursive: true, force: true });
  }
  await page.click(selector);
  const temporary = /\.(part|crdownload|download)$/;
  let sizeSeenBefore = -1;
  for (let waited = 0; ; waited += 50) {
    const entries = fs.readdirSync(folder).filter((entry) => !entry.startsWith('.'));
    if (entries.length === 1 && !temporary.test(entries[0])) {
      const file = path.join(folder, entries[0]);
      const { size } = fs.statSync(file);
      if (size > 0 && size === sizeSeenBefore) {
        return fs.readFileSync(file);
      }
      sizeSeenBefore = size;
    }
    if (waited > 20_000) {
      throw new Error(`no whole download from ${selector} in ${folder}: ${entries.join(', ')}`);
    }
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

class PuppeteerPage {
  constructor(page, downloads) {
    this.page = page;
    this.downloads = downloads;
    page.setDefaultTimeout(timeout);
  }

  async upload(files) {
    const input = await this.page.$('#images');
    await input.uploadFile(...files);
  }

  async uploadFolder(folder) {
    const input = await this.page.$('#folder');
    await input.uploadFile(folder);
  }

  click(selector) { return this.page.click(selector); }
  select(selector, value) { return this.page.select(selector, value); }
  press(key) { return this.page.keyboard.press(key); }
  resize(width, height) { return this.page.setViewport({ width, height }); }
  read(fn, ...args) { return this.page.evaluate(fn, ...args); }

  async waitFor(fn, ...args) {
    await this.page.waitForFunction(fn, { timeout: 300_000, polling: 50 }, ...args);
  }

  download(selector) { return clickToDownload(this, selector, this.downloads); }
  close() { return this.page.close(); }
}

const chromiumFlags = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];

async function launchPuppeteer(name, downloads, profile, extraChromiumFlags) {
  const browser = name === 'firefox'
    ? await puppeteer.launch({
      browser: 'firefox',
      executablePath: process.env.FWTALLY_FIREFOX,
      headless: true,
      userDataDir: profile,
      extraPrefsFirefox: {
        'browser.download.dir': downloads,
        'browser.download.folderList': 2,
        'browser.download.useDownloadDir': true,
        'browser.download.always_ask_before_handling_new_types': false,
      },
    })
    : await puppeteer.launch({
      executablePath: process.env.FWTALLY_CHROMIUM,
      headless: true,
      userDataDir: profile,
      args: [...chromiumFlags, ...extraChromiumFlags],
    });
  return {
    puppeteer: browser,
    async open(url) {
      const page = await browser.newPage();
      if (name === 'chromium') {
        const session = await page.createCDPSession();
        await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
      }
      const wrapped = new PuppeteerPage(page, downloads);
      await page.goto(url);
      await wrapped.waitFor(() => document.body.dataset.ready === 'yes');
      return wrapped;
    },
    close() { return browser.close(); },
  };
}

class WebDriverPage {
  constructor(driver, downloads) {
    this.driver = driver;
    this.downloads = downloads;
  }

  async upload(files) {
    // WebDriver chooses several files at once as one text, a path a line.
    await this.driver.findElement(By.id('images')).sendKeys(files.join('\n'));
  }

  // WebKit's driver will not click an element that a table scrolled sideways
  // holds out of view, so it is scrolled to first, as a person would.
  async click(selector) {
    const element = await this.driver.findElement(By.css(selector));
    await this.driver.executeScript("arguments[0].scrollIntoView({ block: 'nearest', inline: 'nearest' })", element);
    await element.click();
  }

  async select(selector, value) {
    await this.driver.findElement(By.css(`${selector} option[value="${value}"]`)).click();
  }

  async press(key) { await this.driver.actions().sendKeys(Key[key.toUpperCase()]).perform(); }
  async resize(width, height) { await this.driver.manage().window().setRect({ width, height }); }

  read(fn, ...args) {
    return this.driver.executeScript(`return (${fn}).apply(null, arguments)`, ...args);
  }

  async waitFor(fn, ...args) {
    await this.driver.wait(async () => Boolean(await this.read(fn, ...args)), 300_000);
  }

  download(selector) { return clickToDownload(this, selector, this.downloads); }
  async close() { await this.driver.get('about:blank'); }
}

function freePort() {
  return new Promise((resolve) => {
    const server = net.createServer().listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

async function launchWebKit(home) {
  const port = await freePort();
  // MiniBrowser saves downloads in the home folder, where there is no Downloads
  // folder; the driver's own home keeps them apart from anything else.
  fs.mkdirSync(home, { recursive: true });
  const server = spawn(process.env.FWTALLY_WEBKIT_DRIVER, [`--port=${port}`],
    { stdio: 'ignore', env: { ...process.env, HOME: home } });
  const driver = await (async () => {
    for (let attempt = 0; ; ++attempt) {
      try {
        return await new Builder().usingServer(`http://127.0.0.1:${port}`).withCapabilities({
          browserName: 'MiniBrowser',
          'webkitgtk:browserOptions': { binary: process.env.FWTALLY_MINIBROWSER, args: ['--automation'] },
        }).build();
      } catch (error) {
        if (attempt > 100) {
          throw error;
        }
        await new Promise((resolve) => setTimeout(resolve, 100));
      }
    }
  })();
  await driver.manage().setTimeouts({ script: timeout, pageLoad: timeout });
  return {
    async open(url) {
      const page = new WebDriverPage(driver, home);
      await driver.manage().window().setRect({ width: 1024, height: 768 });
      await driver.get(url);
      await page.waitFor(() => document.body.dataset.ready === 'yes');
      return page;
    },
    async close() {
      await driver.quit();
      server.kill();
    },
  };
}

// Which engines' automation can choose a folder in a folder input: Firefox's
// refuses a folder ("Is directory"), and WebKit's driver chooses nothing.
export const choosesFolders = { chromium: true, firefox: false, webkit: false };

export async function launch(name, scratch, { extraChromiumFlags = [] } = {}) {
  if (name === 'webkit') {
    return launchWebKit(path.join(scratch, 'webkit-home'));
  }
  const downloads = path.join(scratch, 'downloads');
  fs.mkdirSync(downloads, { recursive: true });
  return launchPuppeteer(name, downloads, path.join(scratch, 'profile'), extraChromiumFlags);
}
