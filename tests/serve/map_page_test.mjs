// The map page in a real browser: Debian's chromium, driven by
// playwright-core, loads the page from zarvo-serve, switches layers, pans
// and zooms, and each time waits for the GetMaps it causes and checks that
// the map is drawn, with no console error.
//
// The profile is a fresh directory of its own (playwright passes it as
// --user-data-dir).
//
// Usage: node map_page_test.mjs SERVER TILES NODE_MODULES_PARENT [SCREENSHOT]
import {spawn} from 'node:child_process';
import {mkdtempSync, rmSync} from 'node:fs';
import {createRequire} from 'node:module';
import {tmpdir} from 'node:os';
import {join, resolve} from 'node:path';

const [server, tiles, webDir, screenshot] = process.argv.slice(2);
const require = createRequire(join(resolve(webDir), 'package.json'));
const {chromium} = require('playwright-core');

const failures = [];
function check(condition, what) {
  if (!condition) failures.push(what);
  console.log(`${condition ? 'ok  ' : 'FAIL'} ${what}`);
}

function startServer() {
  const child = spawn(server, ['--tiles', tiles, '--port', '0'], {stdio: ['ignore', 'pipe', 'inherit']});
  return new Promise((resolve, reject) => {
    let text = '';
    child.stdout.on('data', (chunk) => {
      text += chunk;
      const found = /listening on (http:\/\/[0-9.]+:\d+)\//.exec(text);
      if (found) resolve({child, base: found[1]});
    });
    child.on('exit', (code) => reject(new Error(`zarvo-serve exited with ${code}`)));
  });
}

// Resolves once the map has drawn everything it asked for.
function rendered(page) {
  return page.evaluate(
    () =>
      new Promise((resolve) => {
        window.zarvoMap.once('rendercomplete', () => resolve());
        window.zarvoMap.render();
      }),
  );
}

// What the visible layer's canvas holds: how many distinct colours in a
// sample, and a fingerprint to tell two drawings apart.
function canvasSummary(page) {
  return page.evaluate(() => {
    let colours = new Set();
    let fingerprint = 0;
    for (const canvas of document.querySelectorAll('.ol-layer canvas')) {
      if (canvas.width === 0 || canvas.height === 0) continue;
      const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
      for (let i = 0; i < data.length; i += 4 * 97) {
        colours.add((data[i] << 16) | (data[i + 1] << 8) | data[i + 2]);
        fingerprint = (fingerprint * 31 + data[i] + data[i + 1] * 7 + data[i + 2] * 13) >>> 0;
      }
    }
    return {colours: colours.size, fingerprint};
  });
}

function getMapResponse(page, layer) {
  return page.waitForResponse(
    (r) => /[?&]REQUEST=GetMap/i.test(r.url()) && new RegExp(`[?&]LAYERS=${layer}(&|$)`).test(r.url()),
    {timeout: 20000},
  );
}

const {child, base} = await startServer();
const profile = mkdtempSync(join(tmpdir(), 'zarvo-chromium-'));
let context;
try {
  context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: [
      '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
    ],
    viewport: {width: 1024, height: 700},
    timeout: 30000,
  });
  const page = await context.newPage();
  const consoleErrors = [];
  page.on('console', (m) => m.type() === 'error' && consoleErrors.push(m.text()));
  page.on('pageerror', (e) => consoleErrors.push(String(e)));
  const badResponses = [];
  page.on('response', (r) => r.status() >= 400 && badResponses.push(`${r.status()} ${r.url()}`));
  const outside = [];
  page.on('request', (r) => !r.url().startsWith(base) && !r.url().startsWith('data:') && outside.push(r.url()));

  const firstMap = getMapResponse(page, 'map');
  await page.goto(`${base}/`, {waitUntil: 'load', timeout: 20000});
  const response = await firstMap;
  check(response.status() === 200 && response.headers()['content-type'] === 'image/png', 'the map layer is fetched as PNG GetMaps');
  await rendered(page);
  const mapDrawing = await canvasSummary(page);
  check(mapDrawing.colours > 20, `the map layer is drawn (${mapDrawing.colours} colours in the sample)`);

  for (const layer of ['aerial', 'hybrid']) {
    const getMap = getMapResponse(page, layer);
    await page.check(`input[name=layer][value=${layer}]`);
    const r = await getMap;
    check(r.status() === 200, `switching to ${layer} fetches its GetMaps`);
    await rendered(page);
    const drawing = await canvasSummary(page);
    check(drawing.colours > 20 && drawing.fingerprint !== mapDrawing.fingerprint, `the ${layer} layer is drawn, unlike the map layer`);
  }

  const view = await page.evaluate(() => window.zarvoMap.getView().getCenter());
  const panned = getMapResponse(page, 'hybrid');
  await page.mouse.move(500, 350);
  await page.mouse.down();
  await page.mouse.move(300, 250, {steps: 10});
  await page.mouse.up();
  await panned;
  await rendered(page);
  const after = await page.evaluate(() => window.zarvoMap.getView().getCenter());
  check(after[0] > view[0] && after[1] < view[1], `dragging pans the map east and south (${view} to ${after})`);

  const zoomBefore = await page.evaluate(() => window.zarvoMap.getView().getZoom());
  const zoomed = getMapResponse(page, 'hybrid');
  await page.click('.ol-zoom-in');
  await zoomed;
  await page.waitForFunction((z) => window.zarvoMap.getView().getZoom() >= z + 1, zoomBefore, {timeout: 10000});
  await rendered(page);
  check((await canvasSummary(page)).colours > 20, 'zooming in fetches and draws the next level');

  await page.mouse.move(512, 350);
  const position = await page.textContent('#position');
  check(/lon -?\d+\.\d{5}°, lat -?\d+\.\d{5}°/.test(position), `the cursor's position is shown (${position.trim()})`);
  const scale = await page.textContent('.ol-scale-line-inner');
  check(/\d+\s*(m|km)/.test(scale), `a scale is shown (${scale})`);

  if (screenshot) {
    await page.check('input[name=layer][value=map]');
    await page.evaluate(() => {
      window.zarvoMap.getView().setCenter([10, 48]);
      window.zarvoMap.getView().setZoom(4);
    });
    await rendered(page);
    await page.mouse.move(600, 300);
    await page.screenshot({path: screenshot});
  }
  check(consoleErrors.length === 0, `no console errors ${consoleErrors.join('; ')}`);
  check(badResponses.length === 0, `no failed responses ${badResponses.join('; ')}`);
  check(outside.length === 0, `nothing is fetched from elsewhere ${outside.join('; ')}`);
} catch (e) {
  failures.push(String(e));
  console.log(`FAIL ${e}`);
} finally {
  if (context) await context.close();
  child.kill('SIGTERM');
  rmSync(profile, {recursive: true, force: true});
}
console.log(failures.length === 0 ? 'map page: all checks passed' : `map page: ${failures.length} failed`);
process.exit(failures.length === 0 ? 0 : 1);
