# The web page, glyphor.html, in real browsers: Debian's chromium, headless,
# driven by puppeteer-core (its version pinned in web/test/package-lock.json);
# then, more briefly, Firefox ESR (puppeteer-core over WebDriver BiDi) and
# WebKitGTK (WebKitWebDriver, under xvfb-run).
# Every tileset case of the command-line suite gives the page's message, the
# download's name and bytes, and the preview's pixels that glyphor and
# glyphor-preview give; PNG, GIF and WebP images those of the README's
# ImageMagick recipe; what it shows is only the last file's outcome, its
# pictures crisp at every pixel ratio, in both colour schemes; the page works
# by keyboard and, opened from its file offline, asks for nothing. In Firefox
# and WebKitGTK, the sample, its PNG and a text file give glyphor's messages
# and bytes. The page's assembler source, saved by the test, assembled by each
# assembler Debian ships gives glyphor's bytes. In the three engines, the page's speed: in Chromium, ready in 300
# ms, the sample shown in 50 and a 20000x20000 PNG refused in 100; in every
# engine, that PNG refused from its header, never decoded.
#
# The chromium tests (web/test/page_test.mjs) take the cases as files from
# web_cases (web/test/make_cases.cpp); PNGs with gamma and chromaticity
# chunks, an ICC profile, a palette or alpha, a GIF and a WebP must give what
# the ImageMagick recipe gives (which takes a PNG whose gamma is not 1/2.2 as
# linear and converts its pixels, where the page takes them as stored: the
# test PNGs carry the usual gamma); then a drop, the count typed by keyboard,
# a wrong size, a slow file overtaken, a file too big for the browser, each way
# to write a load address, the tile under the pointer, the pictures' device
# pixels at phone and desktop sizes and pixel ratios 1 to 3, and the contrast
# of every text in both colour schemes. WebKitGTK loads no blob: URL from a
# script, so the bytes there are read from the Blob the page offers.
set -euo pipefail
. scripts/lib.sh
need_packages cmake make g++ googletest libgtest-dev "${web_packages[@]}" \
    chromium imagemagick icc-profiles-free firefox-esr webkit2gtk-driver xvfb xauth \
    acme 64tass cc65
need_npm

cmake --workflow --preset web
page="$PWD/build/web/glyphor.html"
echo "web: glyphor.html is $(stat -c %s "$page") bytes (at most 65536)"

# glyphor, glyphor-preview and the cases, built for this machine.
cmake --preset test >/dev/null
cmake --build --preset test --target glyphor glyphor-preview web_cases
cases=$(mktemp -d)
trap 'rm -rf "$cases"' EXIT
build/test/tests/web_cases "$cases"

# puppeteer-core drives the chromium installed above; it never fetches a browser.
(cd web/test && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error)
node web/test/page_test.mjs "$page" build/test "$cases"
# Its source of the sample's tiles 64 on, at $2000 (KickAssembler is not in Debian).
build/test/glyphor examples/tileset.bmp "$cases/charset.bin" >/dev/null
tail -c +513 "$cases/charset.bin" >"$cases/tiles-64-on.bin"
for assembler in ACME 64tass ca65; do
    (cd "$cases" && assemble "$assembler" "$assembler.s" "$assembler.bin")
    cmp "$cases/$assembler.bin" "$cases/tiles-64-on.bin"
    echo "web: the page's $assembler source gives glyphor's bytes from tile 64 on"
done
xvfb-run -a node web/test/engines.mjs "$page" build/test examples/tileset.bmp
