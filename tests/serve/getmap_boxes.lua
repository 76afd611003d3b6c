-- wrk script: GetMaps over a fixed list of boxes, layers and sizes, taken
-- in turn, the way a map page and desktop clients ask. Prints one line of
-- figures at the end for tests/serve/load_test.sh to read.
--
-- Arguments after wrk's `--`: a path prefix (e.g. /maps, for a service
-- behind a proxy), and `unique` to make every request's address new (so
-- that no cache on the way answers it).

local boxes = {
  -- layer, format, west, south, east, north, width, height
  {"map", "png", -12, 34, 32, 62, 1000, 760},
  {"aerial", "jpeg", 5, 44, 16, 50, 640, 333},
  {"hybrid", "png", -100, -40, 60, 70, 517, 401},
  {"map", "png", 0, 45, 45, 90, 256, 256},
  {"map", "png", 0, 0, 45, 45, 256, 256},
  {"map", "png", -45, 0, 0, 45, 256, 256},
  {"aerial", "jpeg", 0, 45, 45, 90, 256, 256},
  {"aerial", "jpeg", 45, 0, 90, 45, 256, 256},
  {"hybrid", "png", 90, -45, 135, 0, 256, 256},
  {"hybrid", "png", 135, 0, 180, 45, 256, 256},
  {"map", "png", 11.25, 45, 22.5, 56.25, 256, 256},
  {"map", "png", 5.625, 45, 11.25, 50.625, 256, 256},
  {"aerial", "jpeg", -5.625, 39.375, 0, 45, 256, 256},
  {"hybrid", "png", 22.5, 33.75, 33.75, 45, 256, 256},
  {"map", "png", -180, -85, 180, 85, 1024, 484},
  {"aerial", "jpeg", -180, -90, 0, 90, 512, 512},
  {"hybrid", "png", -30, 20, 50, 70, 800, 500},
  {"map", "png", 100.25, -10.5, 101, -10, 97, 64},
}

local counter = 0
local prefix = ""
local unique = false

local threads = 0
setup = function(thread)
  threads = threads + 1
  thread:set("thread_number", threads)
end

init = function(args)
  prefix = args[1] or ""
  unique = args[2] == "unique"
  if unique then
    counter = thread_number * 1000000000  -- each thread's addresses its own
  end
end

request = function()
  counter = counter + 1
  local b = boxes[(counter % #boxes) + 1]
  local path = prefix .. string.format(
    "/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=%s&STYLES=&FORMAT=image/%s&CRS=CRS:84" ..
    "&BBOX=%.10g,%.10g,%.10g,%.10g&WIDTH=%d&HEIGHT=%d",
    b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8])
  if unique then
    path = path .. "&REQUEST_NUMBER=" .. counter
  end
  return wrk.format("GET", path)
end

done = function(summary, latency, requests)
  local e = summary.errors
  local errors = e.connect + e.read + e.write + e.status + e.timeout
  io.write(string.format(
    "LOAD requests=%d seconds=%.1f rps=%.1f p50_ms=%.2f p90_ms=%.2f p99_ms=%.2f max_ms=%.2f errors=%d " ..
    "(connect %d, read %d, write %d, status %d, timeout %d)\n",
    summary.requests, summary.duration / 1e6, summary.requests / (summary.duration / 1e6),
    latency:percentile(50) / 1000, latency:percentile(90) / 1000, latency:percentile(99) / 1000,
    latency.max / 1000, errors, e.connect, e.read, e.write, e.status, e.timeout))
end
