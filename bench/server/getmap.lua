-- wrk script: GetMaps (WMS 1.1.1, EPSG:4326) over the boxes of boxes.txt,
-- taken in turn. Arguments after "--": the service path (/wms, /mapserv or
-- /service), the format (png, jpeg or webp), the boxes file and the image
-- side in pixels (512 unless given). Prints one RESULT line for
-- compare_servers.sh.
--
-- With SERVER_TIMING=1 in the environment it also reads each answer's
-- Server-Timing header and prints the mean of each of its metrics (ms) as
-- TIMING lines: where a server's time goes.

local boxes = {}
local path, format, side = "/wms", "png", "512"
local counter = 0
local threads = {}

-- Threads start at different boxes, so that the list is covered evenly.
setup = function(thread)
  threads[#threads + 1] = thread
  thread:set("start", #threads * 5)
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
  side = args[4] or side
  assert(side:match("^%d+$"), "the image side must be a number of pixels, not " .. side)
  counter = start or 0
end

request = function()
  counter = counter + 1
  local b = boxes[(counter % #boxes) + 1]
  return wrk.format("GET", string.format(
    "%s?SERVICE=WMS&VERSION=1.1.1&REQUEST=GetMap&LAYERS=%s&STYLES=&SRS=EPSG:4326&BBOX=%s,%s,%s,%s" ..
    "&WIDTH=%s&HEIGHT=%s&FORMAT=image/%s", path, b[1], b[2], b[3], b[4], b[5], side, side, format))
end

-- Defined only when asked for: wrk hands each answer's headers and body to
-- Lua only when a script has this function, which costs the client time.
if os.getenv("SERVER_TIMING") == "1" then
  timed, names, sums = 0, {}, {}
  response = function(status, headers, body)
    local value = headers["Server-Timing"] or headers["server-timing"]
    if status ~= 200 or not value then return end
    timed = timed + 1
    for name, duration in value:gmatch("([%w_-]+);dur=([%d.]+)") do
      if not sums[name] then
        sums[name] = 0
        names[#names + 1] = name
      end
      sums[name] = sums[name] + tonumber(duration)
    end
  end
end

done = function(summary, latency, requests)
  local e = summary.errors
  io.write(string.format(
    "RESULT rps=%.1f mean_ms=%.3f p50_ms=%.3f p90_ms=%.3f p99_ms=%.3f requests=%d errors=%d\n",
    summary.requests / (summary.duration / 1e6), latency.mean / 1000, latency:percentile(50) / 1000,
    latency:percentile(90) / 1000, latency:percentile(99) / 1000, summary.requests,
    e.connect + e.read + e.write + e.status + e.timeout))
  if os.getenv("SERVER_TIMING") ~= "1" then return end
  -- Each thread's sums, gathered by name.
  local timed_all, totals, order = 0, {}, {}
  for _, thread in ipairs(threads) do
    timed_all = timed_all + (thread:get("timed") or 0)
    local thread_names, thread_sums = thread:get("names") or {}, thread:get("sums") or {}
    for _, name in ipairs(thread_names) do
      if not totals[name] then
        totals[name] = 0
        order[#order + 1] = name
      end
      totals[name] = totals[name] + thread_sums[name]
    end
  end
  for _, name in ipairs(order) do
    io.write(string.format("TIMING %s=%.3f\n", name, totals[name] / math.max(timed_all, 1)))
  end
end
