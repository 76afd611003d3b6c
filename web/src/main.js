// The map page: the service's three layers in longitude/latitude
// (EPSG:4326) or in Web Mercator (EPSG:3857), as tiles of the XYZ door:
// 512 px tiles (@2x) on screens of more than one pixel per CSS pixel, in
// the format the browser's Accept header takes most (WebP where it takes
// it). A layer and view switcher, the data's credits, a scale, the
// cursor's position, and a "use this map" panel with the addresses other
// programs take. The view, layer and grid are kept in the address, so a
// link or a reload shows the same map. Every request is relative to the
// page, so the page works under any path prefix.
import 'ol/ol.css';
import './style.css';
import Map from 'ol/Map.js';
import View from 'ol/View.js';
import TileLayer from 'ol/layer/Tile.js';
import XYZ from 'ol/source/XYZ.js';
import WMSCapabilities from 'ol/format/WMSCapabilities.js';
import MousePosition from 'ol/control/MousePosition.js';
import ScaleLine from 'ol/control/ScaleLine.js';
import {defaults as defaultControls} from 'ol/control/defaults.js';
import {createXYZ} from 'ol/tilegrid.js';
import {format} from 'ol/coordinate.js';
import {fromLonLat, toLonLat} from 'ol/proj.js';

const LAYERS = ['map', 'aerial', 'hybrid'];
// The tiled world's edges: latitude 85.05 degrees, the Mercator square.
const COVERAGE_NORTH = 85.0511287798066;
const HALF_WORLD = 20037508.342789244;
// Metres per degree of longitude at the equator, and per screen pixel of
// 0.28 mm at scale 1: to turn scale denominators into resolutions.
const METRES_PER_DEGREE = (2 * Math.PI * 6378137) / 360;
const METRES_PER_PIXEL_AT_SCALE_1 = 0.00028;

// Each grid's tile matrix set: 256-pixel tiles, one (Web Mercator) or two
// (longitude/latitude) across the world at the first level, each level
// halving them.
const GRIDS = {
  4326: {projection: 'EPSG:4326', north: COVERAGE_NORTH, metresPerUnit: METRES_PER_DEGREE, set: 'WorldCRS84Quad',
    tiles: (maxZoom) => createXYZ({extent: [-180, -90, 180, 90], maxResolution: 180 / 256, maxZoom})},
  3857: {projection: 'EPSG:3857', north: HALF_WORLD, metresPerUnit: 1, set: 'WebMercatorQuad',
    tiles: (maxZoom) => createXYZ({extent: [-HALF_WORLD, -HALF_WORLD, HALF_WORLD, HALF_WORLD], maxZoom})},
};
// Screens of more pixels than CSS pixels get each tile's 512 px twin.
const HIDPI = window.devicePixelRatio > 1;

// The address holds grid, layer, zoom and centre: #grid=3857&layer=map&zoom=4&lon=10&lat=50.
function readAddress() {
  const fields = new URLSearchParams(window.location.hash.slice(1));
  const number = (name, low, high) => {
    const value = Number.parseFloat(fields.get(name));
    return Number.isFinite(value) && value >= low && value <= high ? value : undefined;
  };
  return {
    grid: fields.get('grid') === '3857' ? '3857' : '4326',
    layer: LAYERS.includes(fields.get('layer')) ? fields.get('layer') : 'map',
    zoom: number('zoom', 0, 30),
    lon: number('lon', -1e6, 1e6),
    lat: number('lat', -90, 90),
  };
}

function escapeHtml(text) {
  return String(text).replace(/[&<>"']/g, (c) => `&#${c.charCodeAt(0)};`);
}

function wrapLongitude(lon) {
  return ((((lon + 180) % 360) + 360) % 360) - 180;
}

async function fetchText(address) {
  const answer = await fetch(address);
  if (!answer.ok) throw new Error(`${address}: ${answer.status}`);
  return answer.text();
}

// The addresses another program takes for `layer`, absolute from the page's
// own: what the "use this map" panel offers for copying.
function serviceAddresses(layer) {
  const at = (path) => new URL(path, window.location.href).href;
  return {
    xyz: `${at(`tiles/${layer}/WebMercatorQuad/`)}{z}/{x}/{y}`,
    tilejson: at(`tiles/${layer}/WebMercatorQuad/tilejson.json`),
    wmts: at('wmts/1.0.0/WMTSCapabilities.xml'),
    wms: at('wms'),
  };
}

// The "use this map" panel: its button shows and hides it; each address
// has a button that copies it.
function setUpUsePanel(visibleLayer) {
  const panel = document.getElementById('use');
  document.getElementById('use-toggle').addEventListener('click', () => panel.classList.toggle('hidden'));
  for (const button of panel.querySelectorAll('button[data-copy]')) {
    button.addEventListener('click', async () => {
      const field = document.getElementById(button.dataset.copy);
      field.select();
      try {
        await navigator.clipboard.writeText(field.value);
      } catch {
        document.execCommand('copy');  // pages not served over https have no clipboard API
      }
      button.textContent = 'Copied';
      window.setTimeout(() => (button.textContent = 'Copy'), 1500);
    });
  }
  const show = (layer) => {
    for (const [name, address] of Object.entries(serviceAddresses(layer))) {
      document.getElementById(`use-${name}`).value = address;
    }
  };
  show(visibleLayer);
  return show;
}

// What the capabilities say: each layer's credits and the finest scale the
// layers suit.
function readCapabilities(wmsText) {
  const capabilities = new WMSCapabilities().read(wmsText);
  const credits = {};
  let minScale = 0;
  for (const layer of capabilities.Capability.Layer.Layer || []) {
    const attribution = layer.Attribution;
    if (attribution && attribution.Title) {
      const link = attribution.OnlineResource;
      const title = escapeHtml(attribution.Title);
      credits[layer.Name] = link ? `<a href="${escapeHtml(link)}" target="_blank" rel="noopener">${title}</a>` : title;
    }
    minScale = Math.max(minScale, layer.MinScaleDenominator || 0);
  }
  return {credits, minScale};
}

// One layer's tiles in one grid, levels 0 to `maxZoom`; past it the
// deepest are enlarged. No extension: the server answers in the format the
// browser takes most.
function tileSource(name, grid, credits, maxZoom) {
  const {projection, set, tiles} = GRIDS[grid];
  return new XYZ({
    url: `tiles/${name}/${set}/{z}/{x}/{y}${HIDPI ? '@2x' : ''}`,  // relative: any path prefix works
    projection,
    tileGrid: tiles(maxZoom),
    tilePixelRatio: HIDPI ? 2 : 1,
    attributions: credits[name],
    wrapX: true,
    transition: 0,
  });
}

function makeView(grid, minScale, center, zoom) {
  const {projection, north, metresPerUnit} = GRIDS[grid];
  return new View({
    projection,
    center,
    zoom,
    // Endless across longitude 180; never beyond the tiled world's north
    // and south edges, so no empty band shows above or below the map.
    extent: [-Infinity, -north, Infinity, north],
    constrainOnlyCenter: false,
    smoothExtentConstraint: false,
    multiWorld: true,
    // One zoom past the tiles' finest and no further.
    minResolution: minScale > 0 ? (minScale * METRES_PER_PIXEL_AT_SCALE_1) / metresPerUnit : undefined,
  });
}

async function start() {
  const [wmsText, tileJsonText] = await Promise.all([
    fetchText('wms?SERVICE=WMS&REQUEST=GetCapabilities&VERSION=1.3.0'),
    fetchText('tiles/map/WebMercatorQuad/tilejson.json'),
  ]);
  const {credits, minScale} = readCapabilities(wmsText);
  const maxZoom = JSON.parse(tileJsonText).maxzoom;
  const address = readAddress();
  let grid = address.grid;
  let visible = address.layer;

  const position = document.getElementById('position');
  const map = new Map({
    target: 'map',
    controls: defaultControls({attributionOptions: {collapsible: false}}).extend([
      new ScaleLine({units: 'metric'}),
      new MousePosition({
        projection: 'EPSG:4326',
        target: position,
        coordinateFormat: (c) => format([wrapLongitude(c[0]), c[1]], 'lon {x}°, lat {y}°', 5),
      }),
    ]),
  });

  function layersFor(name) {
    return LAYERS.map(
      (layerName) =>
        new TileLayer({
          visible: layerName === name,
          properties: {name: layerName},
          source: tileSource(layerName, grid, credits, maxZoom),
        }),
    );
  }

  // Shows `nextGrid` at the given centre (longitude, latitude) and scale
  // (metres per pixel at the equator). The grids reach the world's edges at
  // different scales: where the scale would show beyond them, the view
  // comes closer rather than moving its centre.
  function showGrid(nextGrid, lonLat, metresPerPixel) {
    grid = nextGrid;
    const {north, metresPerUnit} = GRIDS[grid];
    const center = grid === '3857' ? fromLonLat(lonLat) : lonLat;
    const view = makeView(grid, minScale, center, undefined);
    const halfHeight = map.getSize()[1] / 2;
    const fits = (north - Math.abs(center[1])) / halfHeight;
    view.setResolution(view.getConstrainedResolution(Math.min(metresPerPixel / metresPerUnit, fits), -1));
    map.setView(view);
    map.setLayers(layersFor(visible));
  }

  function currentLonLat() {
    const center = map.getView().getCenter();
    return grid === '3857' ? toLonLat(center) : center;
  }

  let pending = 0;
  function remember() {
    // Once the view rests, not on every frame of a drag.
    window.clearTimeout(pending);
    pending = window.setTimeout(() => {
      const [lon, lat] = currentLonLat();
      const fields = new URLSearchParams({
        grid,
        layer: visible,
        zoom: map.getView().getZoom().toFixed(2),
        lon: wrapLongitude(lon).toFixed(5),
        lat: lat.toFixed(5),
      });
      window.history.replaceState(null, '', `#${fields}`);
    }, 150);
  }

  // The address's view, or Europe; its zoom is a level of the grid the
  // address names.
  const lonLat = [address.lon ?? 10, address.lat ?? 50];
  const startView = makeView(grid, minScale, grid === '3857' ? fromLonLat(lonLat) : lonLat, address.zoom ?? 4);
  map.setView(startView);
  map.setLayers(layersFor(visible));
  // After every change of the view, whatever made it: a view's own change
  // event tells only of animations and interactions starting and ending.
  map.on('moveend', remember);
  remember();

  const showAddresses = setUpUsePanel(visible);
  const layerForm = document.getElementById('layers');
  layerForm.querySelector(`input[value=${visible}]`).checked = true;
  layerForm.addEventListener('change', (event) => {
    visible = event.target.value;
    for (const layer of map.getLayers().getArray()) layer.setVisible(layer.get('name') === visible);
    showAddresses(visible);
    remember();
  });
  const gridForm = document.getElementById('grids');
  gridForm.querySelector(`input[value="${grid}"]`).checked = true;
  gridForm.addEventListener('change', (event) => {
    const metresPerPixel = map.getView().getResolution() * GRIDS[grid].metresPerUnit;
    showGrid(event.target.value, currentLonLat(), metresPerPixel);
    remember();
  });

  // The position panel shows only while the cursor is over the map.
  const viewport = map.getViewport();
  viewport.addEventListener('pointermove', () => position.classList.remove('hidden'));
  viewport.addEventListener('pointerleave', () => position.classList.add('hidden'));

  // For scripted checks of the page.
  window.zarvoMap = map;
}

start().catch((error) => {
  document.getElementById('map').textContent = `The map cannot start: ${error.message}`;
  console.error(error);
});
