// The map page: the service's three layers over its own WMS, in
// longitude/latitude (EPSG:4326), with a layer switcher, a scale and the
// cursor's position.
import 'ol/ol.css';
import './style.css';
import Map from 'ol/Map.js';
import View from 'ol/View.js';
import TileLayer from 'ol/layer/Tile.js';
import TileWMS from 'ol/source/TileWMS.js';
import MousePosition from 'ol/control/MousePosition.js';
import ScaleLine from 'ol/control/ScaleLine.js';
import {defaults as defaultControls} from 'ol/control/defaults.js';
import {createXYZ} from 'ol/tilegrid.js';
import {format} from 'ol/coordinate.js';

// What the tiles cover: the spherical-Mercator world.
const COVERAGE = [-180, -85.0511287798066, 180, 85.0511287798066];

// Two 256-pixel tiles span the world at the first level; each level halves.
const grid = createXYZ({extent: [-180, -90, 180, 90], maxResolution: 180 / 256, maxZoom: 20});

function wmsLayer(name) {
  return new TileLayer({
    extent: COVERAGE,
    visible: name === 'map',
    properties: {name},
    source: new TileWMS({
      url: 'wms',  // relative: the page works under any path prefix
      params: {LAYERS: name, STYLES: '', FORMAT: name === 'aerial' ? 'image/jpeg' : 'image/png', VERSION: '1.3.0'},
      projection: 'EPSG:4326',
      tileGrid: grid,
      transition: 0,
    }),
  });
}

const layers = ['map', 'aerial', 'hybrid'].map(wmsLayer);

const map = new Map({
  target: 'map',
  layers,
  controls: defaultControls().extend([
    new ScaleLine({units: 'metric'}),
    new MousePosition({
      projection: 'EPSG:4326',
      target: document.getElementById('position'),
      coordinateFormat: (c) => format(c, 'lon {x}°, lat {y}°', 5),
      placeholder: '&nbsp;',
    }),
  ]),
  view: new View({
    projection: 'EPSG:4326',
    center: [10, 50],
    zoom: 3,
    maxZoom: 14,
    extent: COVERAGE,
    constrainOnlyCenter: true,
  }),
});

function showLayer(name) {
  for (const layer of layers) layer.setVisible(layer.get('name') === name);
}

document.getElementById('layers').addEventListener('change', (event) => showLayer(event.target.value));

// For scripted checks of the page.
window.zarvoMap = map;
