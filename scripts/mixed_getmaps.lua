-- wrk script: random GetMaps (64 to 2048 pixels a side, every layer, PNG
-- and JPEG, boxes anywhere on the tiles), for memory under sustained mixed
-- load. Seeded per thread, so that runs ask the same. Prints one line of
-- figures at the end.

local threads = 0

function setup(thread)
  thread:set("seed", threads)
  threads = threads + 1
end

function init(args)
  math.randomseed(24 + seed)
end

local layers = {"map", "aerial", "hybrid"}
local formats = {"png", "jpeg"}

request = function()
  local width, height = math.random(64, 2048), math.random(64, 2048)
  local span = 0.5 + math.random() * 90
  local tall = math.min(160, span * height / width)
  local west = -180 + math.random() * (360 - span)
  local south = -80 + math.random() * (160 - tall)
  local path = string.format(
    "/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=%s&STYLES=&FORMAT=image/%s&CRS=CRS:84" ..
    "&BBOX=%.6f,%.6f,%.6f,%.6f&WIDTH=%d&HEIGHT=%d",
    layers[math.random(1, 3)], formats[math.random(1, 2)], west, south, west + span, south + tall, width, height)
  return wrk.format("GET", path)
end

done = function(summary, latency, requests)
  local e = summary.errors
  io.write(string.format(
    "LOAD requests=%d seconds=%.1f rps=%.1f p50_ms=%.2f p99_ms=%.2f errors=%d (status %d, timeout %d)\n",
    summary.requests, summary.duration / 1e6, summary.requests / (summary.duration / 1e6),
    latency:percentile(50) / 1000, latency:percentile(99) / 1000,
    e.connect + e.read + e.write + e.status + e.timeout, e.status, e.timeout))
end
