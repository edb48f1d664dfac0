// What the page's tests hold it to: glyphor's message and charset for a file,
// run directly or after the README's ImageMagick recipe for PNG art, and a
// tally of the checks.
import { spawnSync } from 'node:child_process';
import { existsSync, readFileSync, rmSync } from 'node:fs';
import { basename, join } from 'node:path';

// expectEqual counts a check, and prints it when the page's value differs;
// summary prints the tally under a name and tells whether all passed.
export function checker() {
  let failures = 0;
  let checks = 0;
  return {
    expectEqual(what, actual, expected) {
      checks += 1;
      if (Buffer.compare(Buffer.from(actual), Buffer.from(expected)) === 0) return true;
      failures += 1;
      console.log(`FAIL ${what}\n  page:     ${JSON.stringify(String(actual)).slice(0, 300)}` +
                  `\n  expected: ${JSON.stringify(String(expected)).slice(0, 300)}`);
      return false;
    },
    summary(name) {
      console.log(`${name}: ${checks} checks, ${failures} failed`);
      return failures === 0;
    },
  };
}

// glyphor (in bin) run in the folder work.
export function programs(bin, work) {
  const glyphor = join(bin, 'glyphor');
  // The name the page gives the charset of a file: its extension replaced by .bin.
  const charsetName = (file) => `${basename(file).replace(/(.)\.[^.]*$/, '$1')}.bin`;
  // What glyphor prints after its banner, and the charset it writes (null for none).
  const programRun = (command, output) => {
    rmSync(join(work, output), { force: true });
    const run = spawnSync('sh', ['-c', command], { cwd: work, encoding: 'utf8' });
    const afterBanner = run.stdout.split('--------------------------------------------\n\n')[1];
    const file = join(work, output);
    return { message: afterBanner, charset: existsSync(file) ? readFileSync(file) : null };
  };
  const shellWord = (text) => `'${text.replaceAll("'", "'\\''")}'`;
  // An empty count is the count left out, as the page's empty field is.
  const countWord = (count) => (count === '' ? '' : ` ${shellWord(count)}`);
  const glyphorRun = (file, count) => programRun(
    `${shellWord(glyphor)} ${shellWord(file)} ${shellWord(charsetName(file))}${countWord(count)}`,
    charsetName(file));
  // The README's recipe for PNG art, and glyphor after it.
  const recipeRun = (file, count) => programRun(
    `convert ${shellWord(file)} -background black -alpha remove -type truecolor bmp:- | ` +
    `${shellWord(glyphor)} /dev/stdin ${shellWord(charsetName(file))}${countWord(count)}`,
    charsetName(file));
  return { charsetName, programRun, shellWord, glyphorRun, recipeRun };
}
