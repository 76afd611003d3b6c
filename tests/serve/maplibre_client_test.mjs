// MapLibre GL JS (npm's maplibre-gl, served from a page directory of its
// own with no network) in Debian's chromium, driven by playwright-core:
// a raster source from the XYZ door's TileJSON draws land and water where
// they are at named places, with the layer's credits from the TileJSON, its
// tiles fetched as WebP (MapLibre asks for it) from the template the
// TileJSON gives, nothing from elsewhere and no console error.
//
// WebGL runs on chromium's software renderer (SwiftShader).
//
// Usage: node maplibre_client_test.mjs SERVER TILES NODE_MODULES_PARENT [SCREENSHOT]
import {spawn} from 'node:child_process';
import {copyFileSync, mkdtempSync, rmSync, writeFileSync} from 'node:fs';
import {createRequire} from 'node:module';
import {tmpdir} from 'node:os';
import {join, resolve} from 'node:path';

const [server, tiles, webDir, screenshot] = process.argv.slice(2);
const require = createRequire(join(resolve(webDir), 'package.json'));
const {chromium} = require('playwright-core');
const dist = join(resolve(webDir), 'node_modules', 'maplibre-gl', 'dist');

// The map layer's colours (geodata/map_style.py) and named places, as the
// QGIS test has them: longitude, latitude, what lies there.
const LAND = [238, 232, 212];
const WATER = [164, 201, 234];
const PLACES = [
  ['Madrid', -3.7, 40.42, LAND], ['Bay of Biscay', -5.0, 45.5, WATER], ['Paris', 2.35, 48.86, LAND],
  ['Tyrrhenian Sea', 12.0, 39.5, WATER], ['Algerian Sahara', 3.0, 31.0, LAND], ['North Sea', 3.0, 55.5, WATER],
  ['Warsaw', 21.0, 52.23, LAND],
];

const failures = [];
function check(condition, what) {
  if (!condition) failures.push(what);
  console.log(`${condition ? 'ok  ' : 'FAIL'} ${what}`);
}

// The page: MapLibre's own files and a style of one raster source, the
// TileJSON, asked for relative to the page.
const root = mkdtempSync(join(tmpdir(), 'zarvo-maplibre-'));
for (const name of ['maplibre-gl.mjs', 'maplibre-gl-worker.mjs', 'maplibre-gl.css']) {
  copyFileSync(join(dist, name), join(root, name));
}
writeFileSync(join(root, 'index.html'), `<!doctype html>
<html lang="en"><head><meta charset="utf-8"><title>MapLibre over zarvo-serve</title>
<link rel="icon" href="data:,"><link rel="stylesheet" href="maplibre-gl.css">
<style>html, body, #map { margin: 0; height: 100%; }</style></head>
<body><div id="map"></div><script type="module">
import * as maplibregl from './maplibre-gl.mjs';
const tilejson = new URL('tiles/map/WebMercatorQuad/tilejson.json', window.location.href).href;
window.map = new maplibregl.Map({
  container: 'map',
  style: {
    version: 8,
    sources: {zarvo: {type: 'raster', url: tilejson, tileSize: 256}},
    layers: [{id: 'zarvo', type: 'raster', source: 'zarvo', paint: {'raster-fade-duration': 0}}],
  },
  center: [8, 46],
  zoom: 3,
  canvasContextAttributes: {preserveDrawingBuffer: true},
});
</script></body></html>
`);

function startServer() {
  const child = spawn(server, ['--tiles', tiles, '--port', '0', '--web', root], {stdio: ['ignore', 'pipe', 'inherit']});
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

const {child, base} = await startServer();
const profile = mkdtempSync(join(tmpdir(), 'zarvo-chromium-'));
let context;
try {
  context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: [
      '--headless', '--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader', '--disable-quic',
      '--no-first-run', '--disable-background-networking', '--disable-component-update', '--disable-sync',
    ],
    viewport: {width: 1024, height: 700},
    timeout: 30000,
  });
  const page = await context.newPage();
  const consoleErrors = [];
  page.on('console', (m) => m.type() === 'error' && consoleErrors.push(m.text()));
  page.on('pageerror', (e) => consoleErrors.push(String(e)));
  const badResponses = [];
  const tileTypes = new Set();
  page.on('response', (r) => {
    if (r.status() >= 400) badResponses.push(`${r.status()} ${r.url()}`);
    if (/\/tiles\/map\/WebMercatorQuad\/\d+\/\d+\/\d+$/.test(r.url())) tileTypes.add(r.headers()['content-type']);
  });
  const outside = [];
  page.on('request', (r) => !r.url().startsWith(base) && !/^(data|blob):/.test(r.url()) && outside.push(r.url()));

  const tilejson = page.waitForResponse((r) => r.url().endsWith('/tilejson.json'), {timeout: 20000});
  await page.goto(`${base}/`, {waitUntil: 'load', timeout: 20000});
  check((await tilejson).status() === 200, 'MapLibre reads the layer from the TileJSON');
  await page.waitForFunction(() => window.map !== undefined && window.map.loaded() && window.map.areTilesLoaded(),
                             null, {timeout: 60000, polling: 200});
  await page.evaluate(() => new Promise((resolve) => {
    window.map.once('idle', resolve);
    window.map.triggerRepaint();
  }));
  check(tileTypes.size === 1 && tileTypes.has('image/webp'),
        `its tiles come from the TileJSON's template as WebP (${[...tileTypes].join(', ')})`);

  const colours = await page.evaluate((places) => {
    const canvas = window.map.getCanvas();
    const copy = document.createElement('canvas');
    copy.width = canvas.width;
    copy.height = canvas.height;
    const drawing = copy.getContext('2d');
    drawing.drawImage(canvas, 0, 0);
    const scale = canvas.width / canvas.clientWidth;
    return places.map(([name, lon, lat]) => {
      const point = window.map.project([lon, lat]);
      return [name, Array.from(drawing.getImageData(Math.round(point.x * scale), Math.round(point.y * scale), 1, 1).data)];
    });
  }, PLACES);
  for (const [name, rgba] of colours) {
    const expected = PLACES.find((p) => p[0] === name)[3];
    const near = expected.every((v, i) => Math.abs(v - rgba[i]) <= 12);
    check(near, `${name} is ${expected === LAND ? 'land' : 'water'} (${rgba.slice(0, 3)})`);
  }
  const credits = await page.textContent('.maplibregl-ctrl-attrib');
  check(/GSHHG/.test(credits), `the layer's credits from the TileJSON are shown (${credits.trim()})`);

  if (screenshot) await page.screenshot({path: screenshot});
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
  rmSync(root, {recursive: true, force: true});
}
console.log(failures.length === 0 ? 'MapLibre: all checks passed' : `MapLibre: ${failures.length} failed`);
process.exit(failures.length === 0 ? 0 : 1);
