// Debian's chromium, headless, as the web stage and the benchmark run it: a
// fresh profile, no background connections, and downloads into a folder.
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import puppeteer from 'puppeteer-core';

export async function openBrowser() {
  const profile = mkdtempSync(join(tmpdir(), 'glyphor-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync',
           `--user-data-dir=${profile}`],
  });
  return {
    browser,
    async close() {
      await browser.close();
      rmSync(profile, { recursive: true, force: true });
    },
  };
}

// Opens the page from its file; once its module is ready, resolves to the page.
export async function openPage(browser, file) {
  const page = await browser.newPage();
  await page.goto(`file://${file}`);
  await page.waitForSelector('body[data-ready="yes"]');
  return page;
}

// Drops a file of these bytes on the page, as a user's drop does. Its reading
// may instead fail ('gone', a file removed since), take some ms, or wait for
// window.release() ('held'), as a large file's does; the drop's data is then a
// plain object, as a browser's own would not keep the file's changed reader.
export function dropFile(page, name, bytes, reading = 'drop') {
  return page.evaluate((fileName, content, how) => {
    const file = new File([new Uint8Array(content)], fileName);
    if (how === 'drop') {
      const transfer = new DataTransfer();
      transfer.items.add(file);
      return document.dispatchEvent(new DragEvent('drop', { dataTransfer: transfer, bubbles: true }));
    }
    const read = how === 'gone'
      ? () => Promise.reject(new DOMException('gone', 'NotReadableError'))
      : file.arrayBuffer.bind(file);
    const until = new Promise((done) => {
      if (how === 'held') window.release = done;
      else setTimeout(done, how === 'gone' ? 0 : how);
    });
    file.arrayBuffer = () => until.then(read);
    const drop = new Event('drop', { bubbles: true });
    Object.defineProperty(drop, 'dataTransfer', { value: { files: [file] } });
    return document.dispatchEvent(drop);
  }, name, [...bytes], reading);
}
