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
import {copyFileSync, mkdtempSync, rmSync, writeFileSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {join, resolve} from 'node:path';
import {runInChromium, watchPage} from './browser_harness.mjs';

const [server, tiles, webDir, screenshot] = process.argv.slice(2);
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

process.on('exit', () => rmSync(root, {recursive: true, force: true}));
const options = {
  name: 'MapLibre', server, serverArgs: ['--tiles', tiles, '--web', root], webDir,
  chromiumArgs: ['--use-angle=swiftshader', '--enable-unsafe-swiftshader'],
};
await runInChromium(options, async ({context, base, check}) => {
  const page = await context.newPage();
  const watched = watchPage(page, base);
  const tileTypes = new Set();
  page.on('response', (r) => {
    if (/\/tiles\/map\/WebMercatorQuad\/\d+\/\d+\/\d+$/.test(r.url())) tileTypes.add(r.headers()['content-type']);
  });

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
      const pixel = drawing.getImageData(Math.round(point.x * scale), Math.round(point.y * scale), 1, 1);
      return [name, Array.from(pixel.data)];
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
  watched(check);
});
