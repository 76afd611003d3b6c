#!/usr/bin/python3
"""zarvo-serve deployed as docs/deployment.md says: two instances behind Debian's
nginx with the configuration in deploy/nginx-zarvo.conf (ports and cache
folder replaced), under /maps/, on loopback. nginx runs as a child of the
test, with its files in a scratch folder.

Clients through the proxy get what they get directly (OWSLib, GDAL's WMS
driver, the map page in chromium); a repeated GetMap is a cache hit; killing one instance
during load costs the clients no request.

Environment: ZARVO_SERVE, ZARVO_DEMO_TILES, ZARVO_SOURCE_DIR, ZARVO_WRK.
"""
import json
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from serve_harness import Nginx, ZarvoServe  # noqa: E402
from wms_clients_test import gdal_service  # noqa: E402

from osgeo import gdal  # noqa: E402
from owslib.wms import WebMapService  # noqa: E402

SERVE = os.environ["ZARVO_SERVE"]
TILES = os.environ["ZARVO_DEMO_TILES"]
SOURCE = os.environ["ZARVO_SOURCE_DIR"]
WRK = os.environ.get("ZARVO_WRK", "wrk")
GET_MAP = ("/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=map&STYLES=&FORMAT=image/png&CRS=CRS:84"
           "&BBOX=-12,34,32,62&WIDTH=440&HEIGHT=280")


def get(url, headers=None):
    request = urllib.request.Request(url, headers=headers or {})
    try:
        with urllib.request.urlopen(request, timeout=60) as r:
            return r.status, r.headers, r.read()
    except urllib.error.HTTPError as e:
        return e.code, e.headers, e.read()


def deployment_site(upstreams):
    """deploy/nginx-zarvo.conf pointed at the given instances."""
    with open(os.path.join(SOURCE, "deploy", "nginx-zarvo.conf")) as f:
        site = f.read()
    site = site.replace("listen 80;", "listen LISTEN;")
    site = site.replace("/var/cache/nginx/zarvo", "SCRATCH/cache")
    site = site.replace("127.0.0.1:8081", "127.0.0.1:%d" % upstreams[0])
    return site.replace("127.0.0.1:8082", "127.0.0.1:%d" % upstreams[1])


# The map page in Debian's chromium (playwright-core from the page's npm
# packages): everything it asks for, and the first map image it draws.
BROWSE = r"""
const {chromium} = require(process.env.WEB + '/node_modules/playwright-core');
(async () => {
  const browser = await chromium.launch({executablePath: '/usr/bin/chromium', headless: true,
                                         args: ['--no-sandbox', '--disable-gpu', '--disable-quic']});
  const page = await browser.newPage({viewport: {width: 800, height: 500}});
  const seen = [], errors = [];
  page.on('response', (r) => seen.push(r.status() + ' ' + r.url()));
  page.on('pageerror', (e) => errors.push(String(e)));
  const image = page.waitForResponse((r) => (r.headers()['content-type'] || '').startsWith('image/'),
                                     {timeout: 30000});
  await page.goto(process.env.PAGE, {waitUntil: 'load', timeout: 30000});
  const first = await image;
  console.log(JSON.stringify({image: first.status() + ' ' + first.url(), seen, errors}));
  await browser.close();
})().catch((e) => { console.error(String(e)); process.exit(1); });
"""


def start_wrk(url, seconds, *script_args):
    """wrk with the load list of the load test, started; its LOAD line comes from load_figures."""
    return subprocess.Popen([WRK, "-t2", "-c16", "-d%ds" % seconds, "--timeout", "20s", "-s",
                             os.path.join(SOURCE, "tests", "serve", "getmap_boxes.lua"), url, "--", *script_args],
                            stdout=subprocess.PIPE, text=True)


def load_figures(process, seconds):
    out = process.communicate(timeout=seconds + 60)[0]
    return re.search(r"^LOAD .*$", out, re.M).group(0)


class BehindNginx(unittest.TestCase):
    def setUp(self):
        self.servers = [ZarvoServe(SERVE, TILES, "--trust-proxy").__enter__() for _ in range(2)]
        self.nginx = Nginx(deployment_site([s.port for s in self.servers])).__enter__()
        self.maps = self.nginx.base + "/maps"

    def tearDown(self):
        self.nginx.__exit__(None, None, None)
        for server in self.servers:
            server.__exit__(None, None, None)

    def test_clients_through_the_prefix_get_what_they_get_directly(self):
        status, _, body = get(self.maps + "/wms?SERVICE=WMS&REQUEST=GetCapabilities")
        self.assertEqual(status, 200)
        ns = {"w": "http://www.opengis.net/wms", "x": "http://www.w3.org/1999/xlink"}
        for resource in ET.fromstring(body).iterfind(".//w:OnlineResource", ns):
            self.assertEqual(resource.get("{http://www.w3.org/1999/xlink}href"), self.maps + "/wms?")

        direct = self.servers[0].get(GET_MAP)[3]
        wms = WebMapService(self.maps + "/wms", version="1.3.0", timeout=30)
        image = wms.getmap(layers=["map"], styles=[""], srs="CRS:84", bbox=(-12, 34, 32, 62), size=(440, 280),
                           format="image/png")
        self.assertEqual(image.read(), direct, "OWSLib through the proxy")

        dataset = gdal.Open(gdal_service(self.maps, "1.3.0", "CRS:84", "map", -12.0, 34.0, 32.0, 62.0, 440, 280))
        with tempfile.TemporaryDirectory() as scratch:
            path = os.path.join(scratch, "direct.png")
            with open(path, "wb") as f:
                f.write(direct)
            self.assertEqual(dataset.ReadRaster(), gdal.Open(path).ReadRaster(), "GDAL through the proxy")

        if (os.environ.get("ZARVO_PAGE_BUILT") == "1" and os.path.exists("/usr/bin/chromium")
                and os.path.isdir(os.path.join(SOURCE, "web", "node_modules"))):
            browsed = subprocess.run(["node", "-e", BROWSE], capture_output=True, text=True, timeout=90,
                                     env=dict(os.environ, WEB=os.path.join(SOURCE, "web"), PAGE=self.maps + "/"))
            self.assertEqual(browsed.returncode, 0, browsed.stderr)
            seen = json.loads(browsed.stdout)
            self.assertEqual(seen["errors"], [])
            self.assertRegex(seen["image"], "^200 " + re.escape(self.maps + "/"))
            for answer in seen["seen"]:
                self.assertRegex(answer, "^[23]0[0-9] (" + re.escape(self.maps + "/") + "|data:)",
                                 "the page left its prefix")

    def test_a_repeated_getmap_is_a_cache_hit_with_the_same_bytes(self):
        direct = self.servers[1].get(GET_MAP)[3]
        seen = []
        for _ in range(2):
            status, headers, body = get(self.maps + GET_MAP)
            self.assertEqual(status, 200)
            self.assertEqual(body, direct)
            seen.append(headers["X-Cache-Status"])
        self.assertEqual(seen, ["MISS", "HIT"])

    def test_killing_an_instance_under_load_fails_no_request(self):
        load = start_wrk(self.nginx.base, 12, "/maps", "unique")
        # Well into the run, while requests are on both instances.
        time.sleep(4)
        before = self.servers[1].stats()["dataRequests"]
        self.servers[0].process.kill()
        figures = load_figures(load, 12)
        print(figures)
        self.assertRegex(figures, r" errors=0 ", "requests failed when an instance died")
        self.assertGreater(self.servers[1].stats()["dataRequests"], before, "the other instance took over")


if __name__ == "__main__":
    unittest.main(verbosity=2)
