-- wrk script: 512 x 512 GetMaps (WMS 1.1.1, EPSG:4326) over the boxes of
-- boxes.txt, taken in turn. Arguments after "--": the service path
-- (/wms or /mapserv), the format (png or jpeg) and the boxes file.
-- Prints one RESULT line for compare_with_mapserver.sh.

local boxes = {}
local path, format = "/wms", "png"
local counter = 0
local threads = 0

-- Threads start at different boxes, so that the list is covered evenly.
setup = function(thread)
  threads = threads + 1
  thread:set("start", threads * 5)
end

local function load_boxes(file)
  for line in io.lines(file) do
    local layer, w, s, e, n = line:match("^(%a+)%s+(%S+)%s+(%S+)%s+(%S+)%s+(%S+)")
    if layer then boxes[#boxes + 1] = {layer, w, s, e, n} end
  end
  assert(#boxes > 0, "no boxes in " .. file)
end

init = function(args)
  path, format = args[1] or path, args[2] or format
  load_boxes(args[3] or "boxes.txt")
  counter = start or 0
end

request = function()
  counter = counter + 1
  local b = boxes[(counter % #boxes) + 1]
  return wrk.format("GET", string.format(
    "%s?SERVICE=WMS&VERSION=1.1.1&REQUEST=GetMap&LAYERS=%s&STYLES=&SRS=EPSG:4326&BBOX=%s,%s,%s,%s" ..
    "&WIDTH=512&HEIGHT=512&FORMAT=image/%s", path, b[1], b[2], b[3], b[4], b[5], format))
end

done = function(summary, latency, requests)
  local e = summary.errors
  io.write(string.format("RESULT rps=%.1f p50_ms=%.2f p99_ms=%.2f requests=%d errors=%d\n",
    summary.requests / (summary.duration / 1e6), latency:percentile(50) / 1000,
    latency:percentile(99) / 1000, summary.requests,
    e.connect + e.read + e.write + e.status + e.timeout))
end
