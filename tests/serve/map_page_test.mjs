// The map page in a real browser: Debian's chromium, driven by
// playwright-core, loads the page from zarvo-serve, switches layers, pans
// and zooms, and each time waits for the GetMaps it causes and checks that
// the map is drawn, with no console error. Then: the data's credits are
// shown, zooming stops one level past the tiles, a drag across longitude
// 180 shows map, a reload restores the view from the address, the position
// panel hides when the cursor leaves, the Web Mercator view draws the
// WMTS's tiles, and switching the grid keeps the centre.
//
// The profile is a fresh directory of its own (playwright passes it as
// --user-data-dir).
//
// Usage: node map_page_test.mjs SERVER TILES NODE_MODULES_PARENT [SCREENSHOT [SCREENSHOT_3857]]
import {spawn} from 'node:child_process';
import {mkdtempSync, rmSync} from 'node:fs';
import {createRequire} from 'node:module';
import {tmpdir} from 'node:os';
import {join, resolve} from 'node:path';

const [server, tiles, webDir, screenshot, mercatorScreenshot] = process.argv.slice(2);
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

// The share of a horizontal band of the map's canvases (from x0 to x1 in
// CSS pixels) that is page white: where no tile was drawn.
function whiteShare(page, x0, x1) {
  return page.evaluate(
    ([x0, x1]) => {
      let white = 0;
      let all = 0;
      for (const canvas of document.querySelectorAll('.ol-layer canvas')) {
        if (canvas.width === 0 || canvas.height === 0) continue;
        const scale = canvas.width / canvas.getBoundingClientRect().width;
        const left = Math.floor(x0 * scale);
        const width = Math.max(1, Math.floor((x1 - x0) * scale));
        const data = canvas.getContext('2d').getImageData(left, 0, width, canvas.height).data;
        for (let i = 0; i < data.length; i += 4 * 13) {
          all += 1;
          if (data[i + 3] === 0 || (data[i] > 250 && data[i + 1] > 250 && data[i + 2] > 250)) white += 1;
        }
      }
      return all === 0 ? 1 : white / all;
    },
    [x0, x1],
  );
}

function tileResponse(page, pattern) {
  return page.waitForResponse((r) => pattern.test(r.url()), {timeout: 20000});
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

  const credits = await page.textContent('.ol-attribution');
  check(/GSHHG/.test(credits) && /NASA/.test(credits), `the hybrid layer's credits are shown (${credits.trim()})`);

  // Zooming in stops one level past the tiles' finest: their pixels (360 /
  // (256 * 2^5) degrees at plug-in zoom 6) enlarged twice.
  await page.evaluate(() => window.zarvoMap.getView().setZoom(20));
  const deepest = await page.evaluate(() => window.zarvoMap.getView().getResolution());
  check(Math.abs(deepest - 360 / (256 * 2 ** 6)) < 1e-12, `zooming stops one level past the tiles (${deepest} degrees a pixel)`);

  // Across longitude 180: the map goes on, east of it is the far west.
  await page.check('input[name=layer][value=map]');
  await page.evaluate(() => {
    window.zarvoMap.getView().setZoom(4);
    window.zarvoMap.getView().setCenter([176, -18]);
  });
  await rendered(page);
  await page.mouse.move(700, 350);
  await page.mouse.down();
  await page.mouse.move(300, 350, {steps: 10});
  await page.mouse.up();
  await rendered(page);
  const across = await page.evaluate(() => window.zarvoMap.getView().getCenter()[0]);
  const white = await whiteShare(page, 0, 1024);
  check(across > 180 && white < 0.02, `dragging across longitude 180 shows map (centre at ${across.toFixed(2)}, ${(white * 100).toFixed(1)}% white)`);

  // The position panel shows over the map and hides off it.
  await page.mouse.move(512, 350);
  const shown = await page.isVisible('#position');
  await page.mouse.move(512, 350);
  await page.dispatchEvent('.ol-viewport', 'pointerleave');
  const hidden = !(await page.isVisible('#position'));
  check(shown && hidden, `the position panel shows over the map and hides off it (${shown}, ${hidden})`);

  // A reload shows the same view from the address.
  await page.check('input[name=layer][value=aerial]');
  await page.evaluate(() => {
    window.zarvoMap.getView().setZoom(3.5);
    window.zarvoMap.getView().setCenter([-60.5, -12.25]);
  });
  await rendered(page);
  const kept = await page
    .waitForFunction(() => /layer=aerial&.*lon=-60\.50000&lat=-12\.25000/.test(window.location.hash), null, {timeout: 20000})
    .then(() => true, () => false);
  check(kept, `the address keeps the view (${await page.evaluate(() => window.location.hash)})`);
  const reloaded = getMapResponse(page, 'aerial');
  await page.reload({waitUntil: 'load', timeout: 20000});
  await reloaded;
  await page.waitForFunction(() => window.zarvoMap !== undefined, null, {timeout: 10000});
  const restored = await page.evaluate(() => {
    const view = window.zarvoMap.getView();
    const visible = window.zarvoMap.getLayers().getArray().find((l) => l.getVisible()).get('name');
    return {center: view.getCenter(), zoom: view.getZoom(), visible};
  });
  check(Math.abs(restored.center[0] + 60.5) < 1e-4 && Math.abs(restored.center[1] + 12.25) < 1e-4 &&
        Math.abs(restored.zoom - 3.5) < 0.01 && restored.visible === 'aerial',
        `a reload restores the view and layer (${JSON.stringify(restored)})`);

  // Web Mercator: the WMTS's tiles, at the same place.
  const mercatorTile = tileResponse(page, /\/wmts\/1\.0\.0\/aerial\/default\/WebMercatorQuad\/\d+\/\d+\/\d+\.jpeg$/);
  await page.check('input[name=grid][value="3857"]');
  const tile = await mercatorTile;
  check(tile.status() === 200 && tile.headers()['content-type'] === 'image/jpeg', 'the Web Mercator view fetches WMTS tiles');
  await rendered(page);
  const mercator = await page.evaluate(() => ({
    projection: window.zarvoMap.getView().getProjection().getCode(),
    hash: window.location.hash,
  }));
  const mercatorDrawing = await canvasSummary(page);
  check(mercator.projection === 'EPSG:3857' && mercatorDrawing.colours > 20 && (await whiteShare(page, 0, 1024)) < 0.02,
        `the Web Mercator view is drawn without empty bands (${mercatorDrawing.colours} colours)`);

  // Back to longitude/latitude from a scale at which it would show beyond
  // the world's north edge: the centre stays, the view comes closer.
  await page.evaluate(() => {
    const view = window.zarvoMap.getView();
    view.setCenter([1113194.9079327357, 6446275.841017158]);  // 10, 50
    view.setZoom(3.4);
  });
  await rendered(page);
  await page.check('input[name=grid][value="4326"]');
  const kept4326 = await page.evaluate(() => window.zarvoMap.getView().getCenter());
  check(Math.abs(kept4326[0] - 10) < 1e-6 && Math.abs(kept4326[1] - 50) < 1e-6,
        `switching the grid keeps the centre (${kept4326})`);

  if (screenshot) {
    for (const [grid, path] of [['4326', screenshot], ['3857', mercatorScreenshot]]) {
      if (!path) continue;
      await page.check(`input[name=grid][value="${grid}"]`);
      await page.check('input[name=layer][value=hybrid]');
      await page.evaluate((grid) => {
        const view = window.zarvoMap.getView();
        view.setCenter(grid === '3857' ? [1113194.9, 6446275.8] : [10, 50]);
        view.setZoom(4);
      }, grid);
      await rendered(page);
      await page.waitForLoadState('networkidle');
      await rendered(page);
      await page.mouse.move(600, 300);
      await page.screenshot({path});
    }
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
