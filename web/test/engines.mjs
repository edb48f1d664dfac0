// The web page in the other engines, Firefox ESR and WebKitGTK (run it under
// xvfb-run): the sample, its PNG and a text file at several counts, dropped,
// must give glyphor's message, download and preview (the README's recipe's
// for the PNG).
//
//   xvfb-run -a node engines.mjs PAGE BINDIR SAMPLE
import { execFileSync } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, join, resolve } from 'node:path';
import { firefox, pageRun, webkit } from './browser.mjs';
import { programs } from './programs.mjs';

const [pageFile, bin, sample] = process.argv.slice(2).map((path) => resolve(path));
const work = mkdtempSync(join(tmpdir(), 'glyphor-engines-'));
const { compare, summary, put, glyphorRun, recipeRun } = programs(bin, work);

try {
  execFileSync('convert', [sample, join(work, 'tileset.png')]);
  const png = join(work, 'tileset.png');
  const notes = put('notes.txt', 'Not a picture at all.\n');
  for (const [engine, open] of [['Firefox', firefox], ['WebKitGTK', webkit]]) {
    const driver = await open(pageFile);
    try {
      for (const [file, count, run = glyphorRun] of [
        [sample, '256'], [sample, '64'], [sample, ''], [sample, '257'], [png, '256', recipeRun],
        [png, '1', recipeRun], [notes, '256']]) {
        compare(`${engine}: ${basename(file)} with count ${JSON.stringify(count)}`,
                await pageRun(driver, file, count, 0), file, run(file, count));
      }
    } finally {
      await driver.close();
    }
  }
} finally {
  rmSync(work, { recursive: true, force: true });
}
process.exit(summary('web, Firefox and WebKitGTK') ? 0 : 1);
