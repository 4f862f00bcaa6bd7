-- Headless Ardour session: QUORVANE on an Inst track and a Vocal track, audio
-- processed by the engine and bounced through the plug-in. With no section
-- result and no Target LUFS view, no gain applies: the output must equal the
-- input sample for sample. Arguments come in through the environment.

local uid = os.getenv ("QVN_PLUGIN_UID")
local dir = os.getenv ("QVN_SESSION_DIR")
local rate = 48000
local len = rate * 2

local function fail (msg)
	print ("FAIL: " .. msg)
	os.exit (1)
end

AudioEngine:set_backend ("None (Dummy)", "", "")
AudioEngine:set_sample_rate (rate)
AudioEngine:set_buffer_size (256)
if AudioEngine:start (false) ~= 0 then fail ("audio engine did not start") end

if create_session (dir, "qvn-smoke", rate) == nil then fail ("session not created") end

-- Source material: two seconds of noise, bounced from a generator into a region.
local gen = Session:new_audio_track (2, 2, nil, 1, "Source", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true):front ()
local noise = ARDOUR.LuaAPI.new_luaproc (Session, "ACE Noise")
if noise:isnil () then fail ("noise generator missing") end
gen:add_processor_by_index (noise, 0, nil, true)
local source = gen:bounce_range (0, len, ARDOUR.InterThreadInfo (), noise, true, "noise")
if source:isnil () then fail ("source bounce failed") end
local sar = source:to_audioregion ()
sar:set_fade_in_active (false)
sar:set_fade_out_active (false)

local function samples (region, chan)
	local shm = ARDOUR.DSP.DspShm (len)
	shm:allocate (len)
	local buf = shm:to_float (0)
	local got = region:to_audioregion ():to_readable ():read (buf, 0, len, chan)
	if got ~= len then fail ("short read: " .. tostring (got)) end
	return buf:array ()
end

local tracks = Session:new_audio_track (2, 2, nil, 2, "Q", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true)
local roles = { 0.5, 1.0 } -- normalised "role": Inst, Vocal
local inserts = {}
local k = 0

for t in tracks:iter () do
	k = k + 1
	local track = t:to_track ()
	local pl = track:playlist ()
	pl:add_region (source, Temporal.timepos_t (0), 1, false, 0, 0, false)

	local p = ARDOUR.LuaAPI.new_plugin (Session, uid, ARDOUR.PluginType.VST3, "")
	if p:isnil () then fail ("QUORVANE not found (" .. uid .. ")") end
	if t:add_processor_by_index (p, 0, nil, true) ~= 0 then fail ("insert failed") end
	if not ARDOUR.LuaAPI.set_processor_param (p, 0, roles[k]) then fail ("role not set") end
	inserts[k] = { track = track, plugin = p }
end

for i, e in ipairs (inserts) do
	local v = ARDOUR.LuaAPI.get_processor_param (e.plugin, 0)
	print ("track " .. i .. " role parameter " .. tostring (v))
	if math.abs (v - roles[i]) > 1e-6 then fail ("role parameter reads " .. tostring (v)) end
end

-- Let the engine run the plug-ins in real time for a moment.
Session:request_locate (0, false, ARDOUR.LocateTransportDisposition.MustStop, ARDOUR.TransportRequestSource.TRS_UI)
Session:request_roll (ARDOUR.TransportRequestSource.TRS_UI)
ARDOUR.LuaAPI.usleep (1500000)
Session:request_stop (false, false, ARDOUR.TransportRequestSource.TRS_UI)
ARDOUR.LuaAPI.usleep (300000)
print ("transport ran to sample " .. tostring (Session:transport_sample ()))
if Session:transport_sample () <= 0 then fail ("transport did not move") end

local ref = { samples (source, 0), samples (source, 1) }

for i, e in ipairs (inserts) do
	local out = e.track:bounce_range (0, len, ARDOUR.InterThreadInfo (), e.plugin, true, "out" .. i)
	if out:isnil () then fail ("bounce through the plug-in failed") end
	for c = 0, 1 do
		local got = samples (out, c)
		local worst, at, energy = 0, -1, 0
		for n = 1, len do
			local d = math.abs (got[n] - ref[c + 1][n])
			energy = energy + got[n] * got[n]
			if d > worst then worst, at = d, n end
		end
		print (string.format ("track %d channel %d: max difference %g at %d, energy %g", i, c, worst, at, energy))
		if energy <= 0 then fail ("silent output") end
		if worst ~= 0 then fail ("output differs from input") end
	end
end

print ("PASS")
close_session ()
quit ()
