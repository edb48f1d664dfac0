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

// Drops a file of these bytes on the page, as a user's drop does.
export function dropFile(page, name, bytes) {
  return page.evaluate((fileName, content) => {
    const transfer = new DataTransfer();
    transfer.items.add(new File([new Uint8Array(content)], fileName));
    document.dispatchEvent(new DragEvent('drop', { dataTransfer: transfer, bubbles: true }));
  }, name, [...bytes]);
}
