// The map page in a real browser: Debian's chromium, driven by
// playwright-core, loads the page from zarvo-serve, switches layers, pans
// and zooms, and each time waits for the XYZ tiles it causes (WebP, which
// chromium takes) and checks that the map is drawn, with no console error.
// Then: the data's credits are shown, the "use this map" panel gives
// addresses that work and copies them, zooming stops one level past the
// tiles, a drag across longitude 180 shows map, a reload restores the view
// from the address, the position panel hides when the cursor leaves, the
// Web Mercator view draws its tiles, switching the grid keeps the centre,
// and a screen of two pixels per CSS pixel gets the 512 px tiles (@2x).
//
// Usage: node map_page_test.mjs SERVER TILES NODE_MODULES_PARENT [SCREENSHOT [SCREENSHOT_3857 [SCREENSHOT_PANEL]]]
import {runInChromium, watchPage} from './browser_harness.mjs';

const [server, tiles, webDir, screenshot, mercatorScreenshot, panelScreenshot] = process.argv.slice(2);

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

// A tile of `layer` in the longitude/latitude grid (or `set`), with no
// extension: the browser's Accept chooses.
function layerTile(page, layer, set = 'WorldCRS84Quad', density = '') {
  return tileResponse(page, new RegExp(`/tiles/${layer}/${set}/\\d+/\\d+/\\d+${density}$`));
}

const options = {name: 'map page', server, serverArgs: ['--tiles', tiles], webDir, chromiumArgs: ['--disable-gpu']};
await runInChromium(options, async ({context, base, check}) => {
  const page = await context.newPage();
  const watched = watchPage(page, base);

  const firstMap = layerTile(page, 'map');
  await page.goto(`${base}/`, {waitUntil: 'load', timeout: 20000});
  const response = await firstMap;
  check(response.status() === 200 && response.headers()['content-type'] === 'image/webp' &&
        response.headers()['vary'] === 'Accept',
        'the map layer is fetched as XYZ tiles, in WebP, which chromium takes');
  await rendered(page);
  const mapDrawing = await canvasSummary(page);
  check(mapDrawing.colours > 20, `the map layer is drawn (${mapDrawing.colours} colours in the sample)`);

  for (const layer of ['aerial', 'hybrid']) {
    const tile = layerTile(page, layer);
    await page.check(`input[name=layer][value=${layer}]`);
    const r = await tile;
    check(r.status() === 200, `switching to ${layer} fetches its tiles`);
    await rendered(page);
    const drawing = await canvasSummary(page);
    check(drawing.colours > 20 && drawing.fingerprint !== mapDrawing.fingerprint, `the ${layer} layer is drawn, unlike the map layer`);
  }

  const view = await page.evaluate(() => window.zarvoMap.getView().getCenter());
  const panned = layerTile(page, 'hybrid');
  await page.mouse.move(500, 350);
  await page.mouse.down();
  await page.mouse.move(300, 250, {steps: 10});
  await page.mouse.up();
  await panned;
  await rendered(page);
  const after = await page.evaluate(() => window.zarvoMap.getView().getCenter());
  check(after[0] > view[0] && after[1] < view[1], `dragging pans the map east and south (${view} to ${after})`);

  const zoomBefore = await page.evaluate(() => window.zarvoMap.getView().getZoom());
  const zoomed = layerTile(page, 'hybrid');
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

  // The "use this map" panel: the visible layer's addresses, each of which
  // answers, and a button that copies each.
  await context.grantPermissions(['clipboard-read', 'clipboard-write'], {origin: base});
  await page.click('#use-toggle');
  const offered = await page.evaluate(() =>
    Object.fromEntries(['xyz', 'tilejson', 'wmts', 'wms'].map((n) => [n, document.getElementById(`use-${n}`).value])));
  check(offered.xyz === `${base}/tiles/hybrid/WebMercatorQuad/{z}/{x}/{y}` &&
        offered.tilejson === `${base}/tiles/hybrid/WebMercatorQuad/tilejson.json` &&
        offered.wmts === `${base}/wmts/1.0.0/WMTSCapabilities.xml` && offered.wms === `${base}/wms`,
        `the panel offers the hybrid layer's addresses (${JSON.stringify(offered)})`);
  const answers = await Promise.all([
    fetch(offered.xyz.replace('{z}/{x}/{y}', '3/4/2')), fetch(offered.tilejson), fetch(offered.wmts),
    fetch(`${offered.wms}?SERVICE=WMS&REQUEST=GetCapabilities`),
  ]);
  const tileJson = await answers[1].json();
  check(answers.every((a) => a.status === 200) && answers[0].headers.get('content-type').startsWith('image/') &&
        tileJson.tiles[0] === offered.xyz && /xml/.test(answers[2].headers.get('content-type')) &&
        /xml/.test(answers[3].headers.get('content-type')),
        'every address in the panel answers, the TileJSON with the same template');
  await page.click('button[data-copy="use-tilejson"]');
  const copied = await page.evaluate(() => navigator.clipboard.readText());
  check(copied === offered.tilejson, `its button copies an address (${copied})`);
  await page.click('#use-toggle');

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

  // A reload shows the same view from the address. The view is set well
  // after the drags above have stopped gliding, so that no animation's end
  // tells the page of the change: it must see the change itself.
  await page.check('input[name=layer][value=aerial]');
  await page.waitForFunction(() => !window.zarvoMap.getView().getAnimating(), null, {timeout: 10000});
  await page.waitForTimeout(500);
  await page.evaluate(() => {
    window.zarvoMap.getView().setZoom(3.5);
    window.zarvoMap.getView().setCenter([-60.5, -12.25]);
  });
  await rendered(page);
  const kept = await page
    .waitForFunction(() => /layer=aerial&.*lon=-60\.50000&lat=-12\.25000/.test(window.location.hash), null, {timeout: 20000})
    .then(() => true, () => false);
  check(kept, `the address keeps the view (${await page.evaluate(() => window.location.hash)})`);
  const reloaded = layerTile(page, 'aerial');
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

  // Web Mercator: its tiles, at the same place.
  const mercatorTile = layerTile(page, 'aerial', 'WebMercatorQuad');
  await page.check('input[name=grid][value="3857"]');
  const tile = await mercatorTile;
  check(tile.status() === 200 && tile.headers()['content-type'] === 'image/webp',
        'the Web Mercator view fetches its tiles');
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

  // A screen of two pixels per CSS pixel: the 512 px twins, drawn.
  const sharp = await context.newPage();
  const session = await context.newCDPSession(sharp);
  await session.send('Emulation.setDeviceMetricsOverride',
                     {width: 1024, height: 700, deviceScaleFactor: 2, mobile: false});
  const twin = layerTile(sharp, 'map', 'WorldCRS84Quad', '@2x');
  await sharp.goto(`${base}/#grid=4326&layer=map&zoom=3&lon=10&lat=50`, {waitUntil: 'load', timeout: 20000});
  const twinTile = await twin;
  const twinWidth = await sharp.evaluate(
    async (url) => (await createImageBitmap(await (await fetch(url)).blob())).width, twinTile.url());
  await rendered(sharp);
  const sharpDrawing = await canvasSummary(sharp);
  check(twinTile.status() === 200 && twinWidth === 512 && sharpDrawing.colours > 20,
        `a screen of two pixels per CSS pixel gets 512 px tiles, drawn (${twinTile.url()}, ${twinWidth} px)`);
  await sharp.close();

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
  if (panelScreenshot) {
    await page.click('#use-toggle');
    await page.mouse.move(300, 150);
    await page.screenshot({path: panelScreenshot});
  }
  watched(check);
});
